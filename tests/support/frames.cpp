#include "support/frames.hpp"

#include <opencv2/imgproc.hpp>

#include <algorithm>
#include <cstring>
#include <stdexcept>

namespace veilcam::test {
namespace {

constexpr uint8_t kPaddingByte = 0xA5;

void add_plane(TestFrame& t, const cv::Mat& pixels, int padding) {
    const int plane = t.plane_count++;
    const int row_bytes = pixels.cols * static_cast<int>(pixels.elemSize());
    const int stride = row_bytes + padding;
    t.storage[plane].assign(static_cast<size_t>(stride) * pixels.rows, kPaddingByte);
    for (int y = 0; y < pixels.rows; ++y) {
        std::memcpy(t.storage[plane].data() + static_cast<size_t>(y) * stride, pixels.ptr(y),
                    static_cast<size_t>(row_bytes));
    }
    t.shapes[plane] = PlaneShape{pixels.cols, pixels.rows, static_cast<int>(pixels.elemSize())};
    t.frame.data[plane] = t.storage[plane].data();
    t.frame.linesize[plane] = static_cast<uint32_t>(stride);
}

// Splits an OpenCV I420 image (Y, then U, then V, all stacked) into planes.
std::array<cv::Mat, 3> i420_planes(const cv::Mat& bgr) {
    cv::Mat yuv;
    cv::cvtColor(bgr, yuv, cv::COLOR_BGR2YUV_I420);
    const int w = bgr.cols, h = bgr.rows;
    cv::Mat y = yuv.rowRange(0, h).clone();
    const uint8_t* chroma = yuv.ptr(h);
    cv::Mat u(h / 2, w / 2, CV_8UC1, const_cast<uint8_t*>(chroma));
    cv::Mat v(h / 2, w / 2, CV_8UC1, const_cast<uint8_t*>(chroma) + (w / 2) * (h / 2));
    return {y, u.clone(), v.clone()};
}

std::array<cv::Mat, 3> yuv444_planes(const cv::Mat& bgr) {
    cv::Mat yuv;
    cv::cvtColor(bgr, yuv, cv::COLOR_BGR2YUV);
    std::array<cv::Mat, 3> planes;
    cv::split(yuv, planes.data());
    return planes;
}

} // namespace

TestFrame::TestFrame(const TestFrame& other) {
    *this = other;
}

TestFrame& TestFrame::operator=(const TestFrame& other) {
    frame = other.frame;
    storage = other.storage;
    shapes = other.shapes;
    plane_count = other.plane_count;
    for (int i = 0; i < 3; ++i) {
        frame.data[i] = i < plane_count ? storage[i].data() : nullptr;
    }
    return *this;
}

cv::Mat TestFrame::plane_bytes(int plane) const {
    const PlaneShape& s = shapes[plane];
    return cv::Mat(s.height, s.width * s.bytes_per_pixel, CV_8UC1,
                   const_cast<uint8_t*>(storage[plane].data()), frame.linesize[plane]);
}

const std::vector<FormatCase>& accepted_formats() {
    static const std::vector<FormatCase> formats = {
        {VIDEO_FORMAT_I420, "I420"}, {VIDEO_FORMAT_NV12, "NV12"}, {VIDEO_FORMAT_YUY2, "YUY2"},
        {VIDEO_FORMAT_UYVY, "UYVY"}, {VIDEO_FORMAT_RGBA, "RGBA"}, {VIDEO_FORMAT_BGRA, "BGRA"},
        {VIDEO_FORMAT_BGRX, "BGRX"}, {VIDEO_FORMAT_Y800, "Y800"}, {VIDEO_FORMAT_I444, "I444"},
        {VIDEO_FORMAT_BGR3, "BGR3"}, {VIDEO_FORMAT_I422, "I422"},
    };
    return formats;
}

TestFrame make_frame(const cv::Mat& source, video_format format, int padding) {
    // 4:2:x formats need even sizes.
    const cv::Mat bgr = source(cv::Rect(0, 0, source.cols & ~1, source.rows & ~1));
    TestFrame t;
    t.frame.width = static_cast<uint32_t>(bgr.cols);
    t.frame.height = static_cast<uint32_t>(bgr.rows);
    t.frame.format = format;
    cv::Mat converted;
    switch (format) {
    case VIDEO_FORMAT_I420: {
        for (const cv::Mat& plane : i420_planes(bgr)) {
            add_plane(t, plane, padding);
        }
        break;
    }
    case VIDEO_FORMAT_NV12: {
        const auto planes = i420_planes(bgr);
        cv::Mat uv;
        cv::merge(std::vector<cv::Mat>{planes[1], planes[2]}, uv);
        add_plane(t, planes[0], padding);
        add_plane(t, uv, padding);
        break;
    }
    case VIDEO_FORMAT_I444:
        for (const cv::Mat& plane : yuv444_planes(bgr)) {
            add_plane(t, plane, padding);
        }
        break;
    case VIDEO_FORMAT_I422: {
        const auto planes = yuv444_planes(bgr);
        add_plane(t, planes[0], padding);
        for (int i = 1; i < 3; ++i) {
            cv::Mat half;
            cv::resize(planes[i], half, cv::Size(bgr.cols / 2, bgr.rows), 0, 0, cv::INTER_AREA);
            add_plane(t, half, padding);
        }
        break;
    }
    case VIDEO_FORMAT_Y800:
        cv::cvtColor(bgr, converted, cv::COLOR_BGR2GRAY);
        add_plane(t, converted, padding);
        break;
    case VIDEO_FORMAT_YUY2:
        cv::cvtColor(bgr, converted, cv::COLOR_BGR2YUV_YUY2);
        add_plane(t, converted, padding);
        break;
    case VIDEO_FORMAT_UYVY:
        cv::cvtColor(bgr, converted, cv::COLOR_BGR2YUV_UYVY);
        add_plane(t, converted, padding);
        break;
    case VIDEO_FORMAT_RGBA:
        cv::cvtColor(bgr, converted, cv::COLOR_BGR2RGBA);
        add_plane(t, converted, padding);
        break;
    case VIDEO_FORMAT_BGRA:
    case VIDEO_FORMAT_BGRX:
        cv::cvtColor(bgr, converted, cv::COLOR_BGR2BGRA);
        add_plane(t, converted, padding);
        break;
    case VIDEO_FORMAT_BGR3:
        add_plane(t, bgr, padding);
        break;
    default:
        throw std::invalid_argument("make_frame: format not made by the tests");
    }
    return t;
}

cv::Rect plane_rect(const TestFrame& t, int plane, const cv::Rect& r) {
    const PlaneShape& s = t.shapes[plane];
    const int w = static_cast<int>(t.frame.width), h = static_cast<int>(t.frame.height);
    const int x0 = r.x * s.width / w;
    const int y0 = r.y * s.height / h;
    const int x1 = ((r.x + r.width) * s.width + w - 1) / w;
    const int y1 = ((r.y + r.height) * s.height + h - 1) / h;
    return cv::Rect(x0, y0, x1 - x0 + 1, y1 - y0 + 1) & cv::Rect(0, 0, s.width, s.height);
}

double detail(const TestFrame& t, int plane, const cv::Rect& r) {
    const cv::Rect p = plane_rect(t, plane, r);
    const int bpp = t.shapes[plane].bytes_per_pixel;
    const cv::Mat bytes = t.plane_bytes(plane);
    double sum = 0;
    long count = 0;
    for (int y = p.y; y < p.y + p.height; ++y) {
        const uint8_t* row = bytes.ptr(y);
        for (int x = p.x * bpp; x + bpp < (p.x + p.width) * bpp; ++x) {
            sum += std::abs(row[x + bpp] - row[x]);
            ++count;
        }
    }
    return count ? sum / count : 0.0;
}

int changed_bytes_outside(const TestFrame& before, const TestFrame& after, int plane,
                          const std::vector<cv::Rect>& regions) {
    const PlaneShape& s = before.shapes[plane];
    const int stride = static_cast<int>(before.frame.linesize[plane]);
    cv::Mat allowed(s.height, stride, CV_8UC1, cv::Scalar(0));
    for (const cv::Rect& r : regions) {
        const cv::Rect p = plane_rect(before, plane, r);
        allowed(cv::Rect(p.x * s.bytes_per_pixel, p.y, p.width * s.bytes_per_pixel, p.height))
            .setTo(1);
    }
    int changed = 0;
    for (int y = 0; y < s.height; ++y) {
        const uint8_t* a = before.storage[plane].data() + static_cast<size_t>(y) * stride;
        const uint8_t* b = after.storage[plane].data() + static_cast<size_t>(y) * stride;
        for (int x = 0; x < stride; ++x) {
            if (a[x] != b[x] && !allowed.at<uint8_t>(y, x)) {
                ++changed;
            }
        }
    }
    return changed;
}

} // namespace veilcam::test
