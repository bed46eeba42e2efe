#include "tools/video/video_writer.hpp"

extern "C" {
#include <libavutil/opt.h>
}

namespace veilcam::video {

VideoWriter::VideoWriter(const std::string& path, const std::string& destination,
                         const AVFormatContext* input, int width, int height, AVRational frame_rate)
    : input_(input), packet_(av_packet_alloc()) {
    AVFormatContext* raw = nullptr;
    check_av(avformat_alloc_output_context2(&raw, nullptr, nullptr, destination.c_str()),
             "cannot choose an output format for " + destination);
    format_.reset(raw);
    const AVCodec* codec = avcodec_find_encoder(AV_CODEC_ID_H264);
    if (!codec) {
        throw VideoError("this FFmpeg has no H.264 encoder");
    }
    encoder_.reset(avcodec_alloc_context3(codec));
    encoder_->width = width;
    encoder_->height = height;
    // H.264 takes odd sizes only without chroma subsampling.
    encoder_->pix_fmt = width % 2 || height % 2 ? AV_PIX_FMT_YUV444P : AV_PIX_FMT_YUV420P;
    encoder_->framerate = frame_rate;
    encoder_->time_base = AVRational{1, 90000};
    encoder_->thread_count = 0;
    if (format_->oformat->flags & AVFMT_GLOBALHEADER) {
        encoder_->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
    }
    av_opt_set(encoder_->priv_data, "preset", "veryfast", 0);
    av_opt_set(encoder_->priv_data, "crf", "20", 0);
    check_av(avcodec_open2(encoder_.get(), codec, nullptr), "cannot open the H.264 encoder");

    video_ = avformat_new_stream(format_.get(), nullptr);
    if (!video_) {
        throw std::bad_alloc();
    }
    check_av(avcodec_parameters_from_context(video_->codecpar, encoder_.get()),
             "cannot describe the video stream");
    video_->time_base = encoder_->time_base;
    video_->avg_frame_rate = frame_rate;

    for (unsigned i = 0; i < input->nb_streams; ++i) {
        const AVStream* in = input->streams[i];
        if (in->codecpar->codec_type != AVMEDIA_TYPE_AUDIO) {
            continue;
        }
        AVStream* out = avformat_new_stream(format_.get(), nullptr);
        if (!out) {
            throw std::bad_alloc();
        }
        check_av(avcodec_parameters_copy(out->codecpar, in->codecpar),
                 "cannot copy an audio stream");
        out->codecpar->codec_tag = 0;
        out->time_base = in->time_base;
        copied_[static_cast<int>(i)] = out;
    }

    if (!(format_->oformat->flags & AVFMT_NOFILE)) {
        check_av(avio_open(&format_->pb, path.c_str(), AVIO_FLAG_WRITE),
                 "cannot write " + destination);
    }
    check_av(avformat_write_header(format_.get(), nullptr), "cannot start " + destination);
}

void VideoWriter::drain(bool flushing) {
    while (true) {
        const int result = avcodec_receive_packet(encoder_.get(), packet_.get());
        if (result == AVERROR(EAGAIN) || (flushing && result == AVERROR_EOF)) {
            return;
        }
        check_av(result, "cannot encode a video frame");
        av_packet_rescale_ts(packet_.get(), encoder_->time_base, video_->time_base);
        packet_->stream_index = video_->index;
        check_av(av_interleaved_write_frame(format_.get(), packet_.get()),
                 "cannot write the video");
    }
}

void VideoWriter::write_video(AVFrame* frame) {
    check_av(avcodec_send_frame(encoder_.get(), frame), "cannot encode a video frame");
    drain(false);
}

void VideoWriter::write_copied(AVPacket* packet) {
    const auto out = copied_.find(packet->stream_index);
    if (out == copied_.end()) {
        return;
    }
    av_packet_rescale_ts(packet, input_->streams[packet->stream_index]->time_base,
                         out->second->time_base);
    packet->stream_index = out->second->index;
    packet->pos = -1;
    check_av(av_interleaved_write_frame(format_.get(), packet), "cannot copy audio");
}

void VideoWriter::finish() {
    if (finished_) {
        return;
    }
    check_av(avcodec_send_frame(encoder_.get(), nullptr), "cannot finish encoding");
    drain(true);
    check_av(av_write_trailer(format_.get()), "cannot finish the output");
    finished_ = true;
}

} // namespace veilcam::video
