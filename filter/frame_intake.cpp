#include "filter/frame_intake.hpp"

#include "detection/detection_pass.hpp"
#include "filter/filter_callbacks.hpp"
#include "filter/filter_instance.hpp"
#include "filter/frame_formats.hpp"
#include "filter/host_boundary.hpp"
#include "filter/overlay.hpp"
#include "filter/region_obscuring.hpp"

namespace veilcam {
namespace {

void process_frame(FilterInstance& f, obs_source_frame& frame) {
    std::lock_guard<std::mutex> lock(f.mutex);
    if (!f.enabled || !frame.data[0] || frame.width == 0 || frame.height == 0) {
        return;
    }
    const FrameFormat* format = frame_format(frame.format);
    if (!format) {
        if (!f.unsupported_format_logged) {
            blog(LOG_WARNING, "[veilcam] Unsupported source frame format: %d",
                 static_cast<int>(frame.format));
            f.unsupported_format_logged = true;
        }
        return;
    }

    const int32_t cadence = f.frame_counter % f.detection_interval;
    f.frame_counter = static_cast<int32_t>(static_cast<uint32_t>(f.frame_counter) + 1u);
    if (cadence == 0) {
        f.tracker.update(detect_faces(f, frame));
    }

    if (format->bytes_per_pixel > 0) {
        obscure_packed_frame(f, frame, format->bytes_per_pixel);
    } else {
        obscure_planar_frame(f, frame);
    }
    draw_overlay(f, frame);
}

} // namespace

cv::Mat make_working_image(FilterInstance& f, const obs_source_frame* frame) {
    if (!frame || !frame->data[0]) {
        return cv::Mat();
    }
    if (const FrameFormat* format = frame_format(frame->format)) {
        convert_to_bgr(wrap_plane0(*frame, *format), *format, f.working_image);
    }
    return f.working_image;
}

obs_source_frame* filter_video(void* data, obs_source_frame* frame) {
    if (!frame) {
        return nullptr;
    }
    auto* instance = static_cast<FilterInstance*>(data);
    run_guarded(*instance, "filter_video", [&] { process_frame(*instance, *frame); });
    return frame;
}

} // namespace veilcam
