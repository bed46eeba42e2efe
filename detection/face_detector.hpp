#pragma once

#include "detection/failure_log.hpp"
#include "ort/face_model.hpp"
#include "settings/device_choice.hpp"

#include <memory>
#include <string>

namespace veilcam {

// Model files inside the module's data folder.
inline constexpr const char* kYunetModelFile = "models/face_detection_yunet_2023mar.onnx";
inline constexpr const char* kYunetAnySizeModelFile =
    "models/face_detection_yunet_2023mar_any_size.onnx";
inline constexpr const char* kScrfdModelFile = "models/det_500m.onnx";
inline constexpr const char* kScrfdAnySizeModelFile = "models/det_500m_any_size.onnx";

// The paths of the models that come with the plug-in ("" where absent).
struct BundledModels {
    std::string yunet;
    std::string yunet_any_size;
    std::string scrfd;
    std::string scrfd_any_size;
};

// What decides which detector is built; a change of it needs a new one.
struct DetectorChoice {
    std::string tracking_device; // normalised device id
    std::string model_path;      // YuNet for OpenCV: the user's, or the bundled one
    BundledModels bundled;
};

// The detector of one filter, built lazily, with the flags that keep its log
// lines to one each and the latch that keeps a chosen detector that failed
// (a GPU, or one on ONNX Runtime's CPU provider) from being retried.
struct FaceDetector {
    std::unique_ptr<FaceModel> model;
    std::string active_device = kCpuDevice;
    std::string active_device_name = "CPU";
    bool ready_logged = false;
    bool first_detection_logged = false;
    bool gpu_failed = false;
    // YuNet on OpenCV could not start: not tried again until the settings
    // change, so that a bad model file costs one attempt, not one a pass.
    bool cpu_failed = false;
    const char* cpu_failure = "";
    std::string cpu_failure_reason;
    FailureLog cpu_failure_log;
};

// Builds the detector on first use: the chosen one where it can run, else
// YuNet on OpenCV. False when none could be built (the reason is in the log,
// at once and then counted).
bool ensure_detector(FaceDetector& detector, const DetectorChoice& choice, float confidence);

// Drops the detector after a chosen one failed: said once in the log, and
// latched, so that the next pass builds YuNet on OpenCV.
void fall_back_to_cpu(FaceDetector& detector, const char* what_failed);

// Drops the detector and re-arms its log lines; the next detection pass
// builds one afresh.
void reset_detectors(FaceDetector& detector);

// New settings: a CPU detector that could not start is tried again.
void retry_cpu_detector(FaceDetector& detector);

} // namespace veilcam
