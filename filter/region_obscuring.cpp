#include "filter/region_obscuring.hpp"

#include "filter/filter_instance.hpp"
#include "settings/face_selection.hpp"

#include <opencv2/core.hpp>

#include <algorithm>
#include <cmath>

namespace veilcam {
namespace {

constexpr int kMinRegionSide = 3;

// Runs `hide(rect)` for every track that the face selection hides.
template <typename Hide>
void for_each_hidden_region(FilterInstance& f, const obs_source_frame& frame, Hide&& hide) {
    for (const FaceTrack& track : f.tracker.tracks()) {
        if (should_obscure(f, track.id)) {
            hide(padded_face_rect(f, track, frame));
        }
    }
}

cv::Rect half_width_rect(const cv::Rect& r) {
    return {r.x / 2, r.y, std::max((r.width + 1) / 2, 1), r.height};
}

cv::Rect half_size_rect(const cv::Rect& r) {
    return {r.x / 2, r.y / 2, std::max((r.width + 1) / 2, 1), std::max((r.height + 1) / 2, 1)};
}

} // namespace

cv::Rect padded_face_rect(const FilterInstance& f, const FaceTrack& track,
                          const obs_source_frame& frame) {
    const cv::Rect2f& box = track.box;
    const float px = (box.width * f.padding_percent) / 100.0f;
    const float py = (box.height * f.padding_percent) / 100.0f;
    const float left = std::floor(box.x - px);
    const float top = std::floor(box.y - py);
    const float right = left + std::ceil((px + px) + box.width);
    const float bottom = top + std::ceil((py + py) + box.height);
    if (std::isnan(left) || std::isnan(top) || std::isnan(right) || std::isnan(bottom)) {
        return cv::Rect();
    }
    // Edges are brought near the frame before they become integers, so that
    // an absurd padding from a settings file covers the frame instead of
    // overflowing into an empty region.
    const int width = static_cast<int>(frame.width);
    const int height = static_cast<int>(frame.height);
    auto edge = [](float value, int limit) {
        return static_cast<int>(std::clamp(value, -1.0f, static_cast<float>(limit) + 1.0f));
    };
    const int x0 = edge(left, width), x1 = edge(right, width);
    const int y0 = edge(top, height), y1 = edge(bottom, height);
    return cv::Rect(x0, y0, x1 - x0, y1 - y0) & cv::Rect(0, 0, width, height);
}

void obscure_packed_frame(FilterInstance& f, obs_source_frame& frame, int bytes_per_pixel) {
    const int width = static_cast<int>(frame.width);
    const int height = static_cast<int>(frame.height);
    for_each_hidden_region(f, frame, [&](const cv::Rect& r) {
        obscure_region(f, frame.data[0], frame.linesize[0], width, height, bytes_per_pixel, r);
    });
}

void obscure_planar_frame(FilterInstance& f, obs_source_frame& frame) {
    const int width = static_cast<int>(frame.width);
    const int height = static_cast<int>(frame.height);
    auto chroma = [&](int plane, int plane_width, int plane_height, int bytes_per_pixel,
                      const cv::Rect& r) {
        obscure_region(f, frame.data[plane], frame.linesize[plane], plane_width, plane_height,
                       bytes_per_pixel, r);
    };
    for_each_hidden_region(f, frame, [&](const cv::Rect& r) {
        obscure_region(f, frame.data[0], frame.linesize[0], width, height, 1, r);
        switch (frame.format) {
        case VIDEO_FORMAT_NV12:
            chroma(1, width / 2, height / 2, 2, half_size_rect(r));
            break;
        case VIDEO_FORMAT_I420:
            chroma(1, width / 2, height / 2, 1, half_size_rect(r));
            chroma(2, width / 2, height / 2, 1, half_size_rect(r));
            break;
        case VIDEO_FORMAT_I444:
            chroma(1, width, height, 1, r);
            chroma(2, width, height, 1, r);
            break;
        case VIDEO_FORMAT_I422:
            // Half-width chroma keeps a face's colour detail unless hidden too.
            chroma(1, width / 2, height, 1, half_width_rect(r));
            chroma(2, width / 2, height, 1, half_width_rect(r));
            break;
        default:
            break;
        }
    });
}

void obscure_region(FilterInstance& f, uint8_t* plane, uint32_t stride, int plane_width,
                    int plane_height, int bytes_per_pixel, const cv::Rect& rect) {
    if (!plane || plane_width < 1 || plane_height < 1) {
        return;
    }
    const cv::Rect cut = rect & cv::Rect(0, 0, plane_width, plane_height);
    if (cut.width < kMinRegionSide || cut.height < kMinRegionSide) {
        return;
    }
    cv::Mat whole_plane(plane_height, plane_width, CV_8UC(bytes_per_pixel), plane, stride);
    cv::Mat view = whole_plane(cut);
    if (f.obscure_mode == 1) {
        blur_region(f, view);
    } else {
        pixelate_view(view, f.pixel_size, f.region_scratch);
    }
}

void blur_region(FilterInstance& f, cv::Mat& region) {
    if (region.cols < kMinRegionSide || region.rows < kMinRegionSide) {
        return;
    }
    // The region's longer side is reduced to `target` pixels: a larger blur
    // size means a smaller target and so a coarser picture, at a cost that
    // does not grow with the region.
    const int k = std::clamp(f.blur_radius, 3, 151);
    const int target = std::clamp(96 - k / 2, 18, 80);
    const double scale = static_cast<double>(target) / std::max(region.cols, region.rows);
    const int small_width = static_cast<int>(std::lround(region.cols * scale));
    const int small_height = static_cast<int>(std::lround(region.rows * scale));
    reduce_smooth_enlarge(region, cv::Size(std::max(small_width, 2), std::max(small_height, 2)),
                          f.region_scratch);
}

} // namespace veilcam
