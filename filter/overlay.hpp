#pragma once

#include "filter/face_regions.hpp"
#include "filter/frame_formats.hpp"
#include "settings/filter_settings.hpp"

#include <obs.h>
#include <opencv2/core/mat.hpp>

#include <string>
#include <vector>

namespace veilcam {

// Kept between frames so that drawing allocates nothing.
struct OverlayScratch {
    cv::Mat strokes;  // how much of each frame pixel under a box and label is drawn
    cv::Mat cover;    // the same for each sample of one plane
    cv::Mat unpacked; // a plane's samples under them, unpacked from 10-bit packing
    std::string label;
};

// Outlines each face and writes "Face <id> (obscured|visible)" above it, so
// that the user can read the ids to list: green around a hidden face, orange
// around one shown, in every format; does nothing unless `show_boxes`.
void draw_overlay(obs_source_frame& frame, const FrameFormat& format,
                  const std::vector<FaceRegion>& faces, const FilterSettings& settings,
                  OverlayScratch& scratch);

} // namespace veilcam
