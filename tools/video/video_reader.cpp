#include "tools/video/video_reader.hpp"

#include "tools/video/stop_signals.hpp"

namespace veilcam::video {

VideoReader::VideoReader(const std::string& path)
    : packet_(av_packet_alloc()), frame_(make_frame()) {
    AVFormatContext* raw = avformat_alloc_context();
    if (!raw) {
        throw std::bad_alloc();
    }
    raw->interrupt_callback = {interrupt_when_stopped, nullptr};
    // On failure FFmpeg frees the context itself.
    check_av(avformat_open_input(&raw, path.c_str(), nullptr, nullptr), "cannot open " + path);
    format_.reset(raw);
    check_av(avformat_find_stream_info(format_.get(), nullptr), "cannot read streams of " + path);
    const AVCodec* codec = nullptr;
    video_index_ = av_find_best_stream(format_.get(), AVMEDIA_TYPE_VIDEO, -1, -1, &codec, 0);
    if (video_index_ < 0 || !codec) {
        throw VideoError(path + " has no video stream that can be decoded");
    }
    decoder_.reset(avcodec_alloc_context3(codec));
    check_av(
        avcodec_parameters_to_context(decoder_.get(), format_->streams[video_index_]->codecpar),
        "cannot set up the decoder");
    decoder_->thread_count = 0;
    check_av(avcodec_open2(decoder_.get(), codec, nullptr), "cannot open the decoder");
}

AVRational VideoReader::frame_rate() const {
    const AVRational rate =
        av_guess_frame_rate(format_.get(), format_->streams[video_index_], nullptr);
    return rate.num > 0 ? rate : AVRational{30, 1};
}

int64_t VideoReader::frame_count() const {
    return format_->streams[video_index_]->nb_frames;
}

// A damaged packet costs its frame, not the run, as with FFmpeg's own tools.
bool VideoReader::receive() {
    const int result = avcodec_receive_frame(decoder_.get(), frame_.get());
    if (result >= 0) {
        return true;
    }
    if (result != AVERROR(EAGAIN) && result != AVERROR_EOF) {
        ++damaged_;
    }
    return false;
}

AVFrame* VideoReader::next_frame(std::vector<PacketPtr>& passthrough) {
    while (true) {
        if (receive()) {
            return frame_.get();
        }
        if (draining_) {
            return nullptr;
        }
        const int result = av_read_frame(format_.get(), packet_.get());
        if (result == AVERROR_EOF) {
            draining_ = true;
            check_av(avcodec_send_packet(decoder_.get(), nullptr), "cannot finish decoding");
            continue;
        }
        check_av(result, "cannot read the input");
        if (packet_->stream_index == video_index_) {
            const int sent = avcodec_send_packet(decoder_.get(), packet_.get());
            av_packet_unref(packet_.get());
            if (sent < 0 && sent != AVERROR(EAGAIN)) {
                ++damaged_;
            }
        } else {
            PacketPtr copy(av_packet_alloc());
            av_packet_move_ref(copy.get(), packet_.get());
            passthrough.push_back(std::move(copy));
        }
    }
}

double VideoReader::duration_seconds() const {
    return format_->duration > 0 ? static_cast<double>(format_->duration) / AV_TIME_BASE : 0.0;
}

} // namespace veilcam::video
