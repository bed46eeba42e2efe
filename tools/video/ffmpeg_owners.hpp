#pragma once

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libswscale/swscale.h>
}

#include <memory>
#include <stdexcept>
#include <string>

// One owner per FFmpeg object, so that every path, failures included,
// releases what it made.
namespace veilcam::video {

struct FrameFree {
    void operator()(AVFrame* frame) const { av_frame_free(&frame); }
};
struct PacketFree {
    void operator()(AVPacket* packet) const { av_packet_free(&packet); }
};
struct CodecFree {
    void operator()(AVCodecContext* codec) const { avcodec_free_context(&codec); }
};
struct InputClose {
    void operator()(AVFormatContext* format) const { avformat_close_input(&format); }
};
// An output context with the file it may have opened.
struct OutputClose {
    void operator()(AVFormatContext* format) const {
        if (format->pb && !(format->oformat->flags & AVFMT_NOFILE)) {
            avio_closep(&format->pb);
        }
        avformat_free_context(format);
    }
};
struct ScaleFree {
    void operator()(SwsContext* scale) const { sws_freeContext(scale); }
};

using FramePtr = std::unique_ptr<AVFrame, FrameFree>;
using PacketPtr = std::unique_ptr<AVPacket, PacketFree>;
using CodecPtr = std::unique_ptr<AVCodecContext, CodecFree>;
using InputPtr = std::unique_ptr<AVFormatContext, InputClose>;
using OutputPtr = std::unique_ptr<AVFormatContext, OutputClose>;
using ScalePtr = std::unique_ptr<SwsContext, ScaleFree>;

// What went wrong, in words a user can act on.
struct VideoError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

inline std::string av_error_text(int code) {
    char text[AV_ERROR_MAX_STRING_SIZE] = {};
    av_strerror(code, text, sizeof(text));
    return text;
}

// Throws VideoError "<what>: <FFmpeg's reason>" for a negative FFmpeg result.
inline int check_av(int result, const std::string& what) {
    if (result < 0) {
        throw VideoError(what + ": " + av_error_text(result));
    }
    return result;
}

inline FramePtr make_frame() {
    FramePtr frame(av_frame_alloc());
    if (!frame) {
        throw std::bad_alloc();
    }
    return frame;
}

} // namespace veilcam::video
