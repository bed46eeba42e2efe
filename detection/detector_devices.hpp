#pragma once

#include "detection/face_model.hpp"
#include "settings/settings_schema.hpp"

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace veilcam {

// How a device's network runs: each way has its own start-up and failure
// lines in the log.
enum class DeviceRuntime { OpenCv, OnnxCpu, DirectMl };

// What a network is started from.
struct ModelStart {
    std::string model_path;
    int32_t adapter = 0;     // DirectML: the GPU's position in the adapter list
    float confidence = 0.5f; // OpenCV's YuNet takes its threshold at start-up
};

// One detection device the user can choose. Adding one is a class that
// implements FaceModel and a row of the table: the panel, the video tool's
// help, the models looked for at start-up and the build's model list follow.
struct DetectorDevice {
    const char* id;         // as stored
    const char* label;      // locale key of its name; none for GPUs, named by their adapter
    const char* network;    // its name in the log
    const char* model_file; // under the data folder
    DeviceRuntime runtime;
    const char* fallback; // the device that takes over when this one cannot run; none: nullptr
    std::unique_ptr<FaceModel> (*make)(const ModelStart& start);
};

const std::vector<DetectorDevice>& detector_devices();

// The row of a stored device id; any id no CPU row names asks for a GPU
// ("dml:<adapter>", or one that is not there).
const DetectorDevice& device_for(std::string_view id);

// The devices chosen by name (all but the GPUs, listed by adapter), for the
// panel and the video tool's help.
std::vector<SettingChoice> named_device_choices();

// The face descriptor's model, under the data folder.
inline constexpr const char* kFaceDescriptorModel = "models/face_descriptor.onnx";

// The models that come with the plug-in, by file name under the data folder:
// where `locate` found each ("" where it did not), the descriptor's too.
using BundledModels = std::map<std::string, std::string>;
BundledModels find_bundled_models(const std::function<std::string(const char* file)>& locate);

// Where the bundled model of `device` is; "" where it was not found.
const std::string& bundled_model(const BundledModels& models, const DetectorDevice& device);

} // namespace veilcam
