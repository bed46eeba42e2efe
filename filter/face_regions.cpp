#include "filter/face_regions.hpp"

#include "settings/face_selection.hpp"
#include "tracking/box_geometry.hpp"

#include <algorithm>
#include <cmath>

namespace veilcam {

cv::Rect padded_face_rect(const cv::Rect2f& box, float padding_percent, cv::Size frame) {
    // A margin twice the frame's size covers the frame from any box inside
    // it: held to that, a huge or infinite padding keeps finite edges.
    const double reach = 2.0 * std::max(frame.width, frame.height);
    const double px = std::min(box.width * static_cast<double>(padding_percent) / 100.0, reach);
    const double py = std::min(box.height * static_cast<double>(padding_percent) / 100.0, reach);
    const double left = std::floor(box.x - px);
    const double top = std::floor(box.y - py);
    const double right = left + std::ceil((px + px) + box.width);
    const double bottom = top + std::ceil((py + py) + box.height);
    if (std::isnan(left + top + right + bottom)) {
        return cv::Rect();
    }
    // Edges are brought near the frame before they become integers.
    auto edge = [](double value, int limit) {
        return static_cast<int>(std::clamp(value, -1.0, static_cast<double>(limit) + 1.0));
    };
    const int x0 = edge(left, frame.width), x1 = edge(right, frame.width);
    const int y0 = edge(top, frame.height), y1 = edge(bottom, frame.height);
    return cv::Rect(x0, y0, x1 - x0, y1 - y0) & cv::Rect(cv::Point(), frame);
}

namespace {

// The oval beyond the sides of the box padded by `padding_percent` that
// cuts off that box's corners, and passes outside the face box's own
// corners: a face anywhere in the box is inside it.
constexpr float kOvalBeyondSides = 1.1f;

cv::Rect2f face_oval(const cv::Rect2f& box, float padding_percent) {
    const float grown =
        std::max(kOvalBeyondSides * (1.0f + 2.0f * padding_percent / 100.0f), std::sqrt(2.0f));
    return moved_box(box, {}, grown);
}

} // namespace

void list_face_regions(const std::vector<FaceTrack>& tracks, const FilterSettings& settings,
                       const RememberedFaces& remembered, cv::Size frame,
                       std::vector<FaceRegion>& out) {
    out.clear();
    const double margin = 1.0 + 2.0 * settings.padding_percent / 100.0;
    const double largest = std::max(frame.width, frame.height);
    for (const FaceTrack& track : tracks) {
        const double side = std::max(track.place.width, track.place.height) * margin;
        const cv::Rect2f box = hidden_box(track);
        out.push_back({padded_face_rect(box, settings.padding_percent, frame),
                       face_oval(box, settings.padding_percent),
                       static_cast<int>(std::clamp(std::ceil(side), 1.0, largest)), track.id,
                       should_obscure(settings.selection, track.id, track.crossed,
                                      recognition_of(track, remembered)),
                       track.missed_since_cut < 0});
    }
}

} // namespace veilcam
