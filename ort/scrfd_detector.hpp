#pragma once

#include "detection/face_model.hpp"
#include "ort/bound_tensors.hpp"
#include "ort/ort_session.hpp"
#include "ort/scrfd_decoding.hpp"

#include <opencv2/core/mat.hpp>

#include <cstdint>
#include <string>
#include <vector>

namespace veilcam {

// The SCRFD-500M face detector in one ONNX Runtime session: on a DirectML
// GPU, or on the runtime's CPU provider (it finds more faces in a crowd than
// YuNet does).
class ScrfdDetector : public FaceModel {
  public:
    // Throws std::runtime_error or Ort::Exception saying why the session
    // cannot be had; nothing is left behind then.
    ScrfdDetector(const std::string& model_path, int32_t device_index,
                  OrtProvider provider = OrtProvider::DirectML);
    ScrfdDetector(const ScrfdDetector&) = delete;
    ScrfdDetector& operator=(const ScrfdDetector&) = delete;

    const std::vector<FoundFace>& detect(const cv::Mat& image, float score_threshold,
                                         int32_t max_faces) override;
    int largest_side() const override;
    // SCRFD misses faces in grey that it finds in colour; YuNet does not.
    bool wants_colour() const override { return true; }

  private:
    OrtProvider provider;
    OrtSessionOwner session;
    BoundTensors tensors;
    std::vector<ScrfdCandidate> candidates;
    std::vector<FoundFace> faces;
};

} // namespace veilcam
