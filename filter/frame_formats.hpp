#pragma once

#include <obs.h>

namespace veilcam {

// How the filter reads one of the eleven frame formats it accepts.
struct FrameFormat {
    int plane0_type;     // OpenCV type that plane 0 is wrapped as
    int to_bgr;          // cv::cvtColor code to the BGR working image; -1: copied as is
    int bytes_per_pixel; // of plane 0 for the packed routine; 0 for planar formats
};

// Null for every format the filter leaves alone.
const FrameFormat* frame_format(video_format format);

} // namespace veilcam
