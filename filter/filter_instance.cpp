#include "filter/filter_instance.hpp"

#include <utility>

namespace veilcam {
namespace {

constexpr float kMatchThreshold = 0.12f;

} // namespace

FilterInstance::FilterInstance(BundledModels models, FaceIdOrigin origin) : id_origin(origin) {
    detector_choice.bundled = std::move(models);
}

void apply_settings(FilterInstance& f, FilterSettings settings) {
    std::lock_guard<std::mutex> lock(f.mutex);
    f.settings = std::move(settings);
    f.tracker.configure(f.settings.smoothing, kMatchThreshold, f.settings.hold_frames);

    DetectorChoice& choice = f.detector_choice;
    // A model of the user's own is a YuNet for OpenCV: given one, YuNet runs
    // there rather than as the bundled model on ONNX Runtime.
    const std::string device =
        f.settings.model_path.empty() || f.settings.tracking_device != kCpuOrtDevice
            ? f.settings.tracking_device
            : std::string(kCpuDevice);
    if (device != choice.tracking_device) {
        choice.tracking_device = device;
        reset_detector(f.detector, true);
    }
    const std::string& model = f.settings.model_path.empty()
                                   ? bundled_model(choice.bundled, device_for(kCpuDevice))
                                   : f.settings.model_path;
    if (model != choice.model_path) {
        choice.model_path = model;
        reset_detector(f.detector, false);
    }
    retry_last_resort(f.detector);
    f.recognizer.remembered.keep_listed(f.settings.selection.ids);
    if (f.id_origin == FaceIdOrigin::kSavedWithScene) {
        for (const uint64_t id : f.settings.selection.ids) {
            f.tracker.continue_ids_from(id + 1);
        }
    }
    const std::string& refused = f.settings.selection.refused;
    if (!refused.empty() && refused != f.refused_ids_logged) {
        blog(LOG_WARNING, "[veilcam] Face ids from %llu on name no face and are ignored: %s",
             static_cast<unsigned long long>(kLastFaceId), refused.c_str());
    }
    f.refused_ids_logged = refused;
    f.started = true;
}

uint64_t next_face_id(FilterInstance& f) {
    std::lock_guard<std::mutex> lock(f.mutex);
    return f.tracker.next_id();
}

void continue_face_ids(FilterInstance& f, uint64_t next_id) {
    std::lock_guard<std::mutex> lock(f.mutex);
    f.tracker.continue_ids_from(next_id);
}

void save_remembered_faces(FilterInstance& f, obs_data_t* settings) {
    std::lock_guard<std::mutex> lock(f.mutex);
    f.recognizer.remembered.save(settings);
}

void load_remembered_faces(FilterInstance& f, obs_data_t* settings) {
    std::lock_guard<std::mutex> lock(f.mutex);
    f.recognizer.remembered.load(settings);
    f.recognizer.remembered.keep_listed(f.settings.selection.ids);
}

} // namespace veilcam
