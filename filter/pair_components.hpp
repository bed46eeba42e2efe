#pragma once

#include <opencv2/core.hpp>

#include <array>

namespace veilcam {

enum class PairMove { split, join };

// Packed 4:2:2 pixels (`view`, two 8- or 16-bit channels, luma in
// `luma_channel`) taken apart into `luma` and the chroma of the even and of
// the odd pixels (`chroma`, of (cols + 1) / 2 and cols / 2 columns), or put
// back from them.
void move_pair_components(cv::Mat& view, int luma_channel, cv::Mat& luma,
                          std::array<cv::Mat, 2>& chroma, PairMove direction);

} // namespace veilcam
