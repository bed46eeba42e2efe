#include "filter/overlay.hpp"

#include "filter/frame_colour.hpp"
#include "filter/plane_samples.hpp"
#include "filter/reused_image.hpp"

#include <opencv2/imgproc.hpp>

#include <algorithm>
#include <array>
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

// How much `strokes` (frame pixels from `origin`) cover each sample of a
// plane's `region`: the most over the frame pixels the sample serves.
void cover_samples(const cv::Mat& strokes, cv::Point origin, const cv::Rect& region,
                   const PlaneFormat& plane, cv::Mat& cover) {
    cover.setTo(0);
    const cv::Rect served(region.x << plane.x_shift, region.y << plane.y_shift,
                          region.width << plane.x_shift, region.height << plane.y_shift);
    const cv::Rect pixels = (served - origin) & cv::Rect(cv::Point(), strokes.size());
    for (int j = pixels.y; j < pixels.br().y; ++j) {
        const uint8_t* row = strokes.ptr<uint8_t>(j);
        uint8_t* out = cover.ptr<uint8_t>(((origin.y + j) >> plane.y_shift) - region.y);
        for (int i = pixels.x; i < pixels.br().x; ++i) {
            uint8_t& most = out[((origin.x + i) >> plane.x_shift) - region.x];
            most = std::max(most, row[i]);
        }
    }
}

// Lays `colour` over the samples of `view` (plane pixels of `region`) as far
// as `cover` says. The chroma a pixel pair shares takes the colour where
// either pixel is drawn, so that the outline keeps its colour to its edges.
template <typename Sample>
void paint(cv::Mat& view, const cv::Rect& region, const FrameFormat& format, int plane_index,
           const cv::Mat& cover, const ComponentLevels& colour) {
    const PlaneFormat& plane = format.planes[plane_index];
    const PlaneComponents& held = format.components[plane_index];
    const int kept_bits = format.samples.level_bits();
    const bool pairs = alternates_chroma(format, plane_index);
    for (int y = 0; y < view.rows; ++y) {
        Sample* row = view.ptr<Sample>(y);
        const uint8_t* covered = cover.ptr<uint8_t>(y);
        for (int x = 0; x < view.cols; ++x) {
            const int own = covered[x];
            int pair_drawn = own;
            const bool even = ((region.x + x) & 1) == 0;
            if (pairs) {
                const int partner = even ? x + 1 : x - 1;
                if (partner >= 0 && partner < view.cols) {
                    pair_drawn = std::max<int>(own, covered[partner]);
                }
            }
            if (pair_drawn == 0) {
                continue;
            }
            for (int c = 0; c < plane.channels; ++c) {
                Component component = held[c];
                int drawn = own;
                if (component == Component::UV || component == Component::VU) {
                    component = (component == Component::UV) == even ? Component::U : Component::V;
                    drawn = pair_drawn;
                }
                if (drawn > 0) {
                    Sample& sample = row[x * plane.channels + c];
                    const double level = colour[static_cast<size_t>(component)];
                    sample = static_cast<Sample>(
                        cv::saturate_cast<Sample>(sample + (level - sample) * drawn / kDrawn) &
                        kept_bits);
                }
            }
        }
    }
}

// The parts of the frame that a box and its label touch: the label, and a
// strip along each side of the box, each with room for what the strokes'
// thickness and anti-aliasing add. Only these are painted, not the inside
// of the box.
std::array<cv::Rect, 5> drawn_parts(const cv::Rect& box, const std::string& label,
                                    cv::Point origin) {
    int baseline = 0;
    const cv::Size text =
        cv::getTextSize(label, cv::FONT_HERSHEY_SIMPLEX, kTextScale, kTextThickness, &baseline);
    const cv::Rect text_area(origin.x, origin.y - text.height, text.width, text.height + baseline);
    const int m = kStrokeMargin, across = 2 * m + 1;
    const cv::Point last = box.br() - cv::Point(1, 1);
    return {text_area + cv::Point(-m, -m) + cv::Size(2 * m, 2 * m),
            cv::Rect(box.x - m, box.y - m, box.width + 2 * m, across),
            cv::Rect(box.x - m, last.y - m, box.width + 2 * m, across),
            cv::Rect(box.x - m, box.y - m, across, box.height + 2 * m),
            cv::Rect(last.x - m, box.y - m, across, box.height + 2 * m)};
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
        const std::array<cv::Rect, 5> parts = drawn_parts(box, scratch.label, origin);
        cv::Rect area;
        for (const cv::Rect& part : parts) {
            area |= part;
        }
        area &= cv::Rect(cv::Point(), size);
        if (area.empty()) {
            continue;
        }
        cv::Mat strokes = reused_image(scratch.strokes, area.size(), CV_8UC1);
        draw_box_and_label(strokes, box - area.tl(), scratch.label, origin - area.tl());
        const ComponentLevels& colour = faces[i].hidden ? obscured : visible;
        for (const cv::Rect& part : parts) {
            const cv::Rect inside = part & area;
            if (inside.empty()) {
                continue;
            }
            for (int plane = 0; plane < format.plane_count; ++plane) {
                if (!frame.data[plane]) {
                    continue;
                }
                const cv::Rect region = plane_region(format, plane, inside);
                cv::Mat cover = reused_image(scratch.cover, region.size(), CV_8UC1);
                cover_samples(strokes, area.tl(), region, format.planes[plane], cover);
                cv::Mat view = load_area(frame, format, plane, region, scratch.unpacked);
                format.samples.bytes == 2
                    ? paint<uint16_t>(view, region, format, plane, cover, colour)
                    : paint<uint8_t>(view, region, format, plane, cover, colour);
                store_area(frame, format, plane, region, scratch.unpacked);
            }
            // Painted: a part that overlaps this one does not lay it over again.
            strokes(inside - area.tl()).setTo(0);
        }
    }
}

} // namespace veilcam
