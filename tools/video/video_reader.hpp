#pragma once

#include "tools/video/ffmpeg_owners.hpp"

#include <string>
#include <vector>

namespace veilcam::video {

// Demuxes a file and decodes its first video stream; other packets (audio)
// are handed out untouched for copying.
class VideoReader {
  public:
    explicit VideoReader(const std::string& path);

    AVFormatContext* format() const { return format_.get(); }
    const AVStream* video_stream() const { return format_->streams[video_index_]; }
    const AVCodecContext* decoder() const { return decoder_.get(); }
    AVRational frame_rate() const;
    // Frames the container announces; 0 when it does not say.
    int64_t frame_count() const;
    // The clip's length in seconds; 0 when the container does not say.
    double duration_seconds() const;

    // Video packets that could not be decoded and were skipped.
    int64_t damaged_packets() const { return damaged_; }

    // The next decoded video frame, or null at the end. Packets of other
    // streams met on the way go to `passthrough`.
    AVFrame* next_frame(std::vector<PacketPtr>& passthrough);

  private:
    bool receive();

    InputPtr format_;
    CodecPtr decoder_;
    int video_index_ = -1;
    PacketPtr packet_;
    FramePtr frame_;
    bool draining_ = false;
    int64_t damaged_ = 0;
};

} // namespace veilcam::video
