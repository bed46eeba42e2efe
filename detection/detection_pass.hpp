#pragma once

#include "detection/face_model.hpp"
#include "detection/failure_log.hpp"
#include "settings/filter_settings.hpp"
#include "tracking/face_tracker.hpp"

#include <opencv2/core/mat.hpp>

#include <array>
#include <vector>

namespace veilcam {

// How a detector run's image is turned from the upright picture: mirrored
// left to right, or turned a quarter clockwise or counter-clockwise.
enum class ViewTurn : uint8_t { upright, mirrored, clockwise, counter_clockwise };

// What a detector run searches: a part of the upright picture whose top
// left corner is `origin` (in frame pixels), shrunk by `scale`.
struct DetectionView {
    cv::Mat image;
    double scale = 1.0;
    cv::Point origin;
};

// The edges of the picture each pass searches again in a strip with its
// mirror image beyond the edge, where half a face is found whole.
enum class Edge : uint8_t { left, right, bottom };
inline constexpr std::array<Edge, 3> kSearchedEdges{Edge::left, Edge::right, Edge::bottom};

// What one filter's detection passes keep from pass to pass, so that a pass
// allocates nothing it can keep.
struct DetectionState {
    // Apart, since a mirrored and a turned image differ in shape.
    cv::Mat mirror_image;
    cv::Mat turned_image;
    std::array<DetectionView, kSearchedEdges.size()> edges; // mirrored beyond the edge
    std::vector<FaceDetection> detections;
    std::vector<FaceDetection> raw_detections;
    int32_t profile_pass_counter = 0;
    uint32_t rolled_pass_counter = 0;
    // Where a face on its side was last found, and for how many more passes
    // to look there on every pass.
    ViewTurn rolled_turn = ViewTurn::clockwise;
    int32_t rolled_passes_left = 0;
    uint32_t tiles_searched = 0; // picks the next pass's tile
    FailureLog face_limit;
};

// The factor that takes a frame of `frame_size` to the detection image: the
// longer side at most `max_dimension` (and what the detector takes), never
// enlarged.
double detection_scale(const FaceModel& model, int32_t max_dimension, cv::Size frame_size);

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

// An image a detector searched: how it was turned from the upright picture,
// and its size as turned.
struct SearchedImage {
    ViewTurn turn = ViewTurn::upright;
    cv::Size size;
};

// Appends a detector's face (in the detection image) to `out` upright in
// frame pixels, unless its box is not a number, absurdly far out, or the face
// it holds is smaller than `minimum_face_size`.
void add_detector_box(const FoundFace& face, double scale, const SearchedImage& searched,
                      int32_t minimum_face_size, std::vector<FaceDetection>& out);

// Adds `face` to `list`, uniting its box with the first entry's that overlaps
// it by at least `threshold` (intersection over union) instead of appending
// it; the entry keeps its key points.
void merge_detection(std::vector<FaceDetection>& list, const FaceDetection& face, float threshold);

// A detector box in the searched image taken back upright to frame pixels.
cv::Rect map_to_frame(const cv::Rect& box, double scale, const SearchedImage& searched);

} // namespace veilcam
