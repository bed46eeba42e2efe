#include "detection/detection_tiles.hpp"

#include "tracking/box_geometry.hpp"

#include <algorithm>
#include <cmath>

namespace veilcam {
namespace {

// A face this wide in the detection image is found by both networks: on the
// labelled sample photos in a 1920x1080 frame, YuNet still misses a few
// faces of 13 to 16 pixels there and finds all from 18.
constexpr double kFoundFaceSide = 18.0;
// A closer look that enlarges the picture by less than this is not worth a
// second detector run.
constexpr double kLeastGain = 1.15;
// Neighbouring tiles overlap by at least this share of a tile, so that a
// face on the border between two lies whole in one of them.
constexpr double kOverlap = 0.15;

int even(double value) {
    return static_cast<int>(value) & ~1;
}

} // namespace

DetectionTile detection_tile(cv::Size frame_size, double whole_scale, int32_t minimum_face_size,
                             uint32_t index) {
    DetectionTile tile;
    const double fine = kFoundFaceSide / std::max(1, minimum_face_size);
    const double gain = fine / whole_scale;
    if (gain < kLeastGain) {
        return tile;
    }
    const int across = static_cast<int>(std::ceil(gain + kOverlap));
    tile.count = across * across;
    tile.scale = fine;
    const int width = even(std::min<double>(frame_size.width, frame_size.width / gain));
    const int height = even(std::min<double>(frame_size.height, frame_size.height / gain));
    const int column = static_cast<int>(index % tile.count) % across;
    const int row = static_cast<int>(index % tile.count) / across;
    tile.area =
        cv::Rect(even(static_cast<double>(column) * (frame_size.width - width) / (across - 1)),
                 even(static_cast<double>(row) * (frame_size.height - height) / (across - 1)),
                 width, height);
    return tile;
}

float smallest_box_found_whole(double whole_scale) {
    return static_cast<float>(kFoundFaceSide / whole_scale);
}

cv::Rect follow_up_area(const std::vector<FaceTrack>& tracks, float smallest_box,
                        const DetectionTile& tile, cv::Size frame_size) {
    if (tile.area.empty()) {
        return {};
    }
    const cv::Rect2f searched(tile.area);
    const FaceTrack* oldest = nullptr;
    for (const FaceTrack& track : tracks) {
        const cv::Rect2f place = hidden_box(track);
        if (std::min(track.place.width, track.place.height) < smallest_box &&
            track.missed_since_cut < 0 && (place & searched) != place &&
            (!oldest || track.seen_at < oldest->seen_at)) {
            oldest = &track;
        }
    }
    if (!oldest) {
        return {};
    }
    const cv::Size size = tile.area.size();
    const cv::Point2f middle = box_middle(hidden_box(*oldest));
    const int x = std::clamp(even(middle.x - size.width / 2.0), 0, frame_size.width - size.width);
    const int y =
        std::clamp(even(middle.y - size.height / 2.0), 0, frame_size.height - size.height);
    return {x, y, size.width, size.height};
}

} // namespace veilcam
