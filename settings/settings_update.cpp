#include "settings/settings_update.hpp"

#include "detection/detectors.hpp"
#include "filter/filter_callbacks.hpp"
#include "filter/filter_instance.hpp"
#include "filter/host_boundary.hpp"
#include "plugin/module.hpp"
#include "settings/face_selection.hpp"
#include "settings/keys.hpp"

#include <algorithm>

namespace veilcam {
namespace {

constexpr float kMatchThreshold = 0.12f;

// Integer settings are stored as 64 bits; only the low 32 bits count.
int32_t get_int32(obs_data_t* settings, const char* key) {
    return static_cast<int32_t>(static_cast<uint32_t>(obs_data_get_int(settings, key)));
}

float get_float(obs_data_t* settings, const char* key) {
    return static_cast<float>(obs_data_get_double(settings, key));
}

std::string get_string(obs_data_t* settings, const char* key) {
    const char* value = obs_data_get_string(settings, key);
    return value ? value : "";
}

} // namespace

void get_defaults(obs_data_t* settings) {
    using namespace setting;
    obs_data_set_default_bool(settings, kEnabled, true);
    obs_data_set_default_int(settings, kObscureMode, 0);
    obs_data_set_default_int(settings, kPixelSize, 20);
    obs_data_set_default_int(settings, kBlurRadius, 70);
    obs_data_set_default_bool(settings, kShowBoxes, false);
    obs_data_set_default_int(settings, kFaceSelectionMode, 0);
    obs_data_set_default_string(settings, kFaceIds, "");
    obs_data_set_default_string(settings, kTrackingDevice, "cpu");
    obs_data_set_default_bool(settings, kMirroredProfilePass, true);
    obs_data_set_default_bool(settings, kCrowdMode, false);
    obs_data_set_default_int(settings, kDetectionMaxDimension, 640);
    obs_data_set_default_double(settings, kConfidence, 0.5);
    obs_data_set_default_int(settings, kDetectionInterval, 2);
    obs_data_set_default_int(settings, kMinimumFaceSize, 20);
    obs_data_set_default_int(settings, kMaxFaces, 20);
    obs_data_set_default_int(settings, kHoldFrames, 24);
    obs_data_set_default_double(settings, kPaddingPercent, 35.0);
    obs_data_set_default_double(settings, kSmoothing, 0.72);
}

void apply_settings(FilterInstance& f, obs_data_t* settings) {
    using namespace setting;
    std::lock_guard<std::mutex> lock(f.mutex);

    f.enabled = obs_data_get_bool(settings, kEnabled);
    f.obscure_mode = get_int32(settings, kObscureMode);
    f.face_selection_mode = get_int32(settings, kFaceSelectionMode);
    f.show_boxes = obs_data_get_bool(settings, kShowBoxes);
    f.mirrored_profile_pass = obs_data_get_bool(settings, kMirroredProfilePass);
    f.crowd_mode = obs_data_get_bool(settings, kCrowdMode);

    f.detection_max_dimension = std::clamp(get_int32(settings, kDetectionMaxDimension), 320, 1280);
    f.confidence = std::clamp(get_float(settings, kConfidence), 0.25f, 0.95f);
    if (f.crowd_mode) {
        // Many small faces: a larger detection image and a lower threshold.
        f.detection_max_dimension = std::max(f.detection_max_dimension, 960);
        f.confidence = std::min(f.confidence, 0.42f);
    }

    f.detection_interval = std::max(get_int32(settings, kDetectionInterval), 1);
    f.pixel_size = std::max(get_int32(settings, kPixelSize), 2);
    f.blur_radius = std::max(get_int32(settings, kBlurRadius), 3);
    if (f.blur_radius % 2 == 0) {
        ++f.blur_radius;
    }
    f.minimum_face_size = std::max(get_int32(settings, kMinimumFaceSize), 12);
    f.max_faces = std::max(get_int32(settings, kMaxFaces), 1);
    f.hold_frames = std::max(get_int32(settings, kHoldFrames), 0);
    f.padding_percent = get_float(settings, kPaddingPercent);
    f.smoothing = get_float(settings, kSmoothing);

    parse_face_ids(f, obs_data_get_string(settings, kFaceIds));
    f.tracker.configure(f.smoothing, kMatchThreshold, f.hold_frames);

    std::string device = get_string(settings, kTrackingDevice);
    if (device.empty()) {
        device = "cpu";
    }
    device = normalize_tracking_device(device);
    if (device != f.tracking_device) {
        f.tracking_device = device;
        // A new choice deserves a fresh GPU attempt.
        f.gpu_failed = false;
        reset_detectors(f);
    }

    std::string model = get_string(settings, kModelPath);
    if (model.empty()) {
        model = find_module_file(kYunetModelFile);
    }
    if (model == f.model_path) {
        if (f.yunet) {
            f.yunet->setScoreThreshold(f.confidence);
        }
    } else {
        f.model_path = model;
        reset_detectors(f);
    }
}

void update(void* data, obs_data_t* settings) {
    auto* instance = static_cast<FilterInstance*>(data);
    run_guarded(*instance, "update", [&] { apply_settings(*instance, settings); });
}

} // namespace veilcam
