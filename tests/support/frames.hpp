#pragma once

#include "filter/frame_formats.hpp"

#include <obs.h>
#include <opencv2/core.hpp>

#include <array>
#include <cstdint>
#include <string>
#include <vector>

namespace veilcam::test {

// Pixels that share bytes come in groups: one pixel for every format but
// V210, which packs six pixels into 16 bytes.
struct PlaneShape {
    int width = 0; // pixels
    int height = 0;
    int group_pixels = 1;
    int group_bytes = 0;
    int row_bytes() const { return (width + group_pixels - 1) / group_pixels * group_bytes; }
};

// A format that a later libobs may add, which this build cannot know.
constexpr auto kUnknownFormat = static_cast<video_format>(VIDEO_FORMAT_R10L + 1);

// A host frame that owns its planes, laid out as OBS lays them out, with each
// row followed by `padding` bytes that nothing may touch.
struct TestFrame {
    obs_source_frame frame{};
    std::array<std::vector<uint8_t>, 4> storage;
    std::array<PlaneShape, 4> shapes;
    int plane_count = 0;

    TestFrame() = default;
    TestFrame(const TestFrame& other);
    TestFrame& operator=(const TestFrame& other);

    cv::Size size() const {
        return {static_cast<int>(frame.width), static_cast<int>(frame.height)};
    }
    // One plane as an image of bytes (row_bytes() wide), sharing the storage.
    cv::Mat plane_bytes(int plane) const;
};

// The picture in `format`, made by FFmpeg's converter (V210 and R10L packed
// here from FFmpeg's 10-bit formats); alpha is a slow gradient, nearly opaque.
TestFrame make_frame(const cv::Mat& bgr, video_format format, int padding = 24);

// Component `component` (FFmpeg's order: Y, U, V, A or R, G, B, A) of the
// pixel at frame position (x, y), at its own bit depth; -1 where the format
// has no such component.
int sample_at(const TestFrame& frame, int component, int x, int y);

// Samples with bits set below the bits they hold (P010 keeps its ten on top).
int misplaced_bits(const TestFrame& frame);

// The bit depth of the format's components.
int sample_depth(video_format format);

// Whether the format holds RGB rather than YUV.
bool is_rgb(video_format format);

// Mean absolute difference between horizontal neighbours of the colour
// components that a plane holds, inside frame region `r`, on the 8-bit scale:
// how much detail the region shows.
double detail(const TestFrame& frame, int plane, const cv::Rect& r);

// The share of samples inside frame region `face` that came out as they went
// in, in the colour component (Y, U, V or R, G, B) that kept the most; 1 for
// a region outside the frame, where nothing can be judged.
double unchanged_share(const TestFrame& before, const TestFrame& after, const cv::Rect& face);

// How many of `faces` keep, from `before` to `after`, more than half their
// detail in plane 0 or more than a quarter of the edges inside them (a face
// half uncovered).
int faces_left_visible(const TestFrame& before, const TestFrame& after,
                       const std::vector<cv::Rect>& faces);

// Byte positions of a plane that differ between two frames, outside the given
// frame regions (padding bytes at the end of rows included).
int changed_bytes_outside(const TestFrame& before, const TestFrame& after, int plane,
                          const std::vector<cv::Rect>& regions);

} // namespace veilcam::test
