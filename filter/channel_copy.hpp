#pragma once

#include <opencv2/core.hpp>

namespace veilcam {

// cv::extractChannel, in a loop the compiler vectorises for 8-bit images of
// two or four channels (packed YUV's luma), where OpenCV's own took most of a
// 2x detection image.
void extract_channel(const cv::Mat& image, int channel, cv::Mat& plane);

} // namespace veilcam
