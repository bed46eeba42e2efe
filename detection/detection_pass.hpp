#pragma once

#include "detection/face_model.hpp"
#include "detection/failure_log.hpp"
#include "settings/filter_settings.hpp"
#include "tracking/face_tracker.hpp"

#include <opencv2/core/mat.hpp>

#include <array>
#include <vector>

namespace veilcam {

// What one filter's detection passes keep from pass to pass, so that a pass
// allocates nothing it can keep.
struct DetectionState {
    cv::Mat mirror_image;
    std::vector<FaceDetection> detections;
    std::vector<FaceDetection> raw_detections;
    int32_t profile_pass_counter = 0;
    uint32_t tiles_searched = 0; // picks the next pass's tile
    FailureLog face_limit;
};

// The factor that takes a frame of `frame_size` to the detection image: the
// longer side at most `max_dimension` (and what the detector takes), never
// enlarged.
double detection_scale(const FaceModel& model, int32_t max_dimension, cv::Size frame_size);

// What a detector run searches: a part of the upright picture whose top
// left corner is `origin` (in frame pixels), shrunk by `scale`.
struct DetectionView {
    cv::Mat image;
    double scale = 1.0;
    cv::Point origin;
};

// What one pass searches: the whole picture, and parts of it seen closer
// (this pass's tile, and where small faces were seen); a part whose image
// is empty is not searched.
struct PassViews {
    DetectionView whole;
    std::array<DetectionView, 2> closer;
};

// Finds the faces of one frame, in frame pixels, in the order the tracker
// relies on, into `state.detections`. Throws what the network throws.
void find_faces(FaceModel& model, DetectionState& state, const FilterSettings& settings,
                const PassViews& views, cv::Size frame_size);

// Appends a detector's face (in the detection image) to `out` in frame
// pixels, unless its box is not a number, absurdly far out, or the face it
// holds is smaller than `minimum_face_size`.
void add_detector_box(const FoundFace& face, double scale, int mirror_width,
                      int32_t minimum_face_size, std::vector<FaceDetection>& out);

// Adds `face` to `list`, uniting its box with the first entry's that overlaps
// it by at least `threshold` (intersection over union) instead of appending
// it; the entry keeps its key points.
void merge_detection(std::vector<FaceDetection>& list, const FaceDetection& face, float threshold);

// A detector box in the detection image taken back to frame pixels; with
// `mirror_width` > 0 the box was found in the left-right mirror of an image
// that wide.
cv::Rect map_to_frame(const cv::Rect& box, double scale, int mirror_width);

} // namespace veilcam
