#pragma once

#include "detection/detection_pass.hpp"
#include "detection/face_detector.hpp"
#include "detection/failure_log.hpp"
#include "filter/detection_image.hpp"
#include "filter/face_recognition.hpp"
#include "filter/overlay.hpp"
#include "filter/region_obscuring.hpp"
#include "filter/shot_change.hpp"
#include "settings/filter_settings.hpp"
#include "tracking/face_tracker.hpp"

#include <obs.h>
#include <opencv2/core/mat.hpp>

#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

namespace veilcam {

// Where a filter's face ids come from.
enum class FaceIdOrigin {
    // Kept with the scene's saved settings: ids on the list that the filter
    // has not handed out yet are skipped, so they never land on a newcomer.
    kSavedWithScene,
    // A run over a recorded file starts again from 1 and gives each face the
    // id an earlier run with the same settings gave it: listed ids name the
    // faces that run's boxes showed.
    kSameEveryRun,
};

// Everything one filter on one source needs. `mutex` guards every member
// below it: the host's settings thread and video thread both hold it for
// their whole work.
struct FilterInstance {
    FilterInstance(BundledModels models, FaceIdOrigin id_origin);

    obs_source_t* source = nullptr; // the filter's own source; none in the video tool
    const FaceIdOrigin id_origin;
    std::mutex mutex;
    FilterSettings settings;
    DetectorChoice detector_choice;
    FaceDetector detector;
    DetectionState detection;
    FaceTracker tracker{0.72f, 0.12f, 24};
    FaceRecognizer recognizer;

    // Kept between frames so that OpenCV and the resamplers reuse their buffers.
    DetectionImages images;
    DetectionImages tile_images;          // a second set: the tile keeps its own sizes
    DetectionImages follow_up_images;     // and a third, where small faces were seen
    std::vector<FaceRegion> face_regions; // this frame's, for obscuring and the overlay
    RegionScratch region_scratch;
    OverlayScratch overlay;

    int32_t frame_counter = 0;      // the detection cadence
    uint64_t frame_index = 0;       // frames handled so far, for the tracks' motion
    uint64_t latest_pass = 0;       // the frame the latest detection pass searched
    bool description_due = false;   // a face the latest pass found is to be described
    uint64_t last_timestamp = 0;    // of the latest frame, nanoseconds
    uint64_t frame_duration_ns = 0; // between the latest two frames; 0 before
    Thumbnail thumbnail, previous_thumbnail;
    // Settings applied: a filter whose settings could not be read when it
    // was made hides the whole picture until they can.
    bool started = false;
    bool unsupported_format_logged = false;
    std::string refused_ids_logged; // listed ids refused, said once
    std::string photo_message;      // what became of the last photo picked, for the panel
    bool photo_refused = false;
    bool detection_failed = false; // no detector, or the latest pass failed
    FailureLog detection_failures;
    FailureLog recognition_failures;

    // Failures caught at a host callback; a log of its own because a failure
    // to take `mutex` is one of them.
    FailureLog callback_failures;
};

// Takes over newly read settings; drops the detector when the device or the
// YuNet model changes (a new device also gets a fresh GPU attempt). Ids on
// the list that this filter has not handed out are never handed out, unless
// its ids are the same every run.
void apply_settings(FilterInstance& instance, FilterSettings settings);

// The first face id not yet handed out, kept with the filter's saved state:
// an id listed in an earlier session then names nobody in this one.
uint64_t next_face_id(FilterInstance& instance);
void continue_face_ids(FilterInstance& instance, uint64_t next_id);

// The faces this filter remembers, kept with its saved settings, and taken
// back from them (those still listed).
void save_remembered_faces(FilterInstance& instance, obs_data_t* settings);
void load_remembered_faces(FilterInstance& instance, obs_data_t* settings);

} // namespace veilcam
