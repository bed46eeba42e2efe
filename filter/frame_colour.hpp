#pragma once

#include "filter/frame_formats.hpp"

#include <obs.h>
#include <opencv2/core/matx.hpp>

#include <array>

namespace veilcam {

// A colour as one frame's samples hold it: a level for each component
// (indexed by `Component`) at the format's own depth. Alpha and padding are
// opaque.
using ComponentLevels = std::array<double, kComponentKinds>;

// `rgb` (red, green and blue, 0 to 255) in the components of `frame`: luma
// and chroma by the frame's own colour matrix, or by BT.709 at limited range
// where the frame brings none that can be inverted.
ComponentLevels frame_colour(const cv::Vec3d& rgb, const FrameFormat& format,
                             const obs_source_frame& frame);

// A colour as OBS's colour property stores it (0xAABBGGRR) as red, green
// and blue; its alpha is not used.
cv::Vec3d stored_colour_rgb(uint32_t stored);

} // namespace veilcam
