#pragma once

#include "tracking/face_tracker.hpp"

#include <opencv2/core/types.hpp>

#include <cstdint>
#include <vector>

namespace veilcam {

// A large frame shrunk to the detection size leaves its small faces too few
// pixels for the networks: at 640 pixels, a 24-pixel face of a 1920x1080
// frame is 8 pixels across. Each detection pass therefore also looks at one
// part of the frame, a tile, at a finer scale, the tiles in turn, so that
// every face of the minimum face size is seen closely every few passes at
// the cost of one more detector run on an image of the detection size.
struct DetectionTile {
    cv::Rect area;      // in frame pixels; empty when the whole picture is enough
    double scale = 0.0; // from frame pixels to the tile's image
    int count = 0;      // tiles in the frame
};

// Tile `index` (counted round) of a frame of `frame_size` whose whole picture
// is searched at `whole_scale`, for faces down to `minimum_face_size`.
DetectionTile detection_tile(cv::Size frame_size, double whole_scale, int32_t minimum_face_size,
                             uint32_t index);

// The shortest box side that the whole picture at `whole_scale` finds
// anywhere: smaller faces are found in their tile alone.
float smallest_box_found_whole(double whole_scale);

// Between visits of its tile, a small face that moves would walk out of
// where it was seen: each pass also looks, at the tile's scale, at an area
// of `tile`'s size around where the small face found longest ago is now,
// with the small faces near it. Empty when no small face of this shot lies
// outside `tile`.
cv::Rect follow_up_area(const std::vector<FaceTrack>& tracks, float smallest_box,
                        const DetectionTile& tile, cv::Size frame_size);

} // namespace veilcam
