#pragma once

#include "filter/detection_image.hpp"
#include "filter/frame_formats.hpp"

#include <obs.h>

namespace veilcam {

// True when the format's detection image is grey although the frame holds
// colour: planar YUV, and YUV packed with alpha.
bool detects_colour_as_grey(const FrameFormat& format);

// `images.detection`, the grey detection image of `area` of such a frame, in
// colour in `images.colour`: the chroma brought to its size and joined with
// its luma.
void colour_detection_image(const obs_source_frame& frame, const FrameFormat& format,
                            const cv::Rect& area, DetectionImages& images);

} // namespace veilcam
