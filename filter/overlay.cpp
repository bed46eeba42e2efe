#include "filter/overlay.hpp"

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
const cv::Scalar kLumaObscured(235);
const cv::Scalar kLumaVisible(150);

// `rgb` in the order plane 0 holds its channels; alpha and padding opaque.
cv::Scalar in_channel_order(const FrameFormat& format, const cv::Vec3d& rgb) {
    cv::Scalar colour;
    for (int c = 0; c < 4; ++c) {
        const Component held = format.components[0][c];
        colour[c] = held == Component::R   ? rgb[0]
                    : held == Component::G ? rgb[1]
                    : held == Component::B ? rgb[2]
                                           : 255;
    }
    return colour;
}

void make_label(std::string& label, uint64_t id, bool obscured) {
    char digits[24];
    const auto end = std::to_chars(digits, digits + sizeof(digits), id).ptr;
    label.assign("Face ");
    label.append(digits, end);
    label.append(obscured ? " (obscured)" : " (visible)");
}

void draw_box_and_label(cv::Mat& image, const cv::Rect& box, const std::string& label,
                        cv::Point origin, const cv::Scalar& colour) {
    cv::rectangle(image, box, colour, kBoxThickness, cv::LINE_8, 0);
    cv::putText(image, label, origin, cv::FONT_HERSHEY_SIMPLEX, kTextScale, colour, kTextThickness,
                cv::LINE_AA, false);
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
    const double level = format.samples.level_scale;
    // Faces past the limit are hidden all the same, without a label; the
    // longest-followed come first. What the previous shot left is followed
    // no more and gets no outline.
    const size_t labelled = std::min(faces.size(), static_cast<size_t>(settings.max_faces));
    for (size_t i = 0; i < labelled; ++i) {
        if (!faces[i].outlined) {
            continue;
        }
        const cv::Rect& box = faces[i].region;
        const bool obscured = faces[i].hidden;
        make_label(scratch.label, faces[i].id, obscured);
        const cv::Point origin(box.x, std::max(box.y - kLabelGap, kLabelMinBaseline));
        const cv::Rect area = drawn_area(box, scratch.label, origin, size);
        if (area.empty()) {
            continue;
        }
        const cv::Scalar colour =
            (holds_rgb(format) ? in_channel_order(format, obscured ? kObscuredRgb : kVisibleRgb)
                               : (obscured ? kLumaObscured : kLumaVisible)) *
            level;
        cv::Mat view = load_area(frame, format, 0, area, scratch.unpacked);
        // Where plane 0 packs luma with chroma, the shapes are drawn into a
        // copy of the luma samples alone, so that chroma stays as it was.
        cv::Mat canvas = view;
        const int luma = packed_luma_channel(format);
        if (luma >= 0) {
            canvas = reused_image(scratch.luma, view.size(), CV_MAKETYPE(view.depth(), 1));
            cv::extractChannel(view, canvas, luma);
        }
        draw_box_and_label(canvas, box - area.tl(), scratch.label, origin - area.tl(), colour);
        if (canvas.data != view.data) {
            cv::insertChannel(canvas, view, luma);
        }
        store_area(frame, format, 0, area, scratch.unpacked);
    }
}

} // namespace veilcam
