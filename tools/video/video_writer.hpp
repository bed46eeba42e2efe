#pragma once

#include "tools/video/ffmpeg_owners.hpp"

#include <map>
#include <string>

namespace veilcam::video {

// Encodes H.264 at the input's size and frame rate and copies the input's
// audio streams unchanged. Writes to `path`; messages name `destination`, the
// file the user asked for.
class VideoWriter {
  public:
    VideoWriter(const std::string& path, const std::string& destination,
                const AVFormatContext* input, int width, int height, AVRational frame_rate);
    VideoWriter(const VideoWriter&) = delete;
    VideoWriter& operator=(const VideoWriter&) = delete;

    // The encoder's pixel format: yuv420p, or yuv444p for an odd size.
    AVPixelFormat pixel_format() const { return encoder_->pix_fmt; }
    int width() const { return encoder_->width; }
    int height() const { return encoder_->height; }
    // Fine enough for any input's frame times (MPEG's 90 kHz clock).
    AVRational time_base() const { return encoder_->time_base; }
    // A frame of the output size in `pixel_format()`; its pts and duration
    // in `time_base()`.
    void write_video(AVFrame* frame);
    // A packet of an input stream that is copied (others are dropped).
    void write_copied(AVPacket* packet);
    void finish();

  private:
    void drain(bool flushing);

    OutputPtr format_;
    const AVFormatContext* input_;
    CodecPtr encoder_;
    AVStream* video_ = nullptr;
    std::map<int, AVStream*> copied_; // input stream index -> output stream
    PacketPtr packet_;
    bool finished_ = false;
};

} // namespace veilcam::video
