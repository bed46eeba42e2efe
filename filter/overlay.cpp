#include "filter/overlay.hpp"

#include "filter/filter_instance.hpp"
#include "filter/region_obscuring.hpp"
#include "settings/face_selection.hpp"

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

const cv::Scalar kRgbObscured(0, 255, 0, 255);
const cv::Scalar kRgbVisible(0, 128, 255, 255);
const cv::Scalar kLumaObscured(235);
const cv::Scalar kLumaVisible(150);

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

// YUY2 and UYVY keep luma in every other byte. The shapes are drawn into a
// one-channel copy of the luma bytes under them, so that they land at their
// true positions and chroma stays as it was.
void draw_on_packed_luma(FilterInstance& f, obs_source_frame& frame, const cv::Rect& box,
                         const std::string& label, cv::Point origin, const cv::Scalar& colour) {
    int baseline = 0;
    const cv::Size text =
        cv::getTextSize(label, cv::FONT_HERSHEY_SIMPLEX, kTextScale, kTextThickness, &baseline);
    const cv::Rect text_area(origin.x, origin.y - text.height, text.width, text.height + baseline);
    cv::Rect area = box | text_area;
    area.x -= kStrokeMargin;
    area.y -= kStrokeMargin;
    area.width += 2 * kStrokeMargin;
    area.height += 2 * kStrokeMargin;
    area &= cv::Rect(0, 0, static_cast<int>(frame.width), static_cast<int>(frame.height));
    if (area.empty()) {
        return;
    }

    cv::Mat packed(static_cast<int>(frame.height), static_cast<int>(frame.width), CV_8UC2,
                   frame.data[0], frame.linesize[0]);
    cv::Mat packed_area = packed(area);
    const int luma_channel = frame.format == VIDEO_FORMAT_UYVY ? 1 : 0;
    f.overlay_luma.create(area.size(), CV_8UC1);
    cv::extractChannel(packed_area, f.overlay_luma, luma_channel);
    draw_box_and_label(f.overlay_luma, box - area.tl(), label, origin - area.tl(), colour);
    cv::insertChannel(f.overlay_luma, packed_area, luma_channel);
}

} // namespace

void draw_overlay(FilterInstance& f, obs_source_frame& frame) {
    if (!f.show_boxes || !frame.data[0] || f.tracker.tracks().empty()) {
        return;
    }
    const int width = static_cast<int>(frame.width);
    const int height = static_cast<int>(frame.height);
    for (const FaceTrack& track : f.tracker.tracks()) {
        const cv::Rect box = padded_face_rect(f, track, frame);
        const bool obscured = should_obscure(f, track.id);
        make_label(f.overlay_label, track.id, obscured);
        const cv::Point origin(box.x, std::max(box.y - kLabelGap, kLabelMinBaseline));

        switch (frame.format) {
        case VIDEO_FORMAT_RGBA:
        case VIDEO_FORMAT_BGRA:
        case VIDEO_FORMAT_BGRX:
        case VIDEO_FORMAT_BGR3: {
            const int type = frame.format == VIDEO_FORMAT_BGR3 ? CV_8UC3 : CV_8UC4;
            cv::Mat image(height, width, type, frame.data[0], frame.linesize[0]);
            draw_box_and_label(image, box, f.overlay_label, origin,
                               obscured ? kRgbObscured : kRgbVisible);
            break;
        }
        case VIDEO_FORMAT_YUY2:
        case VIDEO_FORMAT_UYVY:
            draw_on_packed_luma(f, frame, box, f.overlay_label, origin,
                                obscured ? kLumaObscured : kLumaVisible);
            break;
        default: {
            cv::Mat luma(height, width, CV_8UC1, frame.data[0], frame.linesize[0]);
            draw_box_and_label(luma, box, f.overlay_label, origin,
                               obscured ? kLumaObscured : kLumaVisible);
            break;
        }
        }
    }
}

} // namespace veilcam
