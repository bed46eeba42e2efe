#include "filter/frame_pipeline.hpp"

#include "filter/filter_instance.hpp"
#include "filter/region_obscuring.hpp"

#include <obs-module.h>
#include <opencv2/imgproc.hpp>

namespace veilcam {
namespace {

void detect_and_track(FilterInstance& f, const obs_source_frame& frame, const FrameFormat& format) {
    if (!ensure_detector(f.detector, f.detector_choice, f.settings.confidence)) {
        f.detection.detections.clear();
        f.tracker.update(f.detection.detections);
        return;
    }
    const cv::Size size(static_cast<int>(frame.width), static_cast<int>(frame.height));
    const double scale = detection_scale(f.detector, f.settings.detection_max_dimension, size);
    make_detection_image(frame, format, scale, f.detection_plane, f.working_image,
                         f.detection_image);
    f.tracker.update(
        detect_faces(f.detector, f.detection, f.settings, f.detection_image, scale, size));
}

} // namespace

void make_working_image(const obs_source_frame& frame, const FrameFormat& format,
                        cv::Mat& working) {
    convert_to_bgr(wrap_plane(frame, format, 0), format, working);
}

void make_detection_image(const obs_source_frame& frame, const FrameFormat& format, double scale,
                          cv::Mat& plane, cv::Mat& working, cv::Mat& detection) {
    if (scale < 1.0 && format.shrinks_before_conversion) {
        // A fraction of the work of converting the whole frame, same picture.
        cv::resize(wrap_plane(frame, format, 0), plane, cv::Size(), scale, scale, cv::INTER_AREA);
        convert_to_bgr(plane, format, detection);
        return;
    }
    make_working_image(frame, format, working);
    if (scale < 1.0) {
        cv::resize(working, detection, cv::Size(), scale, scale, cv::INTER_AREA);
    } else {
        working.copyTo(detection);
    }
}

void process_frame(FilterInstance& f, obs_source_frame& frame) {
    std::lock_guard<std::mutex> lock(f.mutex);
    if (!f.settings.enabled || !frame.data[0] || frame.width == 0 || frame.height == 0) {
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

    const int32_t cadence = f.frame_counter % f.settings.detection_interval;
    f.frame_counter = static_cast<int32_t>(static_cast<uint32_t>(f.frame_counter) + 1u);
    if (cadence == 0) {
        detect_and_track(f, frame, *format);
    }
    obscure_frame(frame, *format, f.tracker.tracks(), f.settings, f.region_scratch);
    draw_overlay(frame, *format, f.tracker.tracks(), f.settings, f.overlay);
}

} // namespace veilcam
