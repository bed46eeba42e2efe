#include "filter/region_obscuring.hpp"

#include "settings/face_selection.hpp"

#include <opencv2/core.hpp>

#include <algorithm>
#include <cmath>

namespace veilcam {
namespace {

constexpr int kMinRegionSide = 3;
constexpr int kBlurMode = 1;

// The region's longer side is reduced to a target size: a larger blur
// strength means a smaller target and so a coarser picture, at a cost that
// does not grow with the region.
void blur_view(cv::Mat& view, int32_t blur_radius, ResampleScratch& scratch) {
    const int k = std::clamp(blur_radius, 3, 151);
    const int target = std::clamp(96 - k / 2, 18, 80);
    const double scale = static_cast<double>(target) / std::max(view.cols, view.rows);
    const int small_width = static_cast<int>(std::lround(view.cols * scale));
    const int small_height = static_cast<int>(std::lround(view.rows * scale));
    reduce_smooth_enlarge(view, cv::Size(std::max(small_width, 2), std::max(small_height, 2)),
                          scratch);
}

} // namespace

cv::Rect padded_face_rect(const cv::Rect2f& box, float padding_percent, cv::Size frame) {
    const float px = (box.width * padding_percent) / 100.0f;
    const float py = (box.height * padding_percent) / 100.0f;
    const float left = std::floor(box.x - px);
    const float top = std::floor(box.y - py);
    const float right = left + std::ceil((px + px) + box.width);
    const float bottom = top + std::ceil((py + py) + box.height);
    if (std::isnan(left) || std::isnan(top) || std::isnan(right) || std::isnan(bottom)) {
        return cv::Rect();
    }
    // Edges are brought near the frame before they become integers, so that
    // an absurd padding covers the frame instead of overflowing into an
    // empty region.
    auto edge = [](float value, int limit) {
        return static_cast<int>(std::clamp(value, -1.0f, static_cast<float>(limit) + 1.0f));
    };
    const int x0 = edge(left, frame.width), x1 = edge(right, frame.width);
    const int y0 = edge(top, frame.height), y1 = edge(bottom, frame.height);
    return cv::Rect(x0, y0, x1 - x0, y1 - y0) & cv::Rect(cv::Point(), frame);
}

cv::Rect plane_region(const FrameFormat& format, int plane, const cv::Rect& r) {
    const PlaneFormat& p = format.planes[plane];
    const int x0 = r.x >> p.x_shift;
    const int y0 = r.y >> p.y_shift;
    const int x1 = (r.x + r.width + (1 << p.x_shift) - 1) >> p.x_shift;
    const int y1 = (r.y + r.height + (1 << p.y_shift) - 1) >> p.y_shift;
    return {x0, y0, x1 - x0, y1 - y0};
}

void obscure_frame(obs_source_frame& frame, const FrameFormat& format,
                   const std::vector<FaceTrack>& tracks, const FilterSettings& settings,
                   ResampleScratch& scratch) {
    const cv::Size size(static_cast<int>(frame.width), static_cast<int>(frame.height));
    for (const FaceTrack& track : tracks) {
        if (!should_obscure(settings.selection, track.id)) {
            continue;
        }
        const cv::Rect region = padded_face_rect(track.box, settings.padding_percent, size);
        for (int plane = 0; plane < format.plane_count; ++plane) {
            if (!format.planes[plane].hidden || !frame.data[plane]) {
                continue;
            }
            cv::Mat whole = wrap_plane(frame, format, plane);
            const cv::Rect cut =
                plane_region(format, plane, region) & cv::Rect(cv::Point(), whole.size());
            cv::Mat view = whole(cut);
            obscure_view(view, settings, scratch);
        }
    }
}

void obscure_view(cv::Mat& view, const FilterSettings& settings, ResampleScratch& scratch) {
    if (view.cols < kMinRegionSide || view.rows < kMinRegionSide) {
        return;
    }
    if (settings.obscure_mode == kBlurMode) {
        blur_view(view, settings.blur_radius, scratch);
    } else {
        pixelate_view(view, settings.pixel_size, scratch);
    }
}

} // namespace veilcam
