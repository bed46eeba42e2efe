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

std::string sample_path(const std::string& file);
std::string model_path(const std::string& file);
std::string yunet_model();
std::string scrfd_model();

cv::Mat load_sample(const std::string& file);
// Any image file, as BGR; throws when it cannot be read.
cv::Mat load_sample_at(const std::string& path);
// The four photos of faces.csv with their labelled faces.
const std::vector<LabelledPhoto>& labelled_photos();

// How many labels some box overlaps with an IoU of at least `min_iou`.
int labels_found(const std::vector<cv::Rect>& labels, const std::vector<cv::Rect>& boxes,
                 float min_iou = 0.3f);

} // namespace veilcam::test
