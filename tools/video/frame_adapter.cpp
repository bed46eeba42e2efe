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
    // Colours as FFmpeg reads the file back: BT.709 where the file says so,
    // BT.601 where it says nothing, full range only where it says so. A
    // solid colour and the outlines come out as asked.
    const video_colorspace space =
        frame.colorspace == AVCOL_SPC_BT709 ? VIDEO_CS_709 : VIDEO_CS_601;
    const video_range_type range =
        frame.color_range == AVCOL_RANGE_JPEG ? VIDEO_RANGE_FULL : VIDEO_RANGE_PARTIAL;
    video_format_get_parameters_for_format(space, range, format, out.color_matrix,
                                           out.color_range_min, out.color_range_max);
}

} // namespace veilcam::video
