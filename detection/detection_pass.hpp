#pragma once

#include "tracking/face_tracker.hpp"

#include <obs.h>

#include <vector>

namespace veilcam {

struct FilterInstance;

// Finds the faces of one frame, in frame pixels, in the order the tracker
// relies on. The list lives in the instance and is rewritten by the next pass;
// a failure yields an empty list (and a line in the log).
const std::vector<FaceDetection>& detect_faces(FilterInstance& instance,
                                               const obs_source_frame& frame);

// Adds `box` to `list`, uniting it with the first entry that overlaps it by at
// least `threshold` (intersection over union) instead of appending it.
void merge_detection(std::vector<FaceDetection>& list, const FaceDetection& box, float threshold);

// Fills the instance's detection image with the frame shrunk by `scale` (or
// copied when scale is 1); false when the frame has no pixels.
bool make_detection_image(FilterInstance& instance, const obs_source_frame& frame, double scale);

// A detector box in the detection image taken back to frame pixels; with
// `mirror_width` > 0 the box was found in the left-right mirror of an image
// that wide.
FaceDetection map_to_frame(const cv::Rect& box, double scale, int mirror_width);

} // namespace veilcam
