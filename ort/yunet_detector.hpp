#pragma once

#include "detection/face_model.hpp"
#include "ort/bound_tensors.hpp"
#include "ort/ort_session.hpp"
#include "ort/yunet_decoding.hpp"

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

    const std::vector<FoundFace>& detect(const cv::Mat& image, float confidence,
                                         int32_t limit) override;
    int largest_side() const override;

  private:
    OrtSessionOwner session;
    BoundTensors tensors;
    YunetCandidates candidates;
    std::vector<FoundFace> faces;
};

} // namespace veilcam
