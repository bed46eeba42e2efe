#include "filter/overlay.hpp"

#include "filter/frame_colour.hpp"
#include "filter/plane_samples.hpp"
#include "filter/reused_image.hpp"

#include <opencv2/imgproc.hpp>

#include <algorithm>
#include <charconv>

namespace veilcam {
namespace {

constexpr int kBoxThickness = 3;
constexpr int kTextThickness = 2;
constexpr double kTextScale = 0.6;
constexpr int kLabelGap = 6;
constexpr int kLabelMinBaseline = 18;
// Room around a shape for what its thickness and anti-aliasing add.
constexpr int kStrokeMargin = 4;

// Red, green and blue: green around a hidden face, orange around one shown.
const cv::Vec3d kObscuredRgb(0, 255, 0);
const cv::Vec3d kVisibleRgb(255, 128, 0);
constexpr int kDrawn = 255;

void make_label(std::string& label, uint64_t id, bool obscured) {
    char digits[24];
    const auto end = std::to_chars(digits, digits + sizeof(digits), id).ptr;
    label.assign("Face ");
    label.append(digits, end);
    label.append(obscured ? " (obscured)" : " (visible)");
}

void draw_box_and_label(cv::Mat& strokes, const cv::Rect& box, const std::string& label,
                        cv::Point origin) {
    strokes.setTo(0);
    cv::rectangle(strokes, box, kDrawn, kBoxThickness, cv::LINE_8, 0);
    cv::putText(strokes, label, origin, cv::FONT_HERSHEY_SIMPLEX, kTextScale, kDrawn,
                kTextThickness, cv::LINE_AA, false);
}

// The most that `strokes` cover of the frame pixels [x, x + across) x
// [y, y + down), in its own coordinates.
int coverage(const cv::Mat& strokes, int x, int y, int across, int down) {
    int most = 0;
    for (int j = std::max(y, 0); j < std::min(y + down, strokes.rows); ++j) {
        const uint8_t* row = strokes.ptr<uint8_t>(j);
        for (int i = std::max(x, 0); i < std::min(x + across, strokes.cols); ++i) {
            most = std::max<int>(most, row[i]);
        }
    }
    return most;
}

// Lays `colour` over the samples of `view` (plane pixels of `region`) as far
// as `strokes` (frame pixels from `origin`) cover them. A subsampled sample,
// and the chroma a pixel pair shares, takes the colour where any pixel it
// serves is drawn, so that the outline keeps its colour to its edges.
template <typename Sample>
void paint(cv::Mat& view, const cv::Rect& region, const FrameFormat& format, int plane_index,
           const cv::Mat& strokes, cv::Point origin, const ComponentLevels& colour) {
    const PlaneFormat& plane = format.planes[plane_index];
    const PlaneComponents& held = format.components[plane_index];
    // Samples that sit in the high bits keep their low bits clear.
    const int kept_bits = ~((1 << format.samples.unused_low_bits) - 1);
    const int across = 1 << plane.x_shift, down = 1 << plane.y_shift;
    for (int y = 0; y < view.rows; ++y) {
        Sample* row = view.ptr<Sample>(y);
        const int top = (region.y + y) * down - origin.y;
        for (int x = 0; x < view.cols; ++x) {
            const int frame_x = (region.x + x) * across;
            const int own = coverage(strokes, frame_x - origin.x, top, across, down);
            for (int c = 0; c < plane.channels; ++c) {
                Component component = held[c];
                int cover = own;
                if (component == Component::UV || component == Component::VU) {
                    const bool even = (frame_x & 1) == 0;
                    component = (component == Component::UV) == even ? Component::U : Component::V;
                    cover = coverage(strokes, (frame_x & ~1) - origin.x, top, 2, down);
                }
                if (cover > 0) {
                    Sample& sample = row[x * plane.channels + c];
                    const double level = colour[static_cast<size_t>(component)];
                    sample = static_cast<Sample>(
                        cv::saturate_cast<Sample>(sample + (level - sample) * cover / kDrawn) &
                        kept_bits);
                }
            }
        }
    }
}

// The part of plane 0 that a box and its label touch.
cv::Rect drawn_area(const cv::Rect& box, const std::string& label, cv::Point origin,
                    cv::Size plane) {
    int baseline = 0;
    const cv::Size text =
        cv::getTextSize(label, cv::FONT_HERSHEY_SIMPLEX, kTextScale, kTextThickness, &baseline);
    const cv::Rect text_area(origin.x, origin.y - text.height, text.width, text.height + baseline);
    cv::Rect area = box | text_area;
    area.x -= kStrokeMargin;
    area.y -= kStrokeMargin;
    area.width += 2 * kStrokeMargin;
    area.height += 2 * kStrokeMargin;
    return area & cv::Rect(cv::Point(), plane);
}

} // namespace

void draw_overlay(obs_source_frame& frame, const FrameFormat& format,
                  const std::vector<FaceRegion>& faces, const FilterSettings& settings,
                  OverlayScratch& scratch) {
    if (!settings.show_boxes || !frame.data[0] || faces.empty()) {
        return;
    }
    const cv::Size size(static_cast<int>(frame.width), static_cast<int>(frame.height));
    const ComponentLevels obscured = frame_colour(kObscuredRgb, format, frame);
    const ComponentLevels visible = frame_colour(kVisibleRgb, format, frame);
    // Faces past the limit are hidden all the same, without a label; the
    // longest-followed come first. What the previous shot left is followed
    // no more and gets no outline.
    const size_t labelled = std::min(faces.size(), static_cast<size_t>(settings.max_faces));
    for (size_t i = 0; i < labelled; ++i) {
        if (!faces[i].outlined) {
            continue;
        }
        const cv::Rect& box = faces[i].region;
        make_label(scratch.label, faces[i].id, faces[i].hidden);
        const cv::Point origin(box.x, std::max(box.y - kLabelGap, kLabelMinBaseline));
        const cv::Rect area = drawn_area(box, scratch.label, origin, size);
        if (area.empty()) {
            continue;
        }
        cv::Mat strokes = reused_image(scratch.strokes, area.size(), CV_8UC1);
        draw_box_and_label(strokes, box - area.tl(), scratch.label, origin - area.tl());
        for (int plane = 0; plane < format.plane_count; ++plane) {
            if (!frame.data[plane]) {
                continue;
            }
            const cv::Rect region = plane_region(format, plane, area);
            cv::Mat view = load_area(frame, format, plane, region, scratch.unpacked);
            const ComponentLevels& colour = faces[i].hidden ? obscured : visible;
            format.samples.bytes == 2
                ? paint<uint16_t>(view, region, format, plane, strokes, area.tl(), colour)
                : paint<uint8_t>(view, region, format, plane, strokes, area.tl(), colour);
            store_area(frame, format, plane, region, scratch.unpacked);
        }
    }
}

} // namespace veilcam
