#include "detection/detection_pass.hpp"

#include "tracking/box_geometry.hpp"

#include <opencv2/core.hpp>

#include <algorithm>
#include <cmath>

namespace veilcam {
namespace {

constexpr float kMergeThreshold = 0.35f;
constexpr int32_t kProfilePassMaxFaces = 2;
// Every fourth pass with few faces also looks at the mirror image.
constexpr int32_t kProfilePassPeriod = 4;

// Runs the detector on `image` and appends the faces it finds, in frame
// pixels and no smaller than `minimum_face_size`, to `out`.
void run_detector(FaceModel& model, const FilterSettings& s, const cv::Mat& image, double scale,
                  bool mirrored, std::vector<FaceDetection>& out) {
    out.clear();
    const int mirror_width = mirrored ? image.cols : 0;
    // As many as the network finds: the face limit is the pass's, and going
    // past it is said in the log.
    constexpr int32_t kMostCandidates = 1000;
    for (const FoundFace& face : model.detect(image, s.confidence, kMostCandidates)) {
        add_detector_box(face, scale, mirror_width, s.minimum_face_size, out);
    }
}

// Faces in profile are found more reliably in the mirror image; the second
// look is held to passes that found nothing or, now and then, few faces.
bool wants_profile_pass(DetectionState& state, const FilterSettings& s, size_t faces_found) {
    bool periodic = false;
    if (!s.crowd_mode) {
        state.profile_pass_counter =
            static_cast<int32_t>(static_cast<uint32_t>(state.profile_pass_counter) + 1u);
        periodic = state.profile_pass_counter % kProfilePassPeriod == 0 &&
                   faces_found <= static_cast<size_t>(kProfilePassMaxFaces);
    }
    return s.mirrored_profile_pass && (faces_found == 0 || periodic);
}

// Runs the detector on `view` (the mirror image of it with `mirrored`) and
// merges what it finds into the pass's list; a part seen closer adds only
// faces that the whole picture did not show.
void search_view(FaceModel& model, DetectionState& state, const FilterSettings& s,
                 const DetectionView& view, bool mirrored, bool closer,
                 const cv::Rect& frame_rect) {
    run_detector(model, s, mirrored ? state.mirror_image : view.image, view.scale, mirrored,
                 state.raw_detections);
    for (const FaceDetection& found : state.raw_detections) {
        FaceDetection face((found.box + view.origin) & frame_rect, found.points);
        for (cv::Point2f& point : face.points) {
            point += cv::Point2f(view.origin);
        }
        // A face the whole picture shows too keeps the whole picture's box:
        // it would otherwise change from pass to pass with the tile, and the
        // tracker take that for motion. Part of such a face, seen closer, is
        // no face of its own either.
        if (closer && std::any_of(state.detections.begin(), state.detections.end(),
                                  [&](const FaceDetection& d) {
                                      return box_iou(d.box, face.box) >= kMergeThreshold ||
                                             (d.box & face.box).area() * 2 >= face.box.area();
                                  })) {
            continue;
        }
        merge_detection(state.detections, face, kMergeThreshold);
    }
}

// Every run goes through the same list and the same merge: a face seen whole
// and closer too is one face.
void search_views(FaceModel& model, DetectionState& state, const FilterSettings& s,
                  const PassViews& views, const cv::Rect& frame_rect) {
    search_view(model, state, s, views.whole, false, false, frame_rect);
    if (wants_profile_pass(state, s, state.detections.size())) {
        cv::flip(views.whole.image, state.mirror_image, 1);
        search_view(model, state, s, views.whole, true, false, frame_rect);
    }
    for (const DetectionView& view : views.closer) {
        if (!view.image.empty()) {
            search_view(model, state, s, view, false, true, frame_rect);
        }
    }
}

} // namespace

void add_detector_box(const FoundFace& face, double scale, int mirror_width,
                      int32_t minimum_face_size, std::vector<FaceDetection>& out) {
    const cv::Rect2f& box = face.box;
    // Far beyond any frame: such a number is the network's noise, and would
    // overflow the integers below.
    constexpr float kFarOut = 1e6f;
    for (const float value : {box.x, box.y, box.width, box.height}) {
        if (!(std::abs(value) <= kFarOut)) {
            return;
        }
    }
    const cv::Rect mapped = map_to_frame(
        {nearest_int(box.x), nearest_int(box.y), nearest_int(box.width), nearest_int(box.height)},
        scale, mirror_width);
    // Both networks draw their boxes tighter than the face a person sees: on
    // the labelled sample photos the shorter side of a box is 0.68 to 1.08
    // times the labelled face's width, at any size. The minimum is held
    // against the face, so that no face a person would call large enough is
    // dropped for its box.
    constexpr double kFacePerBoxSide = 1.6;
    if (std::min(mapped.width, mapped.height) * kFacePerBoxSide < minimum_face_size) {
        return;
    }
    // In the mirror image, the picture's left eye and mouth corner are its right ones.
    FaceKeyPoints points = face.points;
    if (mirror_width > 0) {
        std::swap(points[0], points[1]);
        std::swap(points[3], points[4]);
    }
    const auto side = static_cast<float>(mirror_width);
    for (cv::Point2f& point : points) {
        point = {(mirror_width > 0 ? side - point.x : point.x) / static_cast<float>(scale),
                 point.y / static_cast<float>(scale)};
    }
    out.emplace_back(mapped, points);
}

cv::Rect map_to_frame(const cv::Rect& box, double scale, int mirror_width) {
    const float x = mirror_width > 0 ? static_cast<float>(mirror_width - box.x - box.width)
                                     : static_cast<float>(box.x);
    return {nearest_int(x / scale), nearest_int(static_cast<float>(box.y) / scale),
            nearest_int(static_cast<float>(box.width) / scale),
            nearest_int(static_cast<float>(box.height) / scale)};
}

void merge_detection(std::vector<FaceDetection>& list, const FaceDetection& face, float threshold) {
    for (FaceDetection& entry : list) {
        if (box_iou(entry.box, face.box) >= threshold) {
            if (entry.box.empty()) {
                entry = face;
            } else if (!face.box.empty()) {
                entry.box |= face.box;
            }
            return;
        }
    }
    list.push_back(face);
}

double detection_scale(const FaceModel& model, int32_t max_dimension, cv::Size frame_size) {
    const int limit = std::min(max_dimension, model.largest_side());
    return std::min(1.0,
                    static_cast<double>(limit) / std::max(frame_size.width, frame_size.height));
}

void find_faces(FaceModel& model, DetectionState& state, const FilterSettings& s,
                const PassViews& views, cv::Size frame_size) {
    state.detections.clear();
    // Nothing as thin as this holds a face, and the networks cannot take it.
    constexpr int kSmallestImage = 8;
    const cv::Mat& whole = views.whole.image;
    if (whole.cols >= kSmallestImage && whole.rows >= kSmallestImage) {
        search_views(model, state, s, views, cv::Rect(cv::Point(), frame_size));
    }
}

} // namespace veilcam
