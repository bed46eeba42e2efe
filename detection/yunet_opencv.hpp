#pragma once

#include "detection/face_model.hpp"

#include <opencv2/objdetect/face.hpp>

#include <string>
#include <vector>

namespace veilcam {

// YuNet through OpenCV's cv::FaceDetectorYN: the default detector, needing
// nothing but OpenCV.
class YunetOpencvDetector : public FaceModel {
  public:
    // Throws cv::Exception or std::runtime_error when the model cannot be loaded.
    YunetOpencvDetector(const std::string& model_path, float confidence);

    const std::vector<FoundFace>& detect(const cv::Mat& image, float confidence,
                                         int32_t limit) override;
    int largest_side() const override;

  private:
    cv::Ptr<cv::FaceDetectorYN> yunet;
    cv::Mat grey_as_bgr; // OpenCV's YuNet takes three channels
    cv::Mat rows;        // one face a row, as OpenCV gives them
    std::vector<FoundFace> faces;
};

} // namespace veilcam
