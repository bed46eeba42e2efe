#include "filter/frame_pipeline.hpp"

#include "detection/detection_tiles.hpp"
#include "filter/detection_colour.hpp"
#include "filter/filter_instance.hpp"
#include "filter/plane_samples.hpp"
#include "filter/region_obscuring.hpp"
#include "filter/shot_change.hpp"

#include <obs-module.h>
#include <opencv2/imgproc.hpp>

#include <algorithm>
#include <chrono>
#include <cmath>

namespace veilcam {
namespace {

// What detection starts from: `area` of plane 0's samples, or its luma
// channel alone where the picture is detected in grey. Packed 4:2:2 shares
// chroma between pixel pairs: an odd last column has no pair and is left out.
cv::Mat detectable_plane0(const obs_source_frame& frame, const FrameFormat& format,
                          const cv::Rect& area, DetectionImages& images) {
    const cv::Mat plane0 = load_area(frame, format, 0, area, images.unpacked);
    if (format.to_bgr < 0 && format.luma_channel >= 0) {
        cv::extractChannel(plane0, images.luma, format.luma_channel);
        return images.luma;
    }
    return format.luma_channel >= 0 ? plane0.colRange(0, plane0.cols & ~1) : plane0;
}

// A shrink to at least one pixel each way, however thin the frame.
cv::Size scaled_size(cv::Size size, double scale) {
    return {std::max(1, static_cast<int>(std::lround(size.width * scale))),
            std::max(1, static_cast<int>(std::lround(size.height * scale)))};
}

// Boxes found in the upright picture of a flipped frame, put back on its rows.
void flip_rows(std::vector<FaceDetection>& detections, int frame_height) {
    for (FaceDetection& box : detections) {
        box.y = frame_height - box.y - box.height;
    }
}

cv::Rect frame_rect(const obs_source_frame& frame) {
    return {0, 0, static_cast<int>(frame.width), static_cast<int>(frame.height)};
}

// Where `area` of the frame lies in the upright picture that is searched.
cv::Point upright_origin(const cv::Rect& area, const obs_source_frame& frame) {
    return {area.x, frame.flip ? static_cast<int>(frame.height) - area.y - area.height : area.y};
}

// How long a frame of this source lasts: from its timestamps, else OBS's
// frame rate, else 30 frames a second.
double frame_milliseconds(const FilterInstance& f) {
    if (f.frame_duration_ns > 0) {
        return static_cast<double>(f.frame_duration_ns) / 1e6;
    }
    // OBS's video settings exist only in a running OBS (not in the video tool).
    obs_video_info video{};
    if (obs_initialized() && obs_get_video_info(&video) && video.fps_num > 0) {
        return 1000.0 * video.fps_den / video.fps_num;
    }
    return 1000.0 / 30.0;
}

// A detector is built on the video thread: a start-up that held the
// picture up for longer than a frame is said, once for each start-up.
void say_slow_start(const FilterInstance& f, std::chrono::steady_clock::duration took) {
    const double milliseconds = std::chrono::duration<double, std::milli>(took).count();
    const double frame = frame_milliseconds(f);
    if (milliseconds > frame) {
        blog(LOG_WARNING,
             "[veilcam] Starting the detector on '%s' took %.0f ms, longer than a frame "
             "(%.0f ms): the video waited meanwhile",
             f.detector.active_device.c_str(), milliseconds, frame);
    }
}

// False when no detector could run or it failed: the tracks are then left
// as they are, so that every face stays hidden where it was last seen.
bool detect_and_track(FilterInstance& f, const obs_source_frame& frame, const FrameFormat& format,
                      bool new_shot) {
    bool detected = false;
    f.detection.detections.clear();
    const cv::Rect whole = frame_rect(frame);
    double scale = 1.0;
    DetectionTile tile;
    try {
        // A GPU that fails drops itself; the CPU detector then takes this
        // very frame, so that the failure leaves no frame unsearched.
        for (int attempt = 0; attempt < 2 && !detected; ++attempt) {
            const bool starting = !f.detector.model;
            const auto began = std::chrono::steady_clock::now();
            if (!ensure_detector(f.detector, f.detector_choice, f.settings.confidence)) {
                break;
            }
            if (starting) {
                say_slow_start(f, std::chrono::steady_clock::now() - began);
            }
            const bool colour = f.detector.model->wants_colour();
            scale = detection_scale(f.detector, f.settings.detection_max_dimension, whole.size());
            tile = detection_tile(whole.size(), scale, f.settings.minimum_face_size,
                                  f.detection.tiles_searched);
            const DetectionView whole_view{
                make_detection_image(frame, format, whole, scale, colour, f.images), scale, {}};
            const DetectionView tile_view{
                tile.count > 0 ? make_detection_image(frame, format, tile.area, tile.scale, colour,
                                                      f.tile_images)
                               : cv::Mat(),
                tile.scale, upright_origin(tile.area, frame)};
            detected = detect_faces(f.detector, f.detection, f.settings, whole_view, tile_view,
                                    whole.size());
            if (f.detector.model) {
                break;
            }
        }
    } catch (const std::exception& e) {
        detected = false;
        f.detection_failures.report(LOG_ERROR, "Detection failed", e.what());
    }
    if (detected) {
        if (frame.flip) {
            flip_rows(f.detection.detections, static_cast<int>(frame.height));
        }
        f.detection.tiles_searched += tile.count > 0;
        const PassReach reach{tile.count > 0 ? smallest_box_found_whole(scale) : 0.0f,
                              cv::Rect2f(tile.area)};
        f.tracker.update(f.detection.detections, f.frame_index, new_shot, reach);
    }
    return detected;
}

} // namespace

namespace {

void make_working_area(const obs_source_frame& frame, const FrameFormat& format,
                       const cv::Rect& area, DetectionImages& images) {
    const cv::Mat plane0 = detectable_plane0(frame, format, area, images);
    if (plane0.empty()) {
        images.working.release();
        return;
    }
    convert_for_detection(plane0, format, images.eight_bit, images.working);
}

void scale_for_detection(const obs_source_frame& frame, const FrameFormat& format,
                         const cv::Rect& area, double scale, DetectionImages& images) {
    if (scale < 1.0 && format.shrinks_before_conversion) {
        // A fraction of the work of converting the whole frame, same picture.
        const cv::Mat plane0 = detectable_plane0(frame, format, area, images);
        cv::resize(plane0, images.shrunk, scaled_size(plane0.size(), scale), 0, 0, cv::INTER_AREA);
        convert_for_detection(images.shrunk, format, images.eight_bit, images.detection);
        return;
    }
    make_working_area(frame, format, area, images);
    if (images.working.empty()) {
        images.detection.release();
    } else if (scale != 1.0) {
        // A tile is enlarged where its small faces need it.
        cv::resize(images.working, images.detection, scaled_size(images.working.size(), scale), 0,
                   0, cv::INTER_AREA);
    } else {
        images.working.copyTo(images.detection);
    }
}

} // namespace

void make_working_image(const obs_source_frame& frame, const FrameFormat& format,
                        DetectionImages& images) {
    make_working_area(frame, format, frame_rect(frame), images);
}

cv::Mat& make_detection_image(const obs_source_frame& frame, const FrameFormat& format,
                              const cv::Rect& area, double scale, bool colour,
                              DetectionImages& images) {
    scale_for_detection(frame, format, area, scale, images);
    cv::Mat* image = &images.detection;
    if (colour && !image->empty() && detects_colour_as_grey(format)) {
        colour_detection_image(frame, format, area, images);
        image = &images.colour;
    }
    // Bottom-up frames (Windows capture devices, "Flip Vertically") are
    // searched the right way up: the networks miss faces upside down.
    if (frame.flip && !image->empty()) {
        cv::flip(*image, *image, 0);
    }
    return *image;
}

bool process_frame(FilterInstance& f, obs_source_frame& frame) {
    std::lock_guard<std::mutex> lock(f.mutex);
    if (frame.timestamp > f.last_timestamp && f.last_timestamp > 0) {
        f.frame_duration_ns = frame.timestamp - f.last_timestamp;
    }
    f.last_timestamp = frame.timestamp;
    if (f.started && !f.settings.enabled) {
        // The picture may be another by the time the filter is on again.
        f.frame_counter = 0;
        return true;
    }
    if (!frame.data[0] || frame.width == 0 || frame.height == 0) {
        return true;
    }
    const FrameFormat* format = frame_format(frame.format);
    if (!format) {
        if (!f.unsupported_format_logged) {
            blog(LOG_WARNING, "[veilcam] Unsupported source frame format: %d",
                 static_cast<int>(frame.format));
            f.unsupported_format_logged = true;
        }
        // A picture that cannot be hidden is not shown when the user asked so.
        return f.started && !f.settings.hide_all_on_failure;
    }
    check_rows(frame, *format);
    if (!f.started) {
        obscure_whole_frame(frame, *format, f.settings.pixel_size, f.region_scratch);
        return true;
    }

    const int32_t cadence = f.frame_counter % f.settings.detection_interval;
    f.frame_counter = static_cast<int32_t>(static_cast<uint32_t>(f.frame_counter) + 1u);
    ++f.frame_index;
    // A cut brings faces the tracks know nothing of: detected on that very frame.
    f.previous_thumbnail = f.thumbnail;
    make_thumbnail(frame, *format, f.thumbnail);
    const bool new_shot = is_new_shot(f.previous_thumbnail, f.thumbnail);
    if (new_shot) {
        // A shown face is not handed to whoever stands at its place in the
        // new shot: that may be someone else.
        f.tracker.end_tracks_if([&](const FaceTrack& track) {
            return !should_obscure(f.settings.selection, track.id, track.crossed);
        });
    }
    // A face seen once whose place changes may be moving fast.
    f.tracker.note_motion([&](const cv::Rect2f& seen) {
        return changed_within(f.previous_thumbnail, f.thumbnail, seen);
    });
    if (cadence == 0 || new_shot) {
        f.detection_failed = !detect_and_track(f, frame, *format, new_shot);
    }
    if (f.detection_failed && f.settings.hide_all_on_failure) {
        obscure_whole_frame(frame, *format, f.settings.pixel_size, f.region_scratch);
        return true;
    }
    obscure_frame(frame, *format, f.tracker.tracks(), f.frame_index, f.settings, f.region_scratch);
    draw_overlay(frame, *format, f.tracker.tracks(), f.frame_index, f.settings, f.overlay);
    return true;
}

} // namespace veilcam
