#pragma once

#include "ort/ort_owner.hpp"
#include "ort/scrfd_decoding.hpp"

#include <opencv2/core/mat.hpp>

#include <cstdint>
#include <string>
#include <vector>

namespace veilcam {

// Where the session runs: DirectML is what the plug-in offers on a GPU; the
// runtime's CPU provider runs the same model where there is no DirectML
// (tests, benchmarks, the video tool).
enum class ScrfdProvider { DirectML, Cpu };

// The SCRFD-500M face detector in one ONNX Runtime session.
class ScrfdDetector {
  public:
    // Throws std::runtime_error or Ort::Exception saying why the session
    // cannot be had; nothing is left behind then.
    ScrfdDetector(const std::string& model_path, int32_t device_index,
                  ScrfdProvider provider = ScrfdProvider::DirectML);
    ScrfdDetector(const ScrfdDetector&) = delete;
    ScrfdDetector& operator=(const ScrfdDetector&) = delete;

    // Faces in `image` (8-bit BGR, at most 640 on either side), best first,
    // in the image's pixels. The list is rewritten by the next call.
    const std::vector<cv::Rect>& detect(const cv::Mat& image, float score_threshold,
                                        int32_t max_faces);

  private:
    void fill_input(const cv::Mat& image);

    OrtSessionOwner session;
    std::string input_name;
    std::vector<std::string> output_names;
    std::vector<const char*> output_name_ptrs;
    std::vector<float> input_tensor;
    std::vector<ScrfdCandidate> candidates;
    std::vector<cv::Rect> faces;
};

} // namespace veilcam
