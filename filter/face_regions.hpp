#pragma once

#include "filter/remembered_faces.hpp"
#include "settings/filter_settings.hpp"
#include "tracking/face_tracker.hpp"

#include <opencv2/core/types.hpp>

#include <cstdint>
#include <vector>

namespace veilcam {

// A followed face as one frame shows it: what obscuring hides and what the
// overlay outlines and labels are the same region and the same decision.
struct FaceRegion {
    cv::Rect region; // where the face may be, with its margin, cut to the frame
    // The oval inside `region` that is hidden, in frame pixels: it holds the
    // whole of where the face may be, and leaves the region's corners, which
    // show the picture around the face, as they are.
    cv::Rect2f oval;
    int face_side = 0; // the longer side of the face's box with its margin, whole
    uint64_t id = 0;
    bool hidden = true;
    bool outlined = true; // false for the previous shot's faces, hidden a pass or two yet
};

// A track's box widened by `padding_percent` on every side and cut to the
// frame: the region that is hidden and outlined.
cv::Rect padded_face_rect(const cv::Rect2f& box, float padding_percent, cv::Size frame);

// The regions of `tracks`, in the tracks' order (the longest-followed
// first), into `out`.
void list_face_regions(const std::vector<FaceTrack>& tracks, const FilterSettings& settings,
                       const RememberedFaces& remembered, cv::Size frame,
                       std::vector<FaceRegion>& out);

} // namespace veilcam
