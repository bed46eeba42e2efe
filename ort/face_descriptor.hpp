#pragma once

#include "ort/ort_owner.hpp"
#include "tracking/face_description.hpp"

#include <opencv2/core/mat.hpp>

#include <array>
#include <string>
#include <vector>

namespace veilcam {

float descriptor_distance(const FaceDescriptor& a, const FaceDescriptor& b);

// The face-descriptor network on ONNX Runtime's CPU provider, on the calling
// thread alone, into buffers of its own: nothing is allocated per face.
class FaceDescriptorNet {
  public:
    static constexpr int kSide = 150; // the aligned face's side

    // Throws std::runtime_error or Ort::Exception saying why the session
    // cannot be had.
    explicit FaceDescriptorNet(const std::string& model_path);

    // The descriptor of `face`, an 8-bit BGR crop of kSide x kSide laid out
    // by align_face.
    const FaceDescriptor& describe(const cv::Mat& face);

  private:
    OrtSessionOwner session;
    OrtMemoryInfoOwner memory;
    std::vector<float> input;
    FaceDescriptor output{};
    OrtValueOwner input_value, output_value;
};

} // namespace veilcam
