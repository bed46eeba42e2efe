#pragma once

#include "filter/frame_formats.hpp"

#include <obs.h>
#include <opencv2/core/mat.hpp>

#include <array>

namespace veilcam {

// True when the format's detection image is grey although the frame holds
// colour: YUV, planar or packed.
bool detects_colour_as_grey(const FrameFormat& format);

// Kept between detection frames: the chroma at the detection image's size,
// the YUV image joined from both, and the colour image made from it.
struct ColourImages {
    std::array<cv::Mat, 2> chroma;
    cv::Mat unpacked, pair_chroma, resized, yuv, colour;
};

// `grey`, the detection image of `area` of such a frame, in colour in
// `images.colour`: the chroma brought to its size and joined with its luma.
void colour_detection_image(const obs_source_frame& frame, const FrameFormat& format,
                            const cv::Rect& area, const cv::Mat& grey, ColourImages& images);

} // namespace veilcam
