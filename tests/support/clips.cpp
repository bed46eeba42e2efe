#include "support/clips.hpp"

#include "tools/video/ffmpeg_owners.hpp"
#include "tools/video/video_reader.hpp"

#include <cmath>
#include <vector>

extern "C" {
#include <libavutil/channel_layout.h>
}

namespace veilcam::test {

using namespace veilcam::video;

namespace {

constexpr int kSampleRate = 48000;
constexpr int kFrameRate = 30;

CodecPtr open_encoder(AVCodecID id, const std::function<void(AVCodecContext*)>& setup) {
    const AVCodec* codec = avcodec_find_encoder(id);
    CodecPtr context(avcodec_alloc_context3(codec));
    setup(context.get());
    check_av(avcodec_open2(context.get(), codec, nullptr), "test clip encoder");
    return context;
}

void write_all(AVFormatContext* format, AVCodecContext* encoder, AVStream* stream, AVFrame* frame) {
    check_av(avcodec_send_frame(encoder, frame), "test clip encode");
    PacketPtr packet(av_packet_alloc());
    while (avcodec_receive_packet(encoder, packet.get()) == 0) {
        av_packet_rescale_ts(packet.get(), encoder->time_base, stream->time_base);
        packet->stream_index = stream->index;
        check_av(av_interleaved_write_frame(format, packet.get()), "test clip write");
    }
}

} // namespace

void make_clip(const std::string& path, const cv::Mat& picture, AVPixelFormat pixel_format,
               int frames, bool with_audio) {
    AVFormatContext* raw = nullptr;
    check_av(avformat_alloc_output_context2(&raw, nullptr, "nut", path.c_str()), "test clip");
    OutputPtr format(raw);

    CodecPtr video = open_encoder(AV_CODEC_ID_RAWVIDEO, [&](AVCodecContext* c) {
        c->width = picture.cols;
        c->height = picture.rows;
        c->pix_fmt = pixel_format;
        c->time_base = {1, kFrameRate};
        c->framerate = {kFrameRate, 1};
    });
    AVStream* video_stream = avformat_new_stream(format.get(), nullptr);
    avcodec_parameters_from_context(video_stream->codecpar, video.get());
    video_stream->time_base = video->time_base;

    CodecPtr audio;
    AVStream* audio_stream = nullptr;
    if (with_audio) {
        audio = open_encoder(AV_CODEC_ID_PCM_S16LE, [](AVCodecContext* c) {
            c->sample_fmt = AV_SAMPLE_FMT_S16;
            c->sample_rate = kSampleRate;
            av_channel_layout_default(&c->ch_layout, 1);
            c->time_base = {1, kSampleRate};
        });
        audio_stream = avformat_new_stream(format.get(), nullptr);
        avcodec_parameters_from_context(audio_stream->codecpar, audio.get());
        audio_stream->time_base = audio->time_base;
    }
    check_av(avio_open(&format->pb, path.c_str(), AVIO_FLAG_WRITE), "test clip open");
    check_av(avformat_write_header(format.get(), nullptr), "test clip header");

    FramePtr bgr = make_frame();
    bgr->data[0] = picture.data;
    bgr->linesize[0] = static_cast<int>(picture.step);
    FramePtr frame = make_frame();
    frame->format = pixel_format;
    frame->width = picture.cols;
    frame->height = picture.rows;
    check_av(av_frame_get_buffer(frame.get(), 0), "test clip frame");
    ScalePtr scaler(sws_getContext(picture.cols, picture.rows, AV_PIX_FMT_BGR24, picture.cols,
                                   picture.rows, pixel_format, SWS_BILINEAR, nullptr, nullptr,
                                   nullptr));
    sws_scale(scaler.get(), bgr->data, bgr->linesize, 0, picture.rows, frame->data,
              frame->linesize);

    FramePtr tone = make_frame();
    const int samples = kSampleRate / kFrameRate;
    for (int i = 0; i < frames; ++i) {
        frame->pts = i;
        write_all(format.get(), video.get(), video_stream, frame.get());
        if (audio) {
            av_frame_unref(tone.get());
            tone->format = AV_SAMPLE_FMT_S16;
            tone->sample_rate = kSampleRate;
            tone->nb_samples = samples;
            av_channel_layout_default(&tone->ch_layout, 1);
            check_av(av_frame_get_buffer(tone.get(), 0), "test clip audio");
            auto* pcm = reinterpret_cast<int16_t*>(tone->data[0]);
            for (int s = 0; s < samples; ++s) {
                pcm[s] = static_cast<int16_t>(8000 * std::sin((i * samples + s) * 0.05));
            }
            tone->pts = static_cast<int64_t>(i) * samples;
            write_all(format.get(), audio.get(), audio_stream, tone.get());
        }
    }
    write_all(format.get(), video.get(), video_stream, nullptr);
    if (audio) {
        write_all(format.get(), audio.get(), audio_stream, nullptr);
    }
    check_av(av_write_trailer(format.get()), "test clip trailer");
}

ClipInfo read_clip(const std::string& path) {
    ClipInfo info;
    VideoReader reader(path);
    info.video_codec = avcodec_get_name(reader.decoder()->codec_id);
    std::vector<PacketPtr> others;
    ScalePtr scaler;
    while (AVFrame* frame = reader.next_frame(others)) {
        if (info.video_frames++ == 0) {
            info.first_frame.create(frame->height, frame->width, CV_8UC3);
            uint8_t* data[4] = {info.first_frame.data};
            int linesize[4] = {static_cast<int>(info.first_frame.step)};
            scaler.reset(sws_getContext(frame->width, frame->height,
                                        static_cast<AVPixelFormat>(frame->format), frame->width,
                                        frame->height, AV_PIX_FMT_BGR24, SWS_BILINEAR, nullptr,
                                        nullptr, nullptr));
            sws_scale(scaler.get(), frame->data, frame->linesize, 0, frame->height, data, linesize);
        }
    }
    for (const PacketPtr& packet : others) {
        if (reader.format()->streams[packet->stream_index]->codecpar->codec_type ==
            AVMEDIA_TYPE_AUDIO) {
            ++info.audio_packets;
            for (int i = 0; i < packet->size; ++i) {
                info.audio_checksum = info.audio_checksum * 131 + packet->data[i];
            }
        }
    }
    return info;
}

} // namespace veilcam::test
