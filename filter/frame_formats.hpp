#pragma once

#include <obs.h>
#include <opencv2/core/mat.hpp>

namespace veilcam {

// How the filter reads one of the eleven frame formats it accepts.
struct FrameFormat {
    int plane0_type;     // OpenCV type that plane 0 is wrapped as
    int to_bgr;          // cv::cvtColor code to the BGR working image; -1: copied as is
    int bytes_per_pixel; // of plane 0 for the packed routine; 0 for planar formats
    // Shrink plane 0 before converting it for detection: the same picture,
    // for less work where plane 0 has no more channels than the BGR image.
    bool shrinks_before_conversion;
};

// Null for every format the filter leaves alone.
const FrameFormat* frame_format(video_format format);

// Plane 0 of `frame` as the format's OpenCV image, sharing the frame's bytes.
cv::Mat wrap_plane0(const obs_source_frame& frame, const FrameFormat& format);

// `plane` (as wrapped, or shrunk) converted into the 8-bit BGR `bgr`.
void convert_to_bgr(const cv::Mat& plane, const FrameFormat& format, cv::Mat& bgr);

} // namespace veilcam
