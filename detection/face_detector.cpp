#include "detection/face_detector.hpp"

#include "settings/gpu_adapters.hpp"

#include <obs-module.h>

#include <chrono>
#include <cstdio>
#include <exception>
#include <filesystem>
#include <optional>
#include <stdexcept>

namespace veilcam {
namespace {

// A path the file system refuses (too long, say) is as missing as an absent file.
bool model_file_exists(const std::string& path) {
    std::error_code refused;
    try {
        return !path.empty() && std::filesystem::exists(std::filesystem::u8path(path), refused);
    } catch (const std::exception&) {
        return false;
    }
}

std::string adapter_name(int32_t device_index, const std::string& fallback) {
    for (const GpuAdapter& adapter : list_gpu_adapters()) {
        if (adapter.index == device_index) {
            return adapter.name;
        }
    }
    return fallback;
}

template <typename... Args> void log_ready_once(FaceDetector& f, const char* format, Args... args) {
    if (!f.ready_logged) {
        blog(LOG_INFO, format, args...);
        f.ready_logged = true;
    }
}

// A GPU on DirectML; false (said in the log) when the CPU must take over.
bool start_gpu(FaceDetector& f, const DetectorChoice& choice, const DetectorDevice& device) {
    const std::optional<int32_t> adapter = parse_dml_device_index(choice.tracking_device);
    const std::string& path = bundled_model(choice.bundled, device);
    if (!adapter || !model_file_exists(path)) {
        blog(LOG_WARNING,
             "[veilcam] DirectML GPU '%s' or bundled SCRFD model is unavailable; using YuNet CPU "
             "fallback",
             choice.tracking_device.c_str());
        return false;
    }
    try {
        f.model = device.make({path, *adapter});
    } catch (const std::exception& e) {
        blog(LOG_WARNING, "[veilcam] DirectML GPU '%s' failed (%s); using YuNet CPU fallback",
             choice.tracking_device.c_str(), e.what());
        return false;
    }
    f.active_device = choice.tracking_device;
    f.active_device_name = adapter_name(*adapter, choice.tracking_device);
    log_ready_once(f, "[veilcam] %s detector ready via DirectML on %s (device %d)", device.network,
                   f.active_device_name.c_str(), *adapter);
    return true;
}

// A network on ONNX Runtime's CPU provider; false (said in the log) when the
// runtime or the model cannot be used.
bool start_onnx_cpu(FaceDetector& f, const DetectorChoice& choice, const DetectorDevice& device) {
    const std::string& path = bundled_model(choice.bundled, device);
    try {
        if (!model_file_exists(path)) {
            throw std::runtime_error("the bundled model is missing: " + path);
        }
        f.model = device.make({path});
    } catch (const std::exception& e) {
        blog(LOG_WARNING,
             "[veilcam] Detector '%s' on ONNX Runtime cannot start (%s); using YuNet on OpenCV",
             choice.tracking_device.c_str(), e.what());
        return false;
    }
    f.active_device = device.id;
    f.active_device_name = "CPU";
    log_ready_once(f, "[veilcam] %s detector ready on ONNX Runtime's CPU provider: %s",
                   device.network, path.c_str());
    return true;
}

// YuNet on OpenCV, from the user's model or the bundled one: what runs when
// nothing else can.
bool start_last_resort(FaceDetector& f, const DetectorChoice& choice, const DetectorDevice& device,
                       float confidence) {
    if (!f.last_resort_failed) {
        if (!model_file_exists(choice.model_path)) {
            f.last_resort_failure = "Bundled YuNet model is missing";
            f.last_resort_failure_reason = choice.model_path;
        } else {
            try {
                f.model = device.make({choice.model_path, 0, confidence});
                log_ready_once(f, "[veilcam] %s detector ready on %s: %s", device.network, "CPU",
                               choice.model_path.c_str());
                return true;
            } catch (const std::exception& e) {
                f.last_resort_failure = "YuNet CPU load failed";
                f.last_resort_failure_reason = e.what();
            }
        }
        f.last_resort_failed = true;
    }
    f.start_failures.report(LOG_ERROR, f.last_resort_failure, f.last_resort_failure_reason.c_str());
    return false;
}

bool start_device(FaceDetector& f, const DetectorChoice& choice, const DetectorDevice& device,
                  float confidence) {
    switch (device.runtime) {
    case DeviceRuntime::DirectMl:
        return start_gpu(f, choice, device);
    case DeviceRuntime::OnnxCpu:
        return start_onnx_cpu(f, choice, device);
    case DeviceRuntime::OpenCv:
        break;
    }
    return start_last_resort(f, choice, device, confidence);
}

// Builds the detector: the chosen device where it can run, else the one it
// falls back to. False when none could be built (the reason is in the log).
bool ensure_detector(FaceDetector& f, const DetectorChoice& choice, float confidence) {
    if (f.model) {
        return true;
    }
    const DetectorDevice* device = &device_for(choice.tracking_device);
    if (device->fallback && f.chosen_device_failed) {
        device = &device_for(device->fallback);
    }
    while (!start_device(f, choice, *device, confidence)) {
        if (!device->fallback) {
            return false;
        }
        f.chosen_device_failed = true;
        device = &device_for(device->fallback);
    }
    return true;
}

// A network that threw while searching: a chosen device is dropped for its
// fall-back (said once), the last resort's failures are counted.
void inference_failed(FaceDetector& f, const char* what_failed) {
    const DetectorDevice& device = device_for(f.active_device);
    if (!device.fallback) {
        f.inference_failures.report(LOG_ERROR, "CPU inference failed", what_failed);
        return;
    }
    blog(LOG_WARNING,
         device.runtime == DeviceRuntime::OnnxCpu
             ? "[veilcam] Inference on ONNX Runtime failed (%s); switching to YuNet on OpenCV"
             : "[veilcam] GPU inference failed (%s); switching to CPU",
         what_failed);
    f.chosen_device_failed = true; // until the user picks another device
    reset_detector(f, false);
}

void say_slow_start(const FaceDetector& f, std::chrono::steady_clock::duration took,
                    double frame_milliseconds) {
    const double milliseconds = std::chrono::duration<double, std::milli>(took).count();
    if (milliseconds > frame_milliseconds) {
        blog(LOG_WARNING,
             "[veilcam] Starting the detector on '%s' took %.0f ms, longer than a frame "
             "(%.0f ms): the video waited meanwhile",
             f.active_device.c_str(), milliseconds, frame_milliseconds);
    }
}

void say_what_was_found(FaceDetector& f, DetectionState& state, int32_t max_faces) {
    // Every face found is hidden; the limit bounds only what the overlay labels.
    if (state.detections.size() > static_cast<size_t>(max_faces)) {
        char reason[96];
        std::snprintf(reason, sizeof reason, "%d faces, all hidden; the first %d are labelled",
                      static_cast<int>(state.detections.size()), static_cast<int>(max_faces));
        state.face_limit.report(LOG_WARNING, "A pass found more faces than 'Most faces'", reason);
    }
    if (!state.detections.empty() && !f.first_detection_logged) {
        blog(LOG_INFO, "[veilcam] First face detection succeeded (%d face(s))",
             static_cast<int>(state.detections.size()));
        f.first_detection_logged = true;
    }
}

} // namespace

bool detect_frame(FaceDetector& f, DetectionState& state, const DetectorChoice& choice,
                  const FilterSettings& settings, DetectionSource& source, cv::Size frame_size,
                  double frame_milliseconds) {
    state.detections.clear();
    // A chosen device that fails drops itself, and its fall-back takes this
    // very frame; the last resort gets one attempt.
    for (int attempt = 0; attempt < 2; ++attempt) {
        const bool starting = !f.model;
        const auto began = std::chrono::steady_clock::now();
        if (!ensure_detector(f, choice, settings.confidence)) {
            return false;
        }
        if (starting) {
            say_slow_start(f, std::chrono::steady_clock::now() - began, frame_milliseconds);
        }
        PassViews views;
        source.make_views(*f.model, views);
        try {
            find_faces(*f.model, state, settings, views, frame_size);
        } catch (const std::exception& e) {
            state.detections.clear();
            inference_failed(f, e.what());
            if (f.model) {
                return false; // the last resort failed: nothing else to try
            }
            continue;
        }
        say_what_was_found(f, state, settings.max_faces);
        return true;
    }
    return false;
}

void reset_detector(FaceDetector& f, bool new_device) {
    if (new_device) {
        f.chosen_device_failed = false;
    }
    f.model.reset();
    f.active_device = kCpuDevice;
    f.active_device_name = "CPU";
    f.ready_logged = false;
    f.first_detection_logged = false;
}

void retry_last_resort(FaceDetector& f) {
    f.last_resort_failed = false;
    f.start_failures.reset();
}

} // namespace veilcam
