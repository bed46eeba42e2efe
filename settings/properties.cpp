#include "filter/filter_callbacks.hpp"
#include "plugin/module.hpp"
#include "settings/gpu_adapters.hpp"
#include "settings/keys.hpp"

#include <obs-module.h>

#include <exception>
#include <string>

namespace veilcam {
namespace {

void add_device_list(obs_properties_t* props) {
    obs_property_t* list = obs_properties_add_list(props, setting::kTrackingDevice,
                                                   module_text(locale_key::kTrackingDevice),
                                                   OBS_COMBO_TYPE_LIST, OBS_COMBO_FORMAT_STRING);
    obs_property_list_add_string(list, module_text(locale_key::kTrackingCpu), "cpu");
    for (const GpuAdapter& adapter : list_gpu_adapters()) {
        const std::string number = std::to_string(adapter.index);
        const std::string label = adapter.name + " [DirectML GPU " + number + "]";
        const std::string value = "dml:" + number;
        obs_property_list_add_string(list, label.c_str(), value.c_str());
    }
}

obs_property_t* add_int_list(obs_properties_t* props, const char* key, const char* label_key) {
    return obs_properties_add_list(props, key, module_text(label_key), OBS_COMBO_TYPE_LIST,
                                   OBS_COMBO_FORMAT_INT);
}

void add_properties(obs_properties_t* props) {
    using namespace setting;
    namespace text = locale_key;

    obs_properties_add_bool(props, kEnabled, module_text(text::kEnabled));
    obs_property_t* mode = add_int_list(props, kObscureMode, text::kObscureMode);
    obs_property_list_add_int(mode, module_text(text::kModePixelate), 0);
    obs_property_list_add_int(mode, module_text(text::kModeBlur), 1);
    obs_properties_add_int_slider(props, kPixelSize, module_text(text::kPixelSize), 4, 100, 1);
    obs_properties_add_int_slider(props, kBlurRadius, module_text(text::kBlurRadius), 3, 151, 2);
    obs_properties_add_bool(props, kShowBoxes, module_text(text::kShowBoxes));
    obs_property_t* selection = add_int_list(props, kFaceSelectionMode, text::kFaceSelectionMode);
    obs_property_list_add_int(selection, module_text(text::kSelectionExclude), 0);
    obs_property_list_add_int(selection, module_text(text::kSelectionInclude), 1);
    obs_properties_add_text(props, kFaceIds, module_text(text::kFaceIds), OBS_TEXT_DEFAULT);

    add_device_list(props);

    obs_properties_add_bool(props, kMirroredProfilePass, module_text(text::kProfilePass));
    obs_properties_add_bool(props, kCrowdMode, module_text(text::kCrowdMode));
    obs_properties_add_int_slider(props, kDetectionMaxDimension, module_text(text::kDetectionSize),
                                  320, 1280, 64);
    obs_properties_add_float_slider(props, kConfidence, module_text(text::kConfidence), 0.25, 0.95,
                                    0.01);
    obs_properties_add_int_slider(props, kDetectionInterval, module_text(text::kDetectionInterval),
                                  1, 15, 1);
    obs_properties_add_int_slider(props, kMinimumFaceSize, module_text(text::kMinimumFaceSize), 12,
                                  300, 1);
    obs_properties_add_int_slider(props, kMaxFaces, module_text(text::kMaxFaces), 1, 50, 1);
    obs_properties_add_int_slider(props, kHoldFrames, module_text(text::kHoldFrames), 0, 120, 1);
    obs_properties_add_float_slider(props, kPaddingPercent, module_text(text::kPadding), 0.0, 100.0,
                                    1.0);
    obs_properties_add_float_slider(props, kSmoothing, module_text(text::kSmoothing), 0.0, 0.98,
                                    0.01);
    obs_properties_add_path(props, kModelPath, module_text(text::kModelPath), OBS_PATH_FILE,
                            "YuNet ONNX (*.onnx)", nullptr);
}

} // namespace

obs_properties_t* get_properties(void*) {
    obs_properties_t* props = obs_properties_create();
    try {
        add_properties(props);
    } catch (const std::exception& e) {
        blog(LOG_ERROR, "[veilcam] get_properties failed: %s", e.what());
    }
    return props;
}

} // namespace veilcam
