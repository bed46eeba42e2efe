#include "filter/overlay.hpp"

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

// Packed YUV keeps luma in every other byte. The shapes are drawn into a
// one-channel copy of the luma bytes under them, so that they land at their
// true positions and chroma stays as it was.
void draw_on_packed_luma(cv::Mat& packed, int luma_channel, const cv::Rect& box,
                         const std::string& label, cv::Point origin, const cv::Scalar& colour,
                         cv::Mat& luma) {
    int baseline = 0;
    const cv::Size text =
        cv::getTextSize(label, cv::FONT_HERSHEY_SIMPLEX, kTextScale, kTextThickness, &baseline);
    const cv::Rect text_area(origin.x, origin.y - text.height, text.width, text.height + baseline);
    cv::Rect area = box | text_area;
    area.x -= kStrokeMargin;
    area.y -= kStrokeMargin;
    area.width += 2 * kStrokeMargin;
    area.height += 2 * kStrokeMargin;
    area &= cv::Rect(cv::Point(), packed.size());
    if (area.empty()) {
        return;
    }
    cv::Mat packed_area = packed(area);
    luma.create(area.size(), CV_8UC1);
    cv::extractChannel(packed_area, luma, luma_channel);
    draw_box_and_label(luma, box - area.tl(), label, origin - area.tl(), colour);
    cv::insertChannel(luma, packed_area, luma_channel);
}

} // namespace

void draw_overlay(obs_source_frame& frame, const FrameFormat& format,
                  const std::vector<FaceTrack>& tracks, uint64_t frame_index,
                  const FilterSettings& settings, OverlayScratch& scratch) {
    if (!settings.show_boxes || !frame.data[0] || tracks.empty()) {
        return;
    }
    cv::Mat plane0 = wrap_plane(frame, format, 0);
    for (const FaceTrack& track : tracks) {
        const cv::Rect box = padded_face_rect(hidden_box(track, frame_index),
                                              settings.padding_percent, plane0.size());
        const bool obscured = should_obscure(settings.selection, track.id);
        make_label(scratch.label, track.id, obscured);
        const cv::Point origin(box.x, std::max(box.y - kLabelGap, kLabelMinBaseline));
        switch (format.overlay) {
        case OverlayStyle::Colour:
            draw_box_and_label(plane0, box, scratch.label, origin,
                               obscured ? kRgbObscured : kRgbVisible);
            break;
        case OverlayStyle::PackedLuma:
            draw_on_packed_luma(plane0, format.luma_channel, box, scratch.label, origin,
                                obscured ? kLumaObscured : kLumaVisible, scratch.luma);
            break;
        case OverlayStyle::LumaPlane:
            draw_box_and_label(plane0, box, scratch.label, origin,
                               obscured ? kLumaObscured : kLumaVisible);
            break;
        }
    }
}

} // namespace veilcam
