#pragma once

#include <obs.h>
#include <opencv2/core/mat.hpp>

#include <array>
#include <vector>

// Every frame format the filter knows, as one table: how its planes are laid
// out, how the detection image is made from it and how the overlay draws on
// it. Intake, obscuring, the overlay and the video tool all read this table.
namespace veilcam {

struct PlaneFormat {
    int x_shift = 0;    // the plane is (width + 2^x_shift - 1) >> x_shift pixels wide
    int y_shift = 0;    // and likewise high
    int channels = 1;   // samples per pixel
    bool hidden = true; // false for alpha, which is left as it is
};

enum class OverlayStyle {
    Colour,     // outlines in colour on plane 0 (RGB formats)
    LumaPlane,  // outlines in the luma plane, chroma untouched
    PackedLuma, // outlines in the luma samples of packed YUV, chroma untouched
};

struct FrameFormat {
    video_format format;
    const char* name;
    // FFmpeg's names of the pixel formats laid out like this one.
    std::array<const char*, 2> ffmpeg_names;
    int plane_count;
    int sample_bytes; // 1; 2 for samples of more than 8 bits
    std::array<PlaneFormat, 4> planes;
    int luma_channel; // packed YUV: the channel of plane 0 that holds luma; else -1
    // The detection image: plane 0 converted to BGR with `to_bgr` (-1: copied
    // as it is).
    int to_bgr;
    // Shrink plane 0 before converting it for detection: the same picture,
    // for less work where plane 0 has no more channels than the BGR image.
    bool shrinks_before_conversion;
    OverlayStyle overlay;
};

const std::vector<FrameFormat>& frame_formats();

// Null for every format the filter does not know.
const FrameFormat* frame_format(video_format format);

// The size of one plane of a frame of `width` x `height`.
cv::Size plane_size(const FrameFormat& format, int plane, int width, int height);

// Plane `plane` of `frame` as an image of its pixels, sharing the frame's bytes.
cv::Mat wrap_plane(const obs_source_frame& frame, const FrameFormat& format, int plane);

// Plane 0 (as wrapped, or shrunk) converted into the 8-bit BGR `bgr`.
void convert_to_bgr(const cv::Mat& plane0, const FrameFormat& format, cv::Mat& bgr);

} // namespace veilcam
