#include "tools/video/frame_adapter.hpp"

#include "filter/frame_formats.hpp"

extern "C" {
#include <libavutil/pixdesc.h>
}

#include <cstring>

namespace veilcam::video {

video_format host_format(AVPixelFormat format) {
    const char* name = av_get_pix_fmt_name(format);
    for (const FrameFormat& row : frame_formats()) {
        for (const char* ffmpeg_name : row.ffmpeg_names) {
            if (name && ffmpeg_name && std::strcmp(name, ffmpeg_name) == 0) {
                return row.format;
            }
        }
    }
    return VIDEO_FORMAT_NONE;
}

void wrap_frame(AVFrame& frame, video_format format, obs_source_frame& out) {
    out = obs_source_frame{};
    for (int plane = 0; plane < MAX_AV_PLANES && plane < AV_NUM_DATA_POINTERS; ++plane) {
        out.data[plane] = frame.data[plane];
        out.linesize[plane] = static_cast<uint32_t>(frame.linesize[plane]);
    }
    out.width = static_cast<uint32_t>(frame.width);
    out.height = static_cast<uint32_t>(frame.height);
    out.format = format;
}

} // namespace veilcam::video
