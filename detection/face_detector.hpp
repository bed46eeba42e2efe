#pragma once

#include "ort/scrfd_detector.hpp"
#include "settings/device_choice.hpp"

#include <opencv2/core/mat.hpp>
#include <opencv2/objdetect/face.hpp>

#include <memory>
#include <string>

namespace veilcam {

// Model files inside the module's data folder.
inline constexpr const char* kYunetModelFile = "models/face_detection_yunet_2023mar.onnx";
inline constexpr const char* kScrfdModelFile = "models/det_500m.onnx";

// What decides which detector is built; a change of it needs a new one.
struct DetectorChoice {
    std::string tracking_device; // normalised device id
    std::string model_path;      // YuNet
    std::string gpu_model_path;  // SCRFD
};

// The detector of one filter, built lazily, with the flags that keep its log
// lines to one each and the latch that keeps a failed GPU from being retried.
struct FaceDetector {
    cv::Ptr<cv::FaceDetectorYN> yunet;
    std::unique_ptr<ScrfdDetector> scrfd;
    std::string active_device = kCpuDevice;
    std::string active_device_name = "CPU";
    bool detector_ready = false;
    bool ready_logged = false;
    bool first_detection_logged = false;
    bool gpu_failed = false;
    cv::Mat yunet_faces; // reused output of every YuNet run
};

// Builds the detector on first use: SCRFD on a DirectML GPU when one is
// chosen and usable, else YuNet on the CPU. False when none could be built
// (the reason is already in the log).
bool ensure_detector(FaceDetector& detector, const DetectorChoice& choice, float confidence);

// Drops every detector and re-arms its log lines; the next detection pass
// builds one afresh.
void reset_detectors(FaceDetector& detector);

// The runtime's CPU provider runs SCRFD where there is no DirectML (the video
// tool); throws what the session start-up throws.
void use_scrfd_on_cpu(FaceDetector& detector, const std::string& model_path);

} // namespace veilcam
