#include "detection/face_detector.hpp"

#include "detection/yunet_opencv.hpp"
#include "ort/scrfd_detector.hpp"
#include "ort/yunet_detector.hpp"
#include "settings/gpu_adapters.hpp"

#include <obs-module.h>

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

// True when the GPU detector is up; false when the CPU must take over (the
// reason is logged).
bool start_gpu_detector(FaceDetector& f, const DetectorChoice& choice) {
    const std::optional<int32_t> device_index = parse_dml_device_index(choice.tracking_device);
    if (!device_index || !model_file_exists(choice.bundled.scrfd)) {
        blog(LOG_WARNING,
             "[veilcam] DirectML GPU '%s' or bundled SCRFD model is unavailable; using YuNet CPU "
             "fallback",
             choice.tracking_device.c_str());
        return false;
    }
    try {
        f.model = std::make_unique<ScrfdDetector>(choice.bundled.scrfd, *device_index);
    } catch (const std::exception& e) {
        blog(LOG_WARNING, "[veilcam] DirectML GPU '%s' failed (%s); using YuNet CPU fallback",
             choice.tracking_device.c_str(), e.what());
        return false;
    }
    f.active_device = choice.tracking_device;
    f.active_device_name = adapter_name(*device_index, choice.tracking_device);
    log_ready_once(f, "[veilcam] SCRFD-500M detector ready via DirectML on %s (device %d)",
                   f.active_device_name.c_str(), *device_index);
    return true;
}

// YuNet or SCRFD on ONNX Runtime's CPU provider; false (said in the log)
// when the runtime or the model cannot be used.
bool start_onnx_cpu_detector(FaceDetector& f, const DetectorChoice& choice) {
    const bool scrfd = choice.tracking_device == kCpuScrfdDevice;
    const std::string& path = scrfd ? choice.bundled.scrfd_any_size : choice.bundled.yunet_any_size;
    try {
        if (!model_file_exists(path)) {
            throw std::runtime_error("the bundled model is missing: " + path);
        }
        if (scrfd) {
            f.model = std::make_unique<ScrfdDetector>(path, 0, OrtProvider::Cpu);
        } else {
            f.model = std::make_unique<YunetOrtDetector>(path);
        }
    } catch (const std::exception& e) {
        blog(LOG_WARNING,
             "[veilcam] Detector '%s' on ONNX Runtime cannot start (%s); using YuNet on OpenCV",
             choice.tracking_device.c_str(), e.what());
        return false;
    }
    f.active_device = choice.tracking_device;
    f.active_device_name = "CPU";
    log_ready_once(f, "[veilcam] %s detector ready on ONNX Runtime's CPU provider: %s",
                   scrfd ? "SCRFD-500M" : "YuNet", path.c_str());
    return true;
}

bool start_cpu_detector(FaceDetector& f, const DetectorChoice& choice, float confidence) {
    if (!f.cpu_failed) {
        if (!model_file_exists(choice.model_path)) {
            f.cpu_failure = "Bundled YuNet model is missing";
            f.cpu_failure_reason = choice.model_path;
        } else {
            try {
                f.model = std::make_unique<YunetOpencvDetector>(choice.model_path, confidence);
                log_ready_once(f, "[veilcam] YuNet detector ready on %s: %s", "CPU",
                               choice.model_path.c_str());
                return true;
            } catch (const std::exception& e) {
                f.cpu_failure = "YuNet CPU load failed";
                f.cpu_failure_reason = e.what();
            }
        }
        f.cpu_failed = true;
    }
    f.cpu_failure_log.report(LOG_ERROR, f.cpu_failure, f.cpu_failure_reason.c_str());
    return false;
}

} // namespace

bool ensure_detector(FaceDetector& f, const DetectorChoice& choice, float confidence) {
    if (f.model) {
        return true;
    }
    if (choice.tracking_device != kCpuDevice && !f.gpu_failed) {
        const bool started = is_onnx_cpu_device(choice.tracking_device)
                                 ? start_onnx_cpu_detector(f, choice)
                                 : start_gpu_detector(f, choice);
        if (started) {
            return true;
        }
        // Latched so that a broken choice costs one attempt, not one per frame.
        f.gpu_failed = true;
        f.model.reset();
        f.active_device = kCpuDevice;
        f.active_device_name = "CPU";
    }
    return start_cpu_detector(f, choice, confidence);
}

void fall_back_to_cpu(FaceDetector& f, const char* what_failed) {
    blog(LOG_WARNING,
         is_onnx_cpu_device(f.active_device)
             ? "[veilcam] Inference on ONNX Runtime failed (%s); switching to YuNet "
               "on OpenCV"
             : "[veilcam] GPU inference failed (%s); switching to CPU",
         what_failed);
    f.gpu_failed = true; // until the user picks another device
    reset_detectors(f);
}

void retry_cpu_detector(FaceDetector& f) {
    f.cpu_failed = false;
    f.cpu_failure_log.reset();
}

void reset_detectors(FaceDetector& f) {
    f.model.reset();
    f.active_device = kCpuDevice;
    f.active_device_name = "CPU";
    f.ready_logged = false;
    f.first_detection_logged = false;
}

} // namespace veilcam
