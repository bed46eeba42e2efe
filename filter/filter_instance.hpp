#pragma once

#include "filter/region_resample.hpp"
#include "ort/scrfd_detector.hpp"
#include "tracking/face_tracker.hpp"

#include <obs.h>
#include <opencv2/core/mat.hpp>
#include <opencv2/objdetect/face.hpp>

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <unordered_set>
#include <vector>

namespace veilcam {

// Everything one filter on one source needs. `mutex` guards every member
// below it: the host's settings thread (update) and video thread
// (filter_video) both hold it for their whole work.
struct FilterInstance {
    FilterInstance(obs_data_t* settings, obs_source_t* source);

    obs_source_t* source = nullptr;
    std::mutex mutex;

    cv::Ptr<cv::FaceDetectorYN> yunet;
    std::unique_ptr<ScrfdDetector> scrfd;
    FaceTracker tracker{0.72f, 0.12f, 24};

    // Kept between frames so that OpenCV reuses their buffers.
    cv::Mat working_image;
    cv::Mat detection_image;
    cv::Mat detection_plane; // plane 0 shrunk, before its conversion to BGR
    cv::Mat mirror_image;
    ResampleScratch region_scratch; // reduced copies of the region being hidden
    cv::Mat overlay_luma;           // luma bytes under a label on YUY2 and UYVY
    std::string overlay_label;

    std::string model_path;
    std::string gpu_model_path;
    std::unordered_set<uint64_t> face_ids;
    std::string tracking_device = "cpu";
    std::string active_device = "cpu";
    std::string active_device_name = "CPU";

    int32_t detection_interval = 2;
    int32_t frame_counter = 0;
    int32_t pixel_size = 20;
    int32_t blur_radius = 31;
    int32_t minimum_face_size = 20;
    int32_t hold_frames = 24;
    int32_t max_faces = 20;
    int32_t detection_max_dimension = 640;
    int32_t profile_pass_period = 4;
    int32_t profile_pass_counter = 0;
    float padding_percent = 35.0f;
    float smoothing = 0.72f;
    float confidence = 0.5f;
    int32_t obscure_mode = 0;
    int32_t face_selection_mode = 0;
    bool enabled = true;
    bool show_boxes = true;
    bool mirrored_profile_pass = true;
    bool crowd_mode = false;

    bool detector_ready = false;
    bool unsupported_format_logged = false;
    bool ready_logged = false;
    bool first_detection_logged = false;
    bool gpu_failed = false;

    // Reused by every detection pass so that it allocates nothing it can keep.
    std::vector<FaceDetection> detections;
    std::vector<FaceDetection> raw_detections;
    cv::Mat yunet_faces;

    // Set by the first failure caught at a host callback; atomic because a
    // failure to take `mutex` is one of those failures.
    std::atomic<bool> callback_error_logged{false};
};

} // namespace veilcam
