#include "tools/video/frame_adapter.hpp"

namespace veilcam::video {

video_format host_format(AVPixelFormat format) {
    switch (format) {
    case AV_PIX_FMT_YUV420P:
    case AV_PIX_FMT_YUVJ420P:
        return VIDEO_FORMAT_I420;
    case AV_PIX_FMT_NV12:
        return VIDEO_FORMAT_NV12;
    case AV_PIX_FMT_YUYV422:
        return VIDEO_FORMAT_YUY2;
    case AV_PIX_FMT_UYVY422:
        return VIDEO_FORMAT_UYVY;
    case AV_PIX_FMT_RGBA:
        return VIDEO_FORMAT_RGBA;
    case AV_PIX_FMT_BGRA:
        return VIDEO_FORMAT_BGRA;
    case AV_PIX_FMT_BGR0:
        return VIDEO_FORMAT_BGRX;
    case AV_PIX_FMT_GRAY8:
        return VIDEO_FORMAT_Y800;
    case AV_PIX_FMT_YUV444P:
    case AV_PIX_FMT_YUVJ444P:
        return VIDEO_FORMAT_I444;
    case AV_PIX_FMT_BGR24:
        return VIDEO_FORMAT_BGR3;
    case AV_PIX_FMT_YUV422P:
    case AV_PIX_FMT_YUVJ422P:
        return VIDEO_FORMAT_I422;
    default:
        return VIDEO_FORMAT_NONE;
    }
}

void wrap_frame(AVFrame& frame, video_format format, obs_source_frame& out) {
    out = obs_source_frame{};
    for (int plane = 0; plane < 3; ++plane) {
        out.data[plane] = frame.data[plane];
        out.linesize[plane] = static_cast<uint32_t>(frame.linesize[plane]);
    }
    out.width = static_cast<uint32_t>(frame.width);
    out.height = static_cast<uint32_t>(frame.height);
    out.format = format;
}

} // namespace veilcam::video
