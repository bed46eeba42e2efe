#include "filter/frame_pipeline.hpp"

#include "detection/detection_tiles.hpp"
#include "filter/plane_samples.hpp"
#include "filter/region_obscuring.hpp"
#include "filter/shot_change.hpp"

#include <obs-module.h>

#include <utility>

namespace veilcam {
namespace {

// Faces found in the upright picture of a flipped frame, put back on its rows.
void flip_rows(std::vector<FaceDetection>& detections, int frame_height) {
    for (FaceDetection& face : detections) {
        face.box.y = frame_height - face.box.y - face.box.height;
        for (cv::Point2f& point : face.points) {
            point.y = static_cast<float>(frame_height) - point.y;
        }
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

// The frame's images for the detector that searches them: the whole
// picture at the detection size and this pass's tile, upright.
class FrameViews final : public DetectionSource {
  public:
    FrameViews(FilterInstance& f, const obs_source_frame& frame, const FrameFormat& format)
        : f(f), frame(frame), format(format) {}

    void make_views(const FaceModel& model, PassViews& views) override {
        const bool colour = model.wants_colour();
        const cv::Rect all = frame_rect(frame);
        whole_scale = detection_scale(model, f.settings.detection_max_dimension, all.size());
        searched_tile = detection_tile(all.size(), whole_scale, f.settings.minimum_face_size,
                                       f.detection.tiles_searched);
        followed = follow_up_area(f.tracker.tracks(), smallest_box_found_whole(whole_scale),
                                  searched_tile, all.size());
        views.whole = {make_detection_image(frame, format, all, whole_scale, colour, f.images),
                       whole_scale,
                       {}};
        const std::array<std::pair<cv::Rect, DetectionImages*>, 2> closer{
            {{searched_tile.area, &f.tile_images}, {followed, &f.follow_up_images}}};
        for (size_t i = 0; i < closer.size(); ++i) {
            const auto& [area, images] = closer[i];
            views.closer[i] = {area.empty()
                                   ? cv::Mat()
                                   : make_detection_image(frame, format, area, searched_tile.scale,
                                                          colour, *images),
                               searched_tile.scale, upright_origin(area, frame)};
        }
    }

    // What the latest views were made with, for the tracker.
    double whole_scale = 1.0;
    DetectionTile searched_tile;
    cv::Rect followed;

  private:
    FilterInstance& f;
    const obs_source_frame& frame;
    const FrameFormat& format;
};

// False when no detector could run or it failed: the tracks are then left
// as they are, so that every face stays hidden where it was last seen.
bool detect_and_track(FilterInstance& f, const obs_source_frame& frame, const FrameFormat& format,
                      bool new_shot) {
    FrameViews views(f, frame, format);
    bool detected = false;
    try {
        detected = detect_frame(f.detector, f.detection, f.detector_choice, f.settings, views,
                                frame_rect(frame).size(), frame_milliseconds(f));
    } catch (const std::exception& e) {
        f.detection_failures.report(LOG_ERROR, "Detection failed", e.what());
    }
    if (detected) {
        if (frame.flip) {
            flip_rows(f.detection.detections, static_cast<int>(frame.height));
        }
        const DetectionTile& tile = views.searched_tile;
        f.detection.tiles_searched += tile.count > 0;
        const PassReach reach{tile.count > 0 ? smallest_box_found_whole(views.whole_scale) : 0.0f,
                              {cv::Rect2f(tile.area), cv::Rect2f(views.followed)},
                              std::max(tile.count, 1)};
        f.tracker.update(f.detection.detections, f.frame_index, new_shot, reach);
        f.latest_pass = f.frame_index;
    }
    return detected;
}

} // namespace

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
    std::swap(f.previous_thumbnail, f.thumbnail);
    make_thumbnail(frame, *format, f.thumbnail);
    const bool new_shot = is_new_shot(f.previous_thumbnail, f.thumbnail);
    if (new_shot) {
        // A shown face is not handed to whoever stands at its place in the
        // new shot: that may be someone else.
        f.tracker.end_tracks_if([&](const FaceTrack& track) {
            return !should_obscure(f.settings.selection, track.id, track.crossed,
                                   recognition_of(track, f.recognizer.remembered));
        });
        f.tracker.start_shot();
    } else if (!f.tracker.tracks().empty()) {
        const LevelGrid& before = f.previous_thumbnail.grid;
        const LevelGrid& now = f.thumbnail.grid;
        f.tracker.follow(measure_camera_motion(before, now), before, now);
    }
    const bool pass = cadence == 0 || new_shot;
    if (pass) {
        f.detection_failed = !detect_and_track(f, frame, *format, new_shot);
        f.description_due = true;
        try {
            compare_looks(f, frame, *format);
        } catch (const std::exception& e) {
            // Nobody's look could be checked: anyone may be in any box.
            f.tracker.forget_descriptions();
            f.recognition_failures.report(LOG_WARNING, "Comparing faces failed", e.what());
        }
    }
    // On the frame after the pass where there is one: no frame carries both
    // a detection and a description.
    if (f.description_due && (!pass || f.settings.detection_interval == 1)) {
        f.description_due = false;
        try {
            recognise_a_face(f, frame, *format);
        } catch (const std::exception& e) {
            // Undescribed, a face stays hidden unless its id alone shows it.
            f.recognition_failures.report(LOG_WARNING, "Describing a face failed", e.what());
        }
    }
    if (f.detection_failed && f.settings.hide_all_on_failure) {
        obscure_whole_frame(frame, *format, f.settings.pixel_size, f.region_scratch);
        return true;
    }
    list_face_regions(f.tracker.tracks(), f.settings, f.recognizer.remembered,
                      frame_rect(frame).size(), f.face_regions);
    obscure_frame(frame, *format, f.face_regions, f.settings, f.region_scratch);
    draw_overlay(frame, *format, f.face_regions, f.settings, f.overlay);
    return true;
}

} // namespace veilcam
