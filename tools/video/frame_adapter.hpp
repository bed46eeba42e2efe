#pragma once

#include "tools/video/ffmpeg_owners.hpp"

#include <obs.h>

namespace veilcam::video {

// The host format a decoded frame is handed to the filter in, or
// VIDEO_FORMAT_NONE when it must be converted to I420 first.
video_format host_format(AVPixelFormat format);

// Points a host frame at the planes of `frame` (no copy).
void wrap_frame(AVFrame& frame, video_format format, obs_source_frame& out);

} // namespace veilcam::video
