#pragma once

#include <opencv2/core/mat.hpp>

namespace veilcam {

// An image of `size` and `type` over the bytes of `storage`, which grow when
// they are too few (by half again, as a face's region varies by a few rows
// from frame to frame) and are never given back: areas that change size
// from frame to frame then allocate only until the largest has been seen.
inline cv::Mat reused_image(cv::Mat& storage, cv::Size size, int type) {
    const size_t bytes = static_cast<size_t>(size.area()) * CV_ELEM_SIZE(type);
    if (storage.total() * storage.elemSize() < bytes) {
        storage.create(1, static_cast<int>(bytes + bytes / 2), CV_8UC1);
    }
    return cv::Mat(size, type, storage.data);
}

} // namespace veilcam
