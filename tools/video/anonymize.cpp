#include "tools/video/anonymize.hpp"

#include "detection/face_detector.hpp"
#include "filter/filter_instance.hpp"
#include "plugin/filter_callbacks.hpp"
#include "tools/video/frame_adapter.hpp"
#include "tools/video/frame_convert.hpp"
#include "tools/video/progress.hpp"
#include "tools/video/stop_signals.hpp"
#include "tools/video/temporary_file.hpp"
#include "tools/video/upright.hpp"
#include "tools/video/video_reader.hpp"
#include "tools/video/video_writer.hpp"

#include <obs-module.h>
#include <opencv2/core.hpp>
#include <opencv2/imgcodecs.hpp>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <memory>
#include <sstream>

namespace veilcam::video {
namespace {

namespace fs = std::filesystem;

struct FilterDeleter {
    void operator()(FilterInstance* instance) const { destroy(instance); }
};

VideoError still_past_end(double still_at, double length, const char* unit) {
    std::ostringstream message;
    message << "the still at " << still_at << " s is past the end of the clip (" << length << unit
            << ")";
    return VideoError(message.str());
}

// Each frame keeps its own time, rescaled to the encoder's, so that a clip of
// variable rate keeps its length and its sync with the copied audio. A frame
// without a time, or with one not after the frame before, follows that frame
// by one nominal frame.
class FrameTimes {
  public:
    FrameTimes(AVRational stream, AVRational encoder, AVRational frame_rate)
        : stream_(stream), encoder_(encoder),
          nominal_(std::max<int64_t>(1, av_rescale_q(1, av_inv_q(frame_rate), encoder))) {}

    void stamp(const AVFrame& decoded, AVFrame& out) {
        const int64_t time = decoded.best_effort_timestamp;
        int64_t pts = time == AV_NOPTS_VALUE ? AV_NOPTS_VALUE : rescaled(time);
        if (pts == AV_NOPTS_VALUE || (last_ != AV_NOPTS_VALUE && pts <= last_)) {
            pts = last_ == AV_NOPTS_VALUE ? 0 : last_ + nominal_;
        }
        if (first_ == AV_NOPTS_VALUE) {
            first_ = pts;
        }
        out.pts = last_ = pts;
        out.duration = decoded.duration > 0 ? rescaled(decoded.duration) : nominal_;
    }
    // Seconds from the first frame's start to the end of `frame`.
    double seconds_to_end(const AVFrame& frame) const {
        return static_cast<double>(frame.pts + frame.duration - first_) * av_q2d(encoder_);
    }

  private:
    int64_t rescaled(int64_t time) const { return av_rescale_q(time, stream_, encoder_); }

