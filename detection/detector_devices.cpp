#include "detection/detector_devices.hpp"

#include "detection/yunet_opencv.hpp"
#include "settings/device_choice.hpp"

namespace veilcam {

// Made by the classes on ONNX Runtime (ort/), which sits above this folder.
std::unique_ptr<FaceModel> make_yunet_on_onnx_cpu(const ModelStart& start);
std::unique_ptr<FaceModel> make_scrfd_on_onnx_cpu(const ModelStart& start);
std::unique_ptr<FaceModel> make_scrfd_on_directml(const ModelStart& start);

namespace {

std::unique_ptr<FaceModel> make_yunet_on_opencv(const ModelStart& start) {
    return std::make_unique<YunetOpencvDetector>(start.model_path, start.confidence);
}

} // namespace

const std::vector<DetectorDevice>& detector_devices() {
    using R = DeviceRuntime;
    static const std::vector<DetectorDevice> devices{
        {kCpuDevice, "TrackingCpu", "YuNet", "models/face_detection_yunet_2023mar.onnx", R::OpenCv,
         nullptr, make_yunet_on_opencv},
        {kCpuOrtDevice, "TrackingCpuOrt", "YuNet",
         "models/face_detection_yunet_2023mar_any_size.onnx", R::OnnxCpu, kCpuDevice,
         make_yunet_on_onnx_cpu},
        {kCpuScrfdDevice, "TrackingCpuScrfd", "SCRFD-500M", "models/det_500m_any_size.onnx",
         R::OnnxCpu, kCpuDevice, make_scrfd_on_onnx_cpu},
        {"dml:<adapter>", nullptr, "SCRFD-500M", "models/det_500m.onnx", R::DirectMl, kCpuDevice,
         make_scrfd_on_directml},
    };
    return devices;
}

const DetectorDevice& device_for(std::string_view id) {
    const DetectorDevice* gpu = nullptr;
    for (const DetectorDevice& device : detector_devices()) {
        if (device.runtime == DeviceRuntime::DirectMl) {
            gpu = &device;
        } else if (id == device.id) {
            return device;
        }
    }
    // Any other id asks for a GPU, one that may not be there.
    return *gpu;
}

std::vector<SettingChoice> named_device_choices() {
    std::vector<SettingChoice> choices;
    for (const DetectorDevice& device : detector_devices()) {
        if (device.label) {
            choices.push_back({device.label, static_cast<int64_t>(choices.size()), device.id});
        }
    }
    return choices;
}

BundledModels find_bundled_models(const std::function<std::string(const char* file)>& locate) {
    BundledModels models;
    for (const DetectorDevice& device : detector_devices()) {
        models.emplace(device.model_file, locate(device.model_file));
    }
    models.emplace(kFaceDescriptorModel, locate(kFaceDescriptorModel));
    return models;
}

const std::string& bundled_model(const BundledModels& models, const DetectorDevice& device) {
    static const std::string none;
    const auto found = models.find(device.model_file);
    return found == models.end() ? none : found->second;
}

} // namespace veilcam
