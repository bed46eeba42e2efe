#include "detection/detectors.hpp"

#include "filter/filter_instance.hpp"
#include "settings/face_selection.hpp"
#include "settings/gpu_adapters.hpp"

#include <obs-module.h>

#include <exception>
#include <filesystem>
#include <optional>

namespace veilcam {
namespace {

constexpr float kYunetNmsThreshold = 0.3f;
// OpenCV applies top_k to the candidate boxes before suppression, and a face
// yields dozens of candidates: a top_k of `max_faces` (20) would keep only the
// five or so best-scored faces of a crowd. The face limit is applied to the
// pass's result instead; this is OpenCV's own default.
constexpr int kYunetCandidateLimit = 5000;

bool model_file_exists(const std::string& path) {
    return !path.empty() && std::filesystem::exists(std::filesystem::u8path(path));
}

std::string adapter_name(int32_t device_index, const std::string& fallback) {
    for (const GpuAdapter& adapter : list_gpu_adapters()) {
        if (adapter.index == device_index) {
            return adapter.name;
        }
    }
    return fallback;
}

// True when the GPU detector is up; false when the CPU must take over (the
// reason is logged).
bool start_gpu_detector(FilterInstance& f) {
    const std::optional<int32_t> device_index = parse_dml_device_index(f.tracking_device);
    if (!device_index || !model_file_exists(f.gpu_model_path)) {
        blog(LOG_WARNING,
             "[veilcam] DirectML GPU '%s' or bundled SCRFD model is unavailable; using YuNet CPU "
             "fallback",
             f.tracking_device.c_str());
        return false;
    }
    try {
        f.scrfd = std::make_unique<ScrfdDetector>(f.gpu_model_path, *device_index);
        f.active_device = f.tracking_device;
        f.active_device_name = adapter_name(*device_index, f.tracking_device);
        f.detector_ready = true;
        if (!f.ready_logged) {
            blog(LOG_INFO, "[veilcam] SCRFD-500M detector ready via DirectML on %s (device %d)",
                 f.active_device_name.c_str(), *device_index);
            f.ready_logged = true;
        }
        return true;
    } catch (const std::exception& e) {
        blog(LOG_WARNING, "[veilcam] DirectML GPU '%s' failed (%s); using YuNet CPU fallback",
             f.tracking_device.c_str(), e.what());
        return false;
    }
}

bool start_cpu_detector(FilterInstance& f) {
    if (!model_file_exists(f.model_path)) {
        blog(LOG_ERROR, "[veilcam] Bundled YuNet model is missing: %s", f.model_path.c_str());
        return false;
    }
    try {
        f.yunet = cv::FaceDetectorYN::create(f.model_path, "", cv::Size(320, 320), f.confidence,
                                             kYunetNmsThreshold, kYunetCandidateLimit, 0, 0);
        f.detector_ready = !f.yunet.empty();
    } catch (const cv::Exception& e) {
        blog(LOG_ERROR, "[veilcam] YuNet CPU load failed: %s", e.what());
        f.detector_ready = false;
        return false;
    }
    if (f.detector_ready && !f.ready_logged) {
        blog(LOG_INFO, "[veilcam] YuNet detector ready on CPU: %s", f.model_path.c_str());
        f.ready_logged = true;
    }
    return f.detector_ready;
}

} // namespace

bool ensure_detector(FilterInstance& f) {
    if (f.detector_ready && (f.yunet || f.scrfd)) {
        return true;
    }
    if (f.tracking_device != "cpu" && !f.gpu_failed) {
        if (start_gpu_detector(f)) {
            return true;
        }
        // Latched so that a broken GPU choice costs one attempt, not one per frame.
        f.gpu_failed = true;
        f.scrfd.reset();
        f.active_device = "cpu";
        f.active_device_name = "CPU";
    }
    return start_cpu_detector(f);
}

void reset_detectors(FilterInstance& f) {
    f.yunet.release();
    f.scrfd.reset();
    f.detector_ready = false;
    f.active_device = "cpu";
    f.active_device_name = "CPU";
    f.ready_logged = false;
    f.first_detection_logged = false;
}

} // namespace veilcam
