#pragma once

#include <opencv2/core.hpp>

namespace veilcam {

// cv::extractChannel and cv::insertChannel, in loops the compiler
// vectorises for 8-bit images of two or four channels (packed YUV's luma,
// RGBA's and AYUV's alpha), where OpenCV's own took most of a 2x detection
// image and a third of hiding such a frame.
void extract_channel(const cv::Mat& image, int channel, cv::Mat& plane);
void insert_channel(const cv::Mat& plane, cv::Mat& image, int channel);

} // namespace veilcam
