#pragma once

#include <opencv2/core/types.hpp>

#include <algorithm>
#include <cmath>

// Box arithmetic shared by detection, decoding and tracking.
namespace veilcam {

// Intersection over union; 0 when either box is empty.
inline float box_iou(const cv::Rect2f& a, const cv::Rect2f& b) {
    float intersection = 0.0f;
    if (!a.empty() && !b.empty()) {
        const float left = std::max(a.x, b.x);
        const float top = std::max(a.y, b.y);
        const float right = std::min(a.x + a.width, b.x + b.width);
        const float bottom = std::min(a.y + a.height, b.y + b.height);
        if (right > left && bottom > top) {
            intersection = (right - left) * (bottom - top);
        }
    }
    const float uni = a.width * a.height + b.width * b.height - intersection;
    return uni > 0.0f ? intersection / uni : 0.0f;
}

inline cv::Point2f box_middle(const cv::Rect2f& r) {
    return (r.tl() + r.br()) * 0.5f;
}

// `r` with `by` more on every side.
inline cv::Rect2f grown_box(const cv::Rect2f& r, float by) {
    return {r.x - by, r.y - by, r.width + 2 * by, r.height + 2 * by};
}

// `r` moved by `shift` and scaled by `scale` about its middle.
inline cv::Rect2f moved_box(const cv::Rect2f& r, cv::Point2f shift, float scale) {
    const cv::Size2f size = r.size() * scale;
    return {box_middle(r) + shift - cv::Point2f(size.width, size.height) * 0.5f, size};
}

// Halves go to the even neighbour, as the detectors' own rounding does.
inline int nearest_int(double value) {
    return static_cast<int>(std::nearbyint(value));
}

} // namespace veilcam
