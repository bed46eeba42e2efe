#pragma once

#include "filter/frame_formats.hpp"

#include <obs.h>
#include <opencv2/core.hpp>

#include <array>
#include <cstdint>
#include <string>
#include <vector>

namespace veilcam::test {

struct PlaneShape {
    int width = 0; // pixels
    int height = 0;
    int bytes_per_pixel = 0;
};

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

    // One plane as an image of bytes (width * bytes_per_pixel wide), sharing the storage.
    cv::Mat plane_bytes(int plane) const;
};

TestFrame make_frame(const cv::Mat& bgr, video_format format, int padding = 24);

// A plane rectangle that surely holds everything the filter may change in
// that plane for a frame region `r`.
cv::Rect plane_rect(const TestFrame& frame, int plane, const cv::Rect& r);

// Mean absolute difference between horizontally neighbouring samples of the
// same channel inside `r` of a plane: how much detail the region shows.
double detail(const TestFrame& frame, int plane, const cv::Rect& r);

// Byte positions of a plane that differ between two frames, outside the given
// frame regions (padding bytes at the end of rows included).
int changed_bytes_outside(const TestFrame& before, const TestFrame& after, int plane,
                          const std::vector<cv::Rect>& regions);

} // namespace veilcam::test
