#pragma once

#include <opencv2/core.hpp>

#include <string>
#include <vector>

namespace veilcam::test {

struct LabelledPhoto {
    std::string file;
    cv::Mat image; // BGR
    std::vector<cv::Rect> faces;
};

// The models as the build lays them out; the any-size ones are its own.
inline std::string yunet_model() {
    return VEILCAM_MODELS_DIR "/face_detection_yunet_2023mar.onnx";
}
inline std::string scrfd_model() {
    return VEILCAM_MODELS_DIR "/det_500m.onnx";
}
inline std::string yunet_any_size_model() {
    return VEILCAM_MODELS_DIR "/face_detection_yunet_2023mar_any_size.onnx";
}
inline std::string scrfd_any_size_model() {
    return VEILCAM_MODELS_DIR "/det_500m_any_size.onnx";
}
inline std::string face_descriptor_model() {
    return VEILCAM_MODELS_DIR "/face_descriptor.onnx";
}

// A photo of ../shared/samples, as BGR; throws when it cannot be read.
cv::Mat load_sample(const std::string& file);
// The four photos of faces.csv with their labelled faces.
const std::vector<LabelledPhoto>& labelled_photos();

// The photo resized to `size`, its labelled faces along with it.
LabelledPhoto scaled(const LabelledPhoto& photo, cv::Size size);

// The mean step between horizontal neighbours in the grey of a BGR picture
// inside `r`: how much detail a region shows.
double grey_detail(const cv::Mat& bgr, const cv::Rect& r);

// Whether a face shows in a copy that is not bit-exact (a rendered or
// encoded picture, BGR): the face, or any half of it (left, right, top or
// bottom), keeps more than half the detail it had in `before`. A face half
// uncovered keeps nearly all of one half.
bool face_shows(const cv::Mat& before, const cv::Mat& after, const cv::Rect& face);

// How many labels some box overlaps with an IoU of at least `min_iou`.
int labels_found(const std::vector<cv::Rect>& labels, const std::vector<cv::Rect>& boxes,
                 float min_iou = 0.3f);

} // namespace veilcam::test
