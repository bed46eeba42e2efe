#pragma once

#include "tracking/box_geometry.hpp"

#include <opencv2/core/types.hpp>

#include <array>
#include <cstdint>

namespace veilcam {

// A frame's levels at a fixed grid of points, whatever the frame's size: a
// few thousand reads, enough to see where the picture moved.
struct LevelGrid {
    static constexpr int kColumns = 128;
    static constexpr int kRows = 72;
    // Levels past the last row's end that a row's comparison may read.
    static constexpr int kReadPast = 15;
    std::array<uint8_t, kColumns * kRows + kReadPast> levels{};
    cv::Size frame; // in pixels; empty before the first frame

    uint8_t at(int x, int y) const { return levels[y * kColumns + x]; }
    // Frame pixels from one grid point to the next.
    cv::Point2f pitch() const {
        return {static_cast<float>(frame.width) / kColumns,
                static_cast<float>(frame.height) / kRows};
    }
};

// How the picture moved between two frames (a camera pan and zoom): a point
// p of the earlier frame lies at centre + scale * (p - centre) + shift in the
// later one, in frame pixels.
struct CameraMotion {
    cv::Point2f shift;
    float scale = 1.0f;
    cv::Point2f centre;

    cv::Point2f apply(cv::Point2f p) const { return centre + (p - centre) * scale + shift; }
    cv::Rect2f apply(const cv::Rect2f& box) const {
        const cv::Point2f middle = box_middle(box);
        return moved_box(box, apply(middle) - middle, scale);
    }
};

// The pan and zoom that best explains how the blocks of `before` moved to
// `now`; blocks that moved otherwise (people) are left out. No motion when
// the two grids are of different frames sizes or too flat to tell.
CameraMotion measure_camera_motion(const LevelGrid& before, const LevelGrid& now);

// Where the picture inside `area` of `before` (frame pixels) went in `now`:
// its shift, looked for within `reach` pixels of `guess`. False where the
// area spans too few grid points, shows too little to follow, or matches
// nowhere clearly.
bool measure_shift(const LevelGrid& before, const LevelGrid& now, const cv::Rect2f& area,
                   cv::Point2f guess, float reach, cv::Point2f& shift);

} // namespace veilcam
