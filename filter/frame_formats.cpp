#include "filter/frame_formats.hpp"

#include <opencv2/core.hpp>
#include <opencv2/imgproc.hpp>

namespace veilcam {
namespace {

constexpr PlaneFormat kFull{0, 0, 1, true};
constexpr PlaneFormat kHalfWidth{1, 0, 1, true};
constexpr PlaneFormat kHalfSize{1, 1, 1, true};
constexpr PlaneFormat kNone{};
constexpr PlaneFormat kAlpha{0, 0, 1, false};

std::vector<FrameFormat> make_formats() {
    // Planar YUV formats are detected on their luma plane alone: a grey
    // picture is all the detectors need and costs one plane. Four channels
    // shrink slower than three, so RGBA and BGRA are converted first.
    using O = OverlayStyle;
    const int grey = cv::COLOR_GRAY2BGR;
    const PlaneFormat packed2{0, 0, 2, true}, packed3{0, 0, 3, true}, packed4{0, 0, 4, true};
    const PlaneFormat nv12_chroma{1, 1, 2, true};
    // clang-format off
    return {
        // format, name, FFmpeg's names, planes, sample bytes, plane layouts,
        //     luma channel, to BGR, shrink first, overlay
        {VIDEO_FORMAT_I420, "I420", {"yuv420p", "yuvj420p"}, 3, 1, {kFull, kHalfSize, kHalfSize, kNone},
            -1, grey, true, O::LumaPlane},
        {VIDEO_FORMAT_NV12, "NV12", {"nv12", nullptr}, 2, 1, {kFull, nv12_chroma, kNone, kNone},
            -1, grey, true, O::LumaPlane},
        {VIDEO_FORMAT_YUY2, "YUY2", {"yuyv422", nullptr}, 1, 1, {packed2, kNone, kNone, kNone},
            0, cv::COLOR_YUV2BGR_YUY2, false, O::PackedLuma},
        {VIDEO_FORMAT_UYVY, "UYVY", {"uyvy422", nullptr}, 1, 1, {packed2, kNone, kNone, kNone},
            1, cv::COLOR_YUV2BGR_UYVY, false, O::PackedLuma},
        {VIDEO_FORMAT_RGBA, "RGBA", {"rgba", nullptr}, 1, 1, {packed4, kNone, kNone, kNone},
            -1, cv::COLOR_RGBA2BGR, false, O::Colour},
        {VIDEO_FORMAT_BGRA, "BGRA", {"bgra", nullptr}, 1, 1, {packed4, kNone, kNone, kNone},
            -1, cv::COLOR_BGRA2BGR, false, O::Colour},
        {VIDEO_FORMAT_BGRX, "BGRX", {"bgr0", nullptr}, 1, 1, {packed4, kNone, kNone, kNone},
            -1, cv::COLOR_BGRA2BGR, false, O::Colour},
        {VIDEO_FORMAT_Y800, "Y800", {"gray", nullptr}, 1, 1, {kFull, kNone, kNone, kNone},
            -1, grey, true, O::LumaPlane},
        {VIDEO_FORMAT_I444, "I444", {"yuv444p", "yuvj444p"}, 3, 1, {kFull, kFull, kFull, kNone},
            -1, grey, true, O::LumaPlane},
        {VIDEO_FORMAT_BGR3, "BGR3", {"bgr24", nullptr}, 1, 1, {packed3, kNone, kNone, kNone},
            -1, -1, true, O::Colour},
        {VIDEO_FORMAT_I422, "I422", {"yuv422p", "yuvj422p"}, 3, 1, {kFull, kHalfWidth, kHalfWidth, kNone},
            -1, grey, true, O::LumaPlane},
        {VIDEO_FORMAT_YVYU, "YVYU", {"yvyu422", nullptr}, 1, 1, {packed2, kNone, kNone, kNone},
            0, cv::COLOR_YUV2BGR_YVYU, false, O::PackedLuma},
        {VIDEO_FORMAT_I40A, "I40A", {"yuva420p", nullptr}, 4, 1, {kFull, kHalfSize, kHalfSize, kAlpha},
            -1, grey, true, O::LumaPlane},
        {VIDEO_FORMAT_I42A, "I42A", {"yuva422p", nullptr}, 4, 1, {kFull, kHalfWidth, kHalfWidth, kAlpha},
            -1, grey, true, O::LumaPlane},
        {VIDEO_FORMAT_YUVA, "YUVA", {"yuva444p", nullptr}, 4, 1, {kFull, kFull, kFull, kAlpha},
            -1, grey, true, O::LumaPlane},
    };
    // clang-format on
}

} // namespace

const std::vector<FrameFormat>& frame_formats() {
    static const std::vector<FrameFormat> formats = make_formats();
    return formats;
}

const FrameFormat* frame_format(video_format format) {
    for (const FrameFormat& row : frame_formats()) {
        if (row.format == format) {
            return &row;
        }
    }
    return nullptr;
}

cv::Size plane_size(const FrameFormat& format, int plane, int width, int height) {
    const PlaneFormat& p = format.planes[plane];
    return {(width + (1 << p.x_shift) - 1) >> p.x_shift,
            (height + (1 << p.y_shift) - 1) >> p.y_shift};
}

cv::Mat wrap_plane(const obs_source_frame& frame, const FrameFormat& format, int plane) {
    const cv::Size size =
        plane_size(format, plane, static_cast<int>(frame.width), static_cast<int>(frame.height));
    const int depth = format.sample_bytes == 2 ? CV_16U : CV_8U;
    return cv::Mat(size, CV_MAKETYPE(depth, format.planes[plane].channels), frame.data[plane],
                   frame.linesize[plane]);
}

void convert_to_bgr(const cv::Mat& plane0, const FrameFormat& format, cv::Mat& bgr) {
    if (format.to_bgr < 0) {
        plane0.copyTo(bgr);
    } else {
        cv::cvtColor(plane0, bgr, format.to_bgr);
    }
}

} // namespace veilcam