    AVRational stream_, encoder_;
    int64_t nominal_;
    int64_t first_ = AV_NOPTS_VALUE, last_ = AV_NOPTS_VALUE;
};

} // namespace

Summary anonymize(const Options& options, obs_data_t* settings, const BundledModels& models,
                  BatchPlace place) {
    const auto started = std::chrono::steady_clock::now();
    VideoReader reader(options.input);
    const AVCodecContext* decoder = reader.decoder();

    // No frame starts at the clip's end: a still there could never be taken.
    const double duration = reader.duration_seconds();
    if (!options.still.empty() && duration > 0 && options.still_at >= duration) {
        throw still_past_end(options.still_at, duration, " s");
    }

    std::unique_ptr<FilterInstance, FilterDeleter> filter(static_cast<FilterInstance*>(
        create_with_models(settings, nullptr, models, FaceIdOrigin::kSameEveryRun)));
    if (!filter) {
        throw VideoError("the filter could not be created (see the log above)");
    }

    // Both go to new files first and take their names only once whole, so a
    // failure never leaves half a video or damages an old one.
    TemporaryFile output(options.output);
    std::unique_ptr<TemporaryFile> still;
    if (!options.still.empty()) {
        still = std::make_unique<TemporaryFile>(options.still);
    }
    // Every frame is made the first frame's size, then turned upright as the
    // stream's metadata says: the detectors see faces as people stand.
    const int width = decoder->width, height = decoder->height;
    const int turn = clockwise_turn(*reader.video_stream());
    const bool quarter_turn = turn == 90 || turn == 270;
    VideoWriter writer(output.path().string(), options.output, reader.format(),
                       quarter_turn ? height : width, quarter_turn ? width : height,
                       reader.frame_rate());
    FrameTimes times(reader.video_stream()->time_base, writer.time_base(), reader.frame_rate());
    bool size_change_said = false;
    Progress progress(reader.frame_count(), options.show_progress, place);

    FramePtr work, upright, encoded, still_buffer;
    ScalePtr to_work, to_encoder, to_still;
    std::vector<PacketPtr> copied;
    int64_t index = 0;
    bool still_written = false;

    auto write_copied = [&] {
        for (PacketPtr& packet : copied) {
            writer.write_copied(packet.get());
        }
        copied.clear();
    };
    while (AVFrame* decoded = reader.next_frame(copied)) {
        throw_if_stopped();
        write_copied();

        // The filter works in place, so it gets a frame of its own: decoded
        // frames may still serve the decoder as references.
        // Turning needs planes of whole samples: such clips go through I420.
        const auto source_format = static_cast<AVPixelFormat>(decoded->format);
        video_format format = turn ? VIDEO_FORMAT_NONE : host_format(source_format);
        const AVPixelFormat work_format =
            format == VIDEO_FORMAT_NONE ? AV_PIX_FMT_YUV420P : source_format;
        if (format == VIDEO_FORMAT_NONE) {
            format = VIDEO_FORMAT_I420;
        }
        const bool resized = decoded->width != width || decoded->height != height;
        if (resized && !size_change_said) {
            blog(LOG_WARNING,
                 "the picture changes size from %dx%d to %dx%d at frame %lld; every frame is "
                 "scaled to %dx%d",
                 width, height, decoded->width, decoded->height, static_cast<long long>(index),
                 width, height);
            size_change_said = true;
        }
        if (!work || work->format != work_format) {
            allocate_frame(work, work_format, width, height);
        }
        check_av(av_frame_make_writable(work.get()), "out of memory for a frame");
        if (work_format == source_format && !resized) {
            check_av(av_frame_copy(work.get(), decoded), "cannot copy a frame");
        } else {
            convert(to_work, *decoded, *work);
        }
        AVFrame* shown = work.get();
        if (turn) {
            if (!upright) {
                allocate_frame(upright, work_format, writer.width(), writer.height());
            }
            check_av(av_frame_make_writable(upright.get()), "out of memory for a frame");
            turn_planes(*work, turn, *upright);
            shown = upright.get();
        }

        times.stamp(*decoded, *shown);
        // The still is the frame on screen at its time.
        const bool still_frame =
            still && !still_written && times.seconds_to_end(*shown) > options.still_at;
        cv::Mat still_before;
        if (still_frame) {
            still_before = to_bgr(to_still, *shown, still_buffer);
        }
        obs_source_frame host{};
        wrap_frame(*shown, format, host);
        // A frame whose faces could not be looked for is no output.
        if (!filter_video(filter.get(), &host) || filter->detection_failed) {
            throw VideoError("faces could not be detected on frame " + std::to_string(index) +
                             " (see the log above); nothing was written");
        }
        if (still_frame) {
            cv::Mat side_by_side;
            cv::hconcat(still_before, to_bgr(to_still, *shown, still_buffer), side_by_side);
            if (!cv::imwrite(still->path().string(), side_by_side)) {
                throw VideoError("cannot write the still " + options.still);
            }
            still_written = true;
        }

        AVFrame* out = shown;
        if (work_format != writer.pixel_format()) {
            if (!encoded) {
                allocate_frame(encoded, writer.pixel_format(), writer.width(), writer.height());
            }
            check_av(av_frame_make_writable(encoded.get()), "out of memory for a frame");
            convert(to_encoder, *shown, *encoded);
            encoded->pts = shown->pts;
            encoded->duration = shown->duration;
            out = encoded.get();
        }
        writer.write_video(out);
        ++index;
        progress.update(index);
    }
    write_copied(); // audio that follows the last video frame
    if (index == 0) {
        throw VideoError("no frame of " + options.input + " could be decoded");
    }
    if (still && !still_written) {
        throw still_past_end(options.still_at, static_cast<double>(index), " frames");
    }
    writer.finish();
    output.commit();
    if (still) {
        still->commit();
    }
    progress.finish();

    Summary summary;
    summary.frames = index;
    summary.damaged_packets = reader.damaged_packets();
    summary.faces_tracked = filter->tracker.tracks_started();
    summary.seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    return summary;
}

} // namespace veilcam::video
