#pragma once

#include "detection/detection_pass.hpp"
#include "detection/detector_devices.hpp"
#include "detection/failure_log.hpp"
#include "settings/device_choice.hpp"
#include "settings/filter_settings.hpp"

#include <opencv2/core/types.hpp>

#include <memory>
#include <string>

namespace veilcam {

// What decides which detector is built; a change of it needs a new one.
struct DetectorChoice {
    std::string tracking_device; // normalised device id
    std::string model_path;      // YuNet for OpenCV: the user's, or the bundled one
    BundledModels bundled;
};

// The detector of one filter, built on the first pass that needs it, with
// the flags that keep its log lines to one each.
struct FaceDetector {
    std::unique_ptr<FaceModel> model;
    std::string active_device = kCpuDevice;
    std::string active_device_name = "CPU";
    bool ready_logged = false;
    bool first_detection_logged = false;
    // The chosen device failed, to start or to run: its fall-back runs until
    // the user picks another device, so that a broken choice costs one
    // attempt, not one a pass.
    bool chosen_device_failed = false;
    // The last resort could not start: not tried again until the settings
    // change, so that a bad model file costs one attempt, not one a pass.
    bool last_resort_failed = false;
    const char* last_resort_failure = "";
    std::string last_resort_failure_reason;
    FailureLog start_failures;
    FailureLog inference_failures;
};

// The images a pass searches, made for the network that searches them: its
// largest side and whether it wants colour decide them.
class DetectionSource {
  public:
    virtual void make_views(const FaceModel& model, PassViews& views) = 0;

  protected:
    ~DetectionSource() = default;
};

// Finds the faces of one frame of `frame_size` into `state.detections`, in
// frame pixels: with the chosen device, started on first use, and when that
// cannot start or fails, with its fall-back on this very frame, so that a
// failure leaves no frame unsearched. False when no detector could search
// the frame (said in the log). A start-up longer than `frame_milliseconds`
// is said too: the video waited for it.
bool detect_frame(FaceDetector& detector, DetectionState& state, const DetectorChoice& choice,
                  const FilterSettings& settings, DetectionSource& source, cv::Size frame_size,
                  double frame_milliseconds);

// Drops the detector and re-arms its log lines; the next pass builds one
// afresh. With `new_device`, a chosen device that failed is tried again.
void reset_detector(FaceDetector& detector, bool new_device);

// New settings: a last resort that could not start is tried again.
void retry_last_resort(FaceDetector& detector);

} // namespace veilcam
