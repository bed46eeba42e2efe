#pragma once

#include "ort/face_model.hpp"
#include "ort/ort_session.hpp"
#include "ort/yunet_decoding.hpp"

#include <array>
#include <string>
#include <vector>

namespace veilcam {

// YuNet on ONNX Runtime's CPU provider, from the copy of the model whose
// input size is open: the frame keeps its aspect ratio, and the network runs
// several times faster than through OpenCV.
class YunetOrtDetector : public FaceModel {
  public:
    // Throws std::runtime_error or Ort::Exception saying why the session
    // cannot be had.
    explicit YunetOrtDetector(const std::string& model_path);
    YunetOrtDetector(const YunetOrtDetector&) = delete;
    YunetOrtDetector& operator=(const YunetOrtDetector&) = delete;

    const std::vector<cv::Rect2f>& detect(const cv::Mat& image, float confidence,
                                          int32_t limit) override;
    int largest_side() const override;

  private:
    static constexpr size_t kOutputCount = 9; // class, objectness and box of three strides

    // Input and outputs for inputs of `padded` size, made again only when it changes.
    void bind(cv::Size padded);

    OrtSessionOwner session;
    std::string input_name;
    std::array<std::string, kOutputCount> output_names;
    std::array<const char*, kOutputCount> output_name_ptrs{};
    OrtMemoryInfoOwner memory;
    cv::Size bound;
    cv::Size filled; // the image size the input holds
    cv::Mat as_float;
    std::vector<float> input;
    std::array<std::vector<float>, kOutputCount> output_data;
    OrtValueOwner input_value;
    std::array<OrtValueOwner, kOutputCount> output_values;
    YunetCandidates candidates;
    std::vector<cv::Rect2f> faces;
};

} // namespace veilcam
