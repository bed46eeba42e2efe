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
// Detection-image pixels along an edge searched again with their mirror
// image beyond it.
constexpr int kEdgeStrip = 32;
constexpr uint32_t kRolledPassPeriod = 3;
// Passes a face found on its side is looked for that way after it was last
// found so: as long as the tracker holds a face it does not find.
constexpr int32_t kRolledFollowPasses = 12;

// Runs the detector on `image` and appends the faces it finds, upright in
// frame pixels and no smaller than `minimum_face_size`, to `out`.
void run_detector(FaceModel& model, const FilterSettings& s, const cv::Mat& image, double scale,
                  ViewTurn turn, std::vector<FaceDetection>& out) {
    out.clear();
    // As many as the network finds: the face limit is the pass's, and going
    // past it is said in the log.
    constexpr int32_t kMostCandidates = 1000;
    for (const FoundFace& face : model.detect(image, s.confidence, kMostCandidates)) {
        add_detector_box(face, scale, {turn, image.size()}, s.minimum_face_size, out);
    }
}

// A point of an image turned by `searched.turn`, in the upright image.
cv::Point2f upright_point(cv::Point2f point, const SearchedImage& searched) {
    const auto width = static_cast<float>(searched.size.width);
    const auto height = static_cast<float>(searched.size.height);
    switch (searched.turn) {
    case ViewTurn::mirrored:
        return {width - point.x, point.y};
    case ViewTurn::clockwise:
        return {point.y, width - point.x};
    case ViewTurn::counter_clockwise:
        return {height - point.y, point.x};
    case ViewTurn::upright:
        break;
    }
    return point;
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

// Neither network finds a face rolled past about 45 degrees (someone lying
// down, a phone held sideways), so every third pass looks at the picture
// turned a quarter, each way in turn, and a face found so is looked for the
// same way on the passes after. One look a pass besides the upright one: the
// turned look takes the mirrored one's place.
ViewTurn second_look(DetectionState& state, const FilterSettings& s, size_t faces_found) {
    ++state.rolled_pass_counter;
    if (state.rolled_pass_counter % kRolledPassPeriod == 0) {
        return state.rolled_pass_counter / kRolledPassPeriod % 2 == 0 ? ViewTurn::clockwise
                                                                      : ViewTurn::counter_clockwise;
    }
    if (state.rolled_passes_left > 0) {
        --state.rolled_passes_left;
        return state.rolled_turn;
    }
    return wants_profile_pass(state, s, faces_found) ? ViewTurn::mirrored : ViewTurn::upright;
}

void turn_image(const cv::Mat& image, ViewTurn turn, cv::Mat& turned) {
    if (turn == ViewTurn::mirrored) {
        cv::flip(image, turned, 1);
    } else {
        cv::rotate(image, turned,
                   turn == ViewTurn::clockwise ? cv::ROTATE_90_CLOCKWISE
                                               : cv::ROTATE_90_COUNTERCLOCKWISE);
    }
}

// Runs the detector on `view` (turned by `turn`, into one of the state's
// images) and merges what it finds into the pass's list; with `only_new`
// it adds only faces that the list does not show yet.
void search_view(FaceModel& model, DetectionState& state, const FilterSettings& s,
                 const DetectionView& view, ViewTurn turn, bool only_new,
                 const cv::Rect& frame_rect) {
    cv::Mat& turned = turn == ViewTurn::mirrored ? state.mirror_image : state.turned_image;
    if (turn != ViewTurn::upright) {
        turn_image(view.image, turn, turned);
    }
    run_detector(model, s, turn == ViewTurn::upright ? view.image : turned, view.scale, turn,
                 state.raw_detections);
    for (const FaceDetection& found : state.raw_detections) {
        FaceDetection face((found.box + view.origin) & frame_rect, found.points);
        if (face.box.empty()) {
            continue; // a face in the mirror image beyond the picture's side
        }
        for (cv::Point2f& point : face.points) {
            point += cv::Point2f(view.origin);
        }
        // A face the upright picture shows too keeps the upright picture's
        // box: it would otherwise change from pass to pass with the tile or
        // the turn, and the tracker take that for motion. Part of such a
        // face, seen closer, is no face of its own either.
        if (only_new && std::any_of(state.detections.begin(), state.detections.end(),
                                    [&](const FaceDetection& d) {
                                        return box_iou(d.box, face.box) >= kMergeThreshold ||
                                               (d.box & face.box).area() * 2 >= face.box.area();
                                    })) {
            continue;
        }
        merge_detection(state.detections, face, kMergeThreshold);
    }
}

// A face half out of the picture at its left or right edge is, mirrored at
// that edge, a whole face again: one sliding in is found when under half of
// it is inside, against two thirds without. One coming up from the bottom,
// forehead and eyes first, mirrored there is found with under two fifths of
// it inside instead of five eighths; at the top, where the chin comes first,
// the mirror finds nothing more, so no strip is searched there. So each pass
// also searches a strip along those three edges with its mirror image beyond
// the edge, for faces the whole picture did not show.
void search_edges(FaceModel& model, DetectionState& state, const FilterSettings& s,
                  const DetectionView& whole, const cv::Rect& frame_rect) {
    const int strip = kEdgeStrip;
    const cv::Mat& image = whole.image;
    for (size_t i = 0; i < kSearchedEdges.size(); ++i) {
        const Edge edge = kSearchedEdges[i];
        const bool along_bottom = edge == Edge::bottom;
        const int length = along_bottom ? image.rows : image.cols;
        if (length < 2 * strip) {
            continue; // a face half out of so small a picture is large in it, and found as it is
        }
        const int from = edge == Edge::left ? 0 : length - strip;
        const cv::Mat inside =
            along_bottom ? image.rowRange(from, from + strip) : image.colRange(from, from + strip);
        DetectionView& view = state.edges[i];
        cv::copyMakeBorder(inside, view.image, 0, along_bottom ? strip : 0,
                           edge == Edge::left ? strip : 0, edge == Edge::right ? strip : 0,
                           cv::BORDER_REFLECT | cv::BORDER_ISOLATED);
        view.scale = whole.scale;
        const int offset = nearest_int((edge == Edge::left ? -strip : from) / whole.scale);
        view.origin = whole.origin + (along_bottom ? cv::Point(0, offset) : cv::Point(offset, 0));
        search_view(model, state, s, view, ViewTurn::upright, true, frame_rect);
    }
}

// Every run goes through the same list and the same merge: a face seen whole
// and closer too is one face.
void search_views(FaceModel& model, DetectionState& state, const FilterSettings& s,
                  const PassViews& views, const cv::Rect& frame_rect) {
    search_view(model, state, s, views.whole, ViewTurn::upright, false, frame_rect);
    const ViewTurn turn = second_look(state, s, state.detections.size());
    if (turn != ViewTurn::upright) {
        const size_t upright_faces = state.detections.size();
        search_view(model, state, s, views.whole, turn, turn != ViewTurn::mirrored, frame_rect);
        if (turn != ViewTurn::mirrored && state.detections.size() > upright_faces) {
            state.rolled_turn = turn;
            state.rolled_passes_left = kRolledFollowPasses;
        }
    }
    for (const DetectionView& view : views.closer) {
        if (!view.image.empty()) {
            search_view(model, state, s, view, ViewTurn::upright, true, frame_rect);
        }
    }
    search_edges(model, state, s, views.whole, frame_rect);
}

} // namespace

void add_detector_box(const FoundFace& face, double scale, const SearchedImage& searched,
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
        scale, searched);
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
    if (searched.turn == ViewTurn::mirrored) {
        std::swap(points[0], points[1]);
        std::swap(points[3], points[4]);
    }
    for (cv::Point2f& point : points) {
        point = upright_point(point, searched) / static_cast<float>(scale);
    }
    out.emplace_back(mapped, points);
}

cv::Rect map_to_frame(const cv::Rect& box, double scale, const SearchedImage& searched) {
    const cv::Point2f a = upright_point(box.tl(), searched);
    const cv::Point2f b = upright_point(box.br(), searched);
    const auto to_frame = [scale](float value) { return nearest_int(value / scale); };
    return {to_frame(std::min(a.x, b.x)), to_frame(std::min(a.y, b.y)),
            to_frame(std::abs(a.x - b.x)), to_frame(std::abs(a.y - b.y))};
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
