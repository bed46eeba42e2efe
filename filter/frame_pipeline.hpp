#pragma once

#include "filter/frame_formats.hpp"

#include <obs.h>
#include <opencv2/core/mat.hpp>

namespace veilcam {

// The whole frame as 8-bit BGR in `working`.
void make_working_image(const obs_source_frame& frame, const FrameFormat& format, cv::Mat& working);

// The frame as 8-bit BGR shrunk by `scale` (copied when scale is 1) in
// `detection`; `plane` and `working` are the scratch images on the way.
void make_detection_image(const obs_source_frame& frame, const FrameFormat& format, double scale,
                          cv::Mat& plane, cv::Mat& working, cv::Mat& detection);

} // namespace veilcam
