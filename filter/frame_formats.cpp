#include "filter/frame_formats.hpp"

#include <opencv2/imgproc.hpp>

namespace veilcam {
namespace {

constexpr PlaneFormat kFull{0, 0, 1};
constexpr PlaneFormat kHalfWidth{1, 0, 1};
constexpr PlaneFormat kHalfSize{1, 1, 1};
constexpr PlaneFormat kNone{};
constexpr PlaneFormat kPacked2{0, 0, 2};
constexpr PlaneFormat kPacked3{0, 0, 3};
constexpr PlaneFormat kPacked4{0, 0, 4};
constexpr PlaneFormat kChromaPairs420{1, 1, 2};
constexpr PlaneFormat kChromaPairs422{1, 0, 2};
constexpr PlaneFormat kChromaPairs444{0, 0, 2};

constexpr SampleFormat k8Bit{1, 1, 0};
constexpr SampleFormat k10BitLow{2, 4, 0};
constexpr SampleFormat k12BitLow{2, 16, 0};
constexpr SampleFormat k10BitHigh{2, 256, 6};
constexpr SampleFormat k16Bit{2, 256, 0};

std::vector<FrameFormat> make_formats() {
    // Planar YUV formats are detected on their luma plane alone: a grey
    // picture is all the detectors need and costs one plane.
    using C = Component;
    using P = Packing;
    const int as_is = -1;
    const std::array<const char*, 2> none{nullptr, nullptr};
    // clang-format off
    return {
        // format, name, FFmpeg's names, packing, planes, samples, plane layouts,
        //     what each plane's channels hold, to BGR
        {VIDEO_FORMAT_I420, "I420", {"yuv420p", "yuvj420p"}, P::Samples, 3, k8Bit,
            {kFull, kHalfSize, kHalfSize, kNone}, {{{C::Y}, {C::U}, {C::V}}}, as_is},
        {VIDEO_FORMAT_NV12, "NV12", {"nv12", nullptr}, P::Samples, 2, k8Bit,
            {kFull, kChromaPairs420, kNone, kNone}, {{{C::Y}, {C::U, C::V}}}, as_is},
        {VIDEO_FORMAT_YUY2, "YUY2", {"yuyv422", nullptr}, P::Samples, 1, k8Bit,
            {kPacked2, kNone, kNone, kNone}, {{{C::Y, C::UV}}}, as_is},
        {VIDEO_FORMAT_UYVY, "UYVY", {"uyvy422", nullptr}, P::Samples, 1, k8Bit,
            {kPacked2, kNone, kNone, kNone}, {{{C::UV, C::Y}}}, as_is},
        {VIDEO_FORMAT_RGBA, "RGBA", {"rgba", nullptr}, P::Samples, 1, k8Bit,
            {kPacked4, kNone, kNone, kNone}, {{{C::R, C::G, C::B, C::A}}}, cv::COLOR_RGBA2BGR},
        {VIDEO_FORMAT_BGRA, "BGRA", {"bgra", nullptr}, P::Samples, 1, k8Bit,
            {kPacked4, kNone, kNone, kNone}, {{{C::B, C::G, C::R, C::A}}}, cv::COLOR_BGRA2BGR},
        {VIDEO_FORMAT_BGRX, "BGRX", {"bgr0", nullptr}, P::Samples, 1, k8Bit,
            {kPacked4, kNone, kNone, kNone}, {{{C::B, C::G, C::R, C::X}}}, cv::COLOR_BGRA2BGR},
        {VIDEO_FORMAT_Y800, "Y800", {"gray", nullptr}, P::Samples, 1, k8Bit,
            {kFull, kNone, kNone, kNone}, {{{C::Y}}}, as_is},
        {VIDEO_FORMAT_I444, "I444", {"yuv444p", "yuvj444p"}, P::Samples, 3, k8Bit,
            {kFull, kFull, kFull, kNone}, {{{C::Y}, {C::U}, {C::V}}}, as_is},
        {VIDEO_FORMAT_BGR3, "BGR3", {"bgr24", nullptr}, P::Samples, 1, k8Bit,
            {kPacked3, kNone, kNone, kNone}, {{{C::B, C::G, C::R}}}, as_is},
        {VIDEO_FORMAT_I422, "I422", {"yuv422p", "yuvj422p"}, P::Samples, 3, k8Bit,
            {kFull, kHalfWidth, kHalfWidth, kNone}, {{{C::Y}, {C::U}, {C::V}}}, as_is},
        {VIDEO_FORMAT_YVYU, "YVYU", {"yvyu422", nullptr}, P::Samples, 1, k8Bit,
            {kPacked2, kNone, kNone, kNone}, {{{C::Y, C::VU}}}, as_is},
        {VIDEO_FORMAT_I40A, "I40A", {"yuva420p", nullptr}, P::Samples, 4, k8Bit,
            {kFull, kHalfSize, kHalfSize, kFull}, {{{C::Y}, {C::U}, {C::V}, {C::A}}}, as_is},
        {VIDEO_FORMAT_I42A, "I42A", {"yuva422p", nullptr}, P::Samples, 4, k8Bit,
            {kFull, kHalfWidth, kHalfWidth, kFull}, {{{C::Y}, {C::U}, {C::V}, {C::A}}}, as_is},
        {VIDEO_FORMAT_YUVA, "YUVA", {"yuva444p", nullptr}, P::Samples, 4, k8Bit,
            {kFull, kFull, kFull, kFull}, {{{C::Y}, {C::U}, {C::V}, {C::A}}}, as_is},
        // Bytes V, U, Y, A: libobs reads it as a BGRA texture of Y, U, V and alpha.
        {VIDEO_FORMAT_AYUV, "AYUV", {"vuya", nullptr}, P::Samples, 1, k8Bit,
            {kPacked4, kNone, kNone, kNone}, {{{C::V, C::U, C::Y, C::A}}}, as_is},
        {VIDEO_FORMAT_I010, "I010", {"yuv420p10le", nullptr}, P::Samples, 3, k10BitLow,
            {kFull, kHalfSize, kHalfSize, kNone}, {{{C::Y}, {C::U}, {C::V}}}, as_is},
        {VIDEO_FORMAT_P010, "P010", {"p010le", nullptr}, P::Samples, 2, k10BitHigh,
            {kFull, kChromaPairs420, kNone, kNone}, {{{C::Y}, {C::U, C::V}}}, as_is},
        {VIDEO_FORMAT_I210, "I210", {"yuv422p10le", nullptr}, P::Samples, 3, k10BitLow,
            {kFull, kHalfWidth, kHalfWidth, kNone}, {{{C::Y}, {C::U}, {C::V}}}, as_is},
        {VIDEO_FORMAT_I412, "I412", {"yuv444p12le", nullptr}, P::Samples, 3, k12BitLow,
            {kFull, kFull, kFull, kNone}, {{{C::Y}, {C::U}, {C::V}}}, as_is},
        {VIDEO_FORMAT_YA2L, "YA2L", {"yuva444p12le", nullptr}, P::Samples, 4, k12BitLow,
            {kFull, kFull, kFull, kFull}, {{{C::Y}, {C::U}, {C::V}, {C::A}}}, as_is},
        {VIDEO_FORMAT_P216, "P216", {"p216le", nullptr}, P::Samples, 2, k16Bit,
            {kFull, kChromaPairs422, kNone, kNone}, {{{C::Y}, {C::U, C::V}}}, as_is},
        {VIDEO_FORMAT_P416, "P416", {"p416le", nullptr}, P::Samples, 2, k16Bit,
            {kFull, kChromaPairs444, kNone, kNone}, {{{C::Y}, {C::U, C::V}}}, as_is},
        // Unpacked in UYVY's order.
        {VIDEO_FORMAT_V210, "V210", none, P::V210, 1, k10BitLow,
            {kPacked2, kNone, kNone, kNone}, {{{C::UV, C::Y}}} /* as unpacked */, as_is},
        {VIDEO_FORMAT_R10L, "R10L", none, P::R10L, 1, k10BitLow,
            {kPacked3, kNone, kNone, kNone}, {{{C::B, C::G, C::R}}}, as_is},
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

cv::Rect plane_region(const FrameFormat& format, int plane, const cv::Rect& r) {
    const PlaneFormat& p = format.planes[plane];
    const int x0 = r.x >> p.x_shift;
    const int y0 = r.y >> p.y_shift;
    // Rounded out: every sample the region touches.
    const cv::Size end = plane_size(format, plane, r.x + r.width, r.y + r.height);
    return {x0, y0, end.width - x0, end.height - y0};
}

int channel_holding(const FrameFormat& format, int plane, Component component) {
    const PlaneComponents& held = format.components[plane];
    for (int c = 0; c < format.planes[plane].channels; ++c) {
        if (held[c] == component) {
            return c;
        }
    }
    return -1;
}

int packed_luma_channel(const FrameFormat& format) {
    return format.planes[0].channels > 1 ? channel_holding(format, 0, Component::Y) : -1;
}

int paired_chroma_channel(const PlaneComponents& held) {
    for (size_t c = 0; c < held.size(); ++c) {
        if (held[c] == Component::UV || held[c] == Component::VU) {
            return static_cast<int>(c);
        }
    }
    return -1;
}

bool alternates_chroma(const FrameFormat& format, int plane) {
    return paired_chroma_channel(format.components[plane]) >= 0;
}

} // namespace veilcam
