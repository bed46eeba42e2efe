#pragma once

#include "filter/frame_formats.hpp"
#include "tracking/frame_motion.hpp"

#include <obs.h>
#include <opencv2/core/types.hpp>

#include <array>
#include <cstdint>

namespace veilcam {

// A tiny grey picture of a frame: enough to tell a cut from motion.
struct Thumbnail {
    static constexpr int kColumns = 32;
    static constexpr int kRows = 18;
    std::array<uint8_t, kColumns * kRows> cells{};
    uint32_t width = 0, height = 0; // of the frame; 0 before the first
    LevelGrid grid;                 // the levels the cells are the means of
};

// Fills `thumbnail` from a sparse grid of plane 0's pixels, each the mean of
// its samples: a few thousand reads whatever the frame's size.
void make_thumbnail(const obs_source_frame& frame, const FrameFormat& format, Thumbnail& thumbnail);

// Whether `now` shows another shot than `before`: a new size, or most of the
// picture changed at once, as motion between two frames never does, however
// dim or flat the pictures. A camera move of up to a cell is laid back first.
bool is_new_shot(const Thumbnail& before, const Thumbnail& now);

} // namespace veilcam
