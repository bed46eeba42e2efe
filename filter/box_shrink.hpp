#pragma once

#include "filter/frame_formats.hpp"

#include <obs.h>
#include <opencv2/core/mat.hpp>

#include <cstdint>
#include <vector>

// Frames shrunk by a whole factor straight from their bytes, before anything
// is converted: the detector needs a picture a few times smaller than the
// frame, and converting or unpacking the whole frame first costs several
// times more (packed frames: several channels to a pixel, or 10-bit
// packing). Planes of samples are shrunk this way too: OpenCV's area shrink by
// three or more takes each pixel through a table of offsets, several times
// slower than summing whole rows.
namespace veilcam {

// The largest factor shrunk this way: up to twice as many rows of 10-bit
// samples are summed in 16 bits.
inline constexpr int kMostBoxShrink = 32;

// Kept between detection frames.
struct BoxShrinkRows {
    std::vector<uint16_t> sums;      // a band of rows summed, sample by sample
    std::vector<uint32_t> wide_sums; // the same for 16-bit samples
    std::vector<uint16_t> totals;    // blocks summed straight from the frame
};

// Whether box_shrink halves a format's frames faster than OpenCV does:
// packed 10-bit words, which OpenCV cannot read, 16-bit samples of one
// channel, halved straight to 8 bits, the luma of packed 4:2:2 and AYUV,
// read where it lies, and RGB, halved straight to BGR. OpenCV halves
// planes of bytes faster.
bool halves_straight(const FrameFormat& format);

// `area` of plane 0 (starting on an even pixel) shrunk by `factor` each way
// to `size` (the area's size over the factor, rounded either way) into
// `shrunk`, each pixel the mean of the pixels it covers at 8 bits: luma for
// YUV, BGR for RGB.
void box_shrink(const obs_source_frame& frame, const FrameFormat& format, const cv::Rect& area,
                int factor, cv::Size size, BoxShrinkRows& rows, cv::Mat& shrunk);

} // namespace veilcam
