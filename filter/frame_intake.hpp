#pragma once

#include <obs.h>
#include <opencv2/core/mat.hpp>

namespace veilcam {

struct FilterInstance;

// Fills the instance's BGR working image from the frame and returns a header
// of it; empty when the frame has no pixels.
cv::Mat make_working_image(FilterInstance& instance, const obs_source_frame* frame);

} // namespace veilcam
