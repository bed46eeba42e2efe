#pragma once

#include "detection/face_key_points.hpp"

#include <opencv2/core/mat.hpp>

namespace veilcam {

// Lays out the face at `points` of `image` (8-bit BGR) in `crop` as the face
// descriptor was trained: turned, scaled and moved (never sheared) so that
// its key points fall as near as they can to where an upright face's lie in
// a 150 x 150 chip with a quarter of the face's size around it.
void align_face(const cv::Mat& image, const FaceKeyPoints& points, cv::Mat& crop);

} // namespace veilcam
