#pragma once

// Settings keys are a stored format (the host keeps them with the user's
// scenes); locale keys name the texts in data/locale/*.ini.
namespace veilcam {

namespace setting {
inline constexpr const char* kEnabled = "enabled";
inline constexpr const char* kObscureMode = "obscure_mode";
inline constexpr const char* kPixelSize = "pixel_size";
inline constexpr const char* kBlurRadius = "blur_radius";
inline constexpr const char* kShowBoxes = "show_boxes";
inline constexpr const char* kFaceSelectionMode = "face_selection_mode";
inline constexpr const char* kFaceIds = "excluded_face_ids";
inline constexpr const char* kTrackingDevice = "tracking_device";
inline constexpr const char* kMirroredProfilePass = "mirrored_profile_pass";
inline constexpr const char* kCrowdMode = "crowd_mode";
inline constexpr const char* kDetectionMaxDimension = "detection_max_dimension";
inline constexpr const char* kConfidence = "confidence";
inline constexpr const char* kDetectionInterval = "detection_interval";
inline constexpr const char* kMinimumFaceSize = "minimum_face_size";
inline constexpr const char* kMaxFaces = "max_faces";
inline constexpr const char* kHoldFrames = "hold_frames";
inline constexpr const char* kPaddingPercent = "padding_percent";
inline constexpr const char* kSmoothing = "smoothing";
inline constexpr const char* kModelPath = "model_path";
} // namespace setting

namespace locale_key {
inline constexpr const char* kFilterName = "VeilcamFilter.Name";
inline constexpr const char* kEnabled = "Enabled";
inline constexpr const char* kObscureMode = "ObscureMode";
inline constexpr const char* kModePixelate = "ModePixelate";
inline constexpr const char* kModeBlur = "ModeBlur";
inline constexpr const char* kPixelSize = "PixelSize";
inline constexpr const char* kBlurRadius = "BlurRadius";
inline constexpr const char* kShowBoxes = "ShowBoxes";
inline constexpr const char* kFaceSelectionMode = "FaceSelectionMode";
inline constexpr const char* kSelectionExclude = "SelectionExclude";
inline constexpr const char* kSelectionInclude = "SelectionInclude";
inline constexpr const char* kFaceIds = "FaceIds";
inline constexpr const char* kTrackingDevice = "TrackingDevice";
inline constexpr const char* kTrackingCpu = "TrackingCpu";
inline constexpr const char* kProfilePass = "ProfilePass";
inline constexpr const char* kCrowdMode = "CrowdMode";
inline constexpr const char* kDetectionSize = "DetectionSize";
inline constexpr const char* kConfidence = "Confidence";
inline constexpr const char* kDetectionInterval = "DetectionInterval";
inline constexpr const char* kMinimumFaceSize = "MinimumFaceSize";
inline constexpr const char* kMaxFaces = "MaxFaces";
inline constexpr const char* kHoldFrames = "HoldFrames";
inline constexpr const char* kPadding = "Padding";
inline constexpr const char* kSmoothing = "Smoothing";
inline constexpr const char* kModelPath = "ModelPath";
} // namespace locale_key

// Model files inside the module's data folder.
inline constexpr const char* kYunetModelFile = "models/face_detection_yunet_2023mar.onnx";
inline constexpr const char* kScrfdModelFile = "models/det_500m.onnx";

} // namespace veilcam
