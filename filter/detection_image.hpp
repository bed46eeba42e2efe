#pragma once

#include "filter/box_shrink.hpp"
#include "filter/detection_colour.hpp"
#include "filter/frame_formats.hpp"

#include <obs.h>
#include <opencv2/core/mat.hpp>

namespace veilcam {

// Kept between detection frames, so that making the detection image
// allocates nothing once the frames keep their size.
struct DetectionImages {
    cv::Mat unpacked; // plane 0 unpacked from 10-bit packing
    cv::Mat luma;     // the luma channel of a packed plane 0
    cv::Mat shrunk;   // plane 0 shrunk, before its conversion
    BoxShrinkRows box_rows;
    cv::Mat eight_bit; // samples of more than 8 bits brought to 8
    cv::Mat working;   // the whole frame at 8 bits, grey or BGR
    cv::Mat detection; // the frame shrunk, grey or BGR as the format is detected
    // The detection image in colour where it is grey but the frame is not.
    ColourImages colour;
};

// The whole frame as 8-bit grey or BGR (as the format is detected) in
// `images.working`.
void make_working_image(const obs_source_frame& frame, const FrameFormat& format,
                        DetectionImages& images);

// `area` of the working image scaled by `scale` (copied when scale is 1), in
// colour where `colour` asks for it and the frame has any, upright when the
// frame is flipped: what the detector gets, one of `images`. Areas start on
// even pixels, where chroma and pixel pairs begin.
cv::Mat& make_detection_image(const obs_source_frame& frame, const FrameFormat& format,
                              const cv::Rect& area, double scale, bool colour,
                              DetectionImages& images);

} // namespace veilcam
