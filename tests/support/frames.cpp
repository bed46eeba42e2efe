#include "support/frames.hpp"

#include <opencv2/imgproc.hpp>

#include <algorithm>
#include <cstring>
#include <stdexcept>
#include <utility>

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

// The inverse of each format's conversion to BGR.
int from_bgr(const FrameFormat& format) {
    switch (format.to_bgr) {
    case cv::COLOR_YUV2BGR_YUY2:
        return cv::COLOR_BGR2YUV_YUY2;
    case cv::COLOR_YUV2BGR_UYVY:
        return cv::COLOR_BGR2YUV_UYVY;
    case cv::COLOR_RGBA2BGR:
        return cv::COLOR_BGR2RGBA;
    case cv::COLOR_BGRA2BGR:
        return cv::COLOR_BGR2BGRA;
    default:
        return -1;
    }
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
    for (int i = 0; i < static_cast<int>(storage.size()); ++i) {
        frame.data[i] = i < plane_count ? storage[i].data() : nullptr;
    }
    return *this;
}

cv::Mat TestFrame::plane_bytes(int plane) const {
    const PlaneShape& s = shapes[plane];
    return cv::Mat(s.height, s.width * s.bytes_per_pixel, CV_8UC1,
                   const_cast<uint8_t*>(storage[plane].data()), frame.linesize[plane]);
}

TestFrame make_frame(const cv::Mat& source, video_format format, int padding) {
    const FrameFormat* layout = frame_format(format);
    if (!layout) {
        throw std::invalid_argument("make_frame: format not made by the tests");
    }
    // 4:2:x formats need even sizes.
    const cv::Mat bgr = source(cv::Rect(0, 0, source.cols & ~1, source.rows & ~1));
    TestFrame t;
    t.frame.width = static_cast<uint32_t>(bgr.cols);
    t.frame.height = static_cast<uint32_t>(bgr.rows);
    t.frame.format = format;
    if (layout->overlay != OverlayStyle::LumaPlane) {
        cv::Mat packed = bgr;
        if (format == VIDEO_FORMAT_YVYU) {
            // YUY2 with its chroma bytes exchanged.
            cv::cvtColor(bgr, packed, cv::COLOR_BGR2YUV_YUY2);
            packed.reshape(4).forEach<cv::Vec4b>(
                [](cv::Vec4b& pair, const int*) { std::swap(pair[1], pair[3]); });
        } else if (from_bgr(*layout) >= 0) {
            cv::cvtColor(bgr, packed, from_bgr(*layout));
        }
        add_plane(t, packed, padding);
        return t;
    }
    // Planar YUV: full-size planes shrunk to each plane's size, U and V
    // interleaved where a plane holds both; alpha a slow gradient, nearly opaque.
    cv::Mat yuv;
    cv::cvtColor(bgr, yuv, cv::COLOR_BGR2YUV);
    std::vector<cv::Mat> yuv_planes;
    cv::split(yuv, yuv_planes);
    for (int plane = 0, next = 0; plane < layout->plane_count; ++plane) {
        std::vector<cv::Mat> parts;
        const cv::Size size = plane_size(*layout, plane, bgr.cols, bgr.rows);
        for (int c = 0; c < layout->planes[plane].channels; ++c) {
            parts.emplace_back(size, CV_8UC1);
            if (layout->planes[plane].hidden) {
                cv::resize(yuv_planes[next++], parts.back(), size, 0, 0, cv::INTER_AREA);
            } else {
                parts.back().forEach<uint8_t>([](uint8_t& a, const int* at) {
                    a = static_cast<uint8_t>(255 - (at[0] / 8) % 32);
                });
            }
        }
        cv::Mat pixels;
        cv::merge(parts, pixels);
        add_plane(t, pixels, padding);
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
