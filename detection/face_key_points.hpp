#pragma once

#include <opencv2/core/types.hpp>

#include <array>

namespace veilcam {

// Five key points of a face as both detectors give them: the eye, then the
// other eye, the tip of the nose, the mouth's corners, each pair in the
// picture's left-to-right order.
using FaceKeyPoints = std::array<cv::Point2f, 5>;

} // namespace veilcam
