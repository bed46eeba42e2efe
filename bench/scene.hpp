#pragma once

#include <opencv2/core.hpp>

#include <vector>

namespace veilcam::bench {

// A picture of `faces` faces cut from the labelled sample photos, laid out in
// a grid over a `size` frame, and the faces' boxes in it.
struct Scene {
    cv::Mat picture; // BGR
    std::vector<cv::Rect> faces;
};

Scene make_scene(cv::Size size, int faces);

} // namespace veilcam::bench
