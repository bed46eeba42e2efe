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

// Halves go to the even neighbour, as the detectors' own rounding does.
inline int nearest_int(double value) {
    return static_cast<int>(std::nearbyint(value));
}

} // namespace veilcam
