#pragma once

#include <obs.h>
#include <opencv2/core/mat.hpp>

#include <array>
#include <cstdint>
#include <vector>

// Every frame format the filter knows, as one table: how its planes are laid
// out, how the detection image is made from it and how the overlay draws on
// it. Intake, obscuring, the overlay and the video tool all read this table.
namespace veilcam {

// How the samples sit in memory.
enum class Packing {
    Samples, // each sample in bytes of its own: 8 bits, or 16 little-endian
    V210,    // 4:2:2, three 10-bit samples to a 32-bit word, six pixels in four words
    R10L,    // a 32-bit word a pixel: 10-bit red, green and blue from the top bit down
};

// The planes as the filter works on them: the packed 10-bit layouts are
// unpacked into 16-bit samples first (V210 to chroma and luma a pixel, in
// UYVY's order; R10L to blue, green and red).
struct PlaneFormat {
    int x_shift = 0;  // the plane is (width + 2^x_shift - 1) >> x_shift pixels wide
    int y_shift = 0;  // and likewise high
    int channels = 1; // samples per pixel
};

struct SampleFormat {
    int bytes;           // 1, or 2 for samples of more than 8 bits
    int level_scale;     // an 8-bit level times this is the same level here
    int unused_low_bits; // samples that sit in the high bits keep these zero

    // The bits a sample may hold: what hiding or drawing writes is masked
    // with these, since a mean or a blend of samples has low bits again.
    uint16_t level_bits() const { return static_cast<uint16_t>(~((1u << unused_low_bits) - 1)); }
};

// What one channel of a plane holds. Packed 4:2:2 holds both chroma
// components in one channel, in turn: `UV` U at even pixels and V at odd
// ones, `VU` the other way round. `X` is a byte that holds nothing (BGRX).
enum class Component : uint8_t { None, Y, U, V, R, G, B, A, X, UV, VU };
inline constexpr size_t kComponentKinds = static_cast<size_t>(Component::VU) + 1;
using PlaneComponents = std::array<Component, 4>;

struct FrameFormat {
    video_format format;
    const char* name;
    // FFmpeg's names of the pixel formats laid out like this one.
    std::array<const char*, 2> ffmpeg_names;
    Packing packing;
    int plane_count;
    SampleFormat samples;
    std::array<PlaneFormat, 4> planes;
    // What each channel of each plane holds, as the filter works on it.
    std::array<PlaneComponents, 4> components;
    // The detection image: plane 0 at 8 bits converted to BGR with `to_bgr`
    // (RGB with alpha), or kept as it is (-1): BGR, or grey (the luma
    // channel where plane 0 holds more; YUV is detected in grey).
    int to_bgr;
};

const std::vector<FrameFormat>& frame_formats();

// Null for every format the filter does not know.
const FrameFormat* frame_format(video_format format);

// The size of one plane of a frame of `width` x `height`.
cv::Size plane_size(const FrameFormat& format, int plane, int width, int height);

// The samples of a plane that touch the frame region `r`: a subsampled plane
// rounds outwards, so that chroma covers whatever luma covers.
cv::Rect plane_region(const FrameFormat& format, int plane, const cv::Rect& r);

// The channel of `plane` that holds `component`; -1 where none does.
int channel_holding(const FrameFormat& format, int plane, Component component);

// The channel of plane 0 that holds luma where it holds more than luma
// (packed YUV); -1 for every other format.
int packed_luma_channel(const FrameFormat& format);

// The channel of `held` that holds the chroma of pixel pairs, U and V in
// turn (packed 4:2:2); -1 where none does.
int paired_chroma_channel(const PlaneComponents& held);

// Whether `plane` holds the chroma of pixel pairs in one channel.
bool alternates_chroma(const FrameFormat& format, int plane);

} // namespace veilcam
