#include "detection/face_detector.hpp"

#include "settings/device_choice.hpp"
#include "settings/gpu_adapters.hpp"

#include <obs-module.h>

#include <exception>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <stdexcept>
#include <vector>
#include <optional>

namespace veilcam {
namespace {

constexpr float kYunetNmsThreshold = 0.3f;
// OpenCV applies top_k to the candidate boxes before suppression, and a face
// yields dozens of candidates: a top_k of `max_faces` (20) would keep only the
// five or so best-scored faces of a crowd. The face limit is applied to the
// pass's result instead; this is OpenCV's own default.
constexpr int kYunetCandidateLimit = 5000;

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

// True when the GPU detector is up; false when the CPU must take over (the
// reason is logged).
bool start_gpu_detector(FaceDetector& f, const DetectorChoice& choice) {
    const std::optional<int32_t> device_index = parse_dml_device_index(choice.tracking_device);
    if (!device_index || !model_file_exists(choice.gpu_model_path)) {
        blog(LOG_WARNING,
             "[veilcam] DirectML GPU '%s' or bundled SCRFD model is unavailable; using YuNet CPU "
             "fallback",
             choice.tracking_device.c_str());
        return false;
    }
    try {
        f.scrfd = std::make_unique<ScrfdDetector>(choice.gpu_model_path, *device_index);
        f.active_device = choice.tracking_device;
        f.active_device_name = adapter_name(*device_index, choice.tracking_device);
        f.detector_ready = true;
        if (!f.ready_logged) {
            blog(LOG_INFO, "[veilcam] SCRFD-500M detector ready via DirectML on %s (device %d)",
                 f.active_device_name.c_str(), *device_index);
            f.ready_logged = true;
        }
        return true;
    } catch (const std::exception& e) {
        blog(LOG_WARNING, "[veilcam] DirectML GPU '%s' failed (%s); using YuNet CPU fallback",
             choice.tracking_device.c_str(), e.what());
        return false;
    }
}

// Read here rather than by OpenCV, which opens a path as narrow text: on
// Windows a data folder under an account name with accents would not load.
std::vector<uchar> read_model(const std::string& path) {
    std::ifstream file(std::filesystem::u8path(path), std::ios::binary);
    std::vector<uchar> model{std::istreambuf_iterator<char>(file),
                             std::istreambuf_iterator<char>()};
    if (!file.good() && !file.eof()) {
        throw std::runtime_error("cannot read " + path);
    }
    return model;
}

bool start_cpu_detector(FaceDetector& f, const DetectorChoice& choice, float confidence) {
    if (!model_file_exists(choice.model_path)) {
        blog(LOG_ERROR, "[veilcam] Bundled YuNet model is missing: %s", choice.model_path.c_str());
        return false;
    }
    try {
        f.yunet = cv::FaceDetectorYN::create("onnx", read_model(choice.model_path), {},
                                             cv::Size(320, 320), confidence, kYunetNmsThreshold,
                                             kYunetCandidateLimit, 0, 0);
        f.detector_ready = !f.yunet.empty();
    } catch (const std::exception& e) {
        blog(LOG_ERROR, "[veilcam] YuNet CPU load failed: %s", e.what());
        f.detector_ready = false;
        return false;
    }
    if (f.detector_ready && !f.ready_logged) {
        blog(LOG_INFO, "[veilcam] YuNet detector ready on CPU: %s", choice.model_path.c_str());
        f.ready_logged = true;
    }
    return f.detector_ready;
}

} // namespace

bool ensure_detector(FaceDetector& f, const DetectorChoice& choice, float confidence) {
    if (f.detector_ready && (f.yunet || f.scrfd)) {
        return true;
    }
    if (choice.tracking_device != kCpuDevice && !f.gpu_failed) {
        if (start_gpu_detector(f, choice)) {
            return true;
        }
        // Latched so that a broken GPU choice costs one attempt, not one per frame.
        f.gpu_failed = true;
        f.scrfd.reset();
        f.active_device = kCpuDevice;
        f.active_device_name = "CPU";
    }
    return start_cpu_detector(f, choice, confidence);
}

void reset_detectors(FaceDetector& f) {
    f.yunet.release();
    f.scrfd.reset();
    f.detector_ready = false;
    f.active_device = kCpuDevice;
    f.active_device_name = "CPU";
    f.ready_logged = false;
    f.first_detection_logged = false;
}

void use_scrfd_on_cpu(FaceDetector& f, const std::string& model_path) {
    reset_detectors(f);
    f.scrfd = std::make_unique<ScrfdDetector>(model_path, 0, ScrfdProvider::Cpu);
    f.detector_ready = true;
    f.active_device = "scrfd:cpu";
    f.active_device_name = "SCRFD on the CPU";
}

} // namespace veilcam
