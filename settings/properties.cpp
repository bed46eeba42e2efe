#include "settings/properties.hpp"

#include "settings/gpu_adapters.hpp"
#include "settings/settings_schema.hpp"

#include <memory>
#include <string>

namespace veilcam {
namespace {

void add_device_list(obs_properties_t* props, const SettingSpec& spec, TextLookup text,
                     const std::vector<SettingChoice>& devices) {
    obs_property_t* list = obs_properties_add_list(props, spec.key, text(spec.label),
                                                   OBS_COMBO_TYPE_LIST, OBS_COMBO_FORMAT_STRING);
    for (const SettingChoice& choice : devices) {
        obs_property_list_add_string(list, text(choice.label), choice.id);
    }
    for (const GpuAdapter& adapter : list_gpu_adapters()) {
        const std::string number = std::to_string(adapter.index);
        const std::string label = adapter.name + " [DirectML GPU " + number + "]";
        const std::string value = "dml:" + number;
        obs_property_list_add_string(list, label.c_str(), value.c_str());
    }
}

void add_property(obs_properties_t* props, const SettingSpec& spec, TextLookup text,
                  const std::vector<SettingChoice>& devices) {
    const char* label = text(spec.label);
    switch (spec.kind) {
    case SettingKind::Bool:
        obs_properties_add_bool(props, spec.key, label);
        break;
    case SettingKind::IntChoice: {
        obs_property_t* list = obs_properties_add_list(props, spec.key, label, OBS_COMBO_TYPE_LIST,
                                                       OBS_COMBO_FORMAT_INT);
        for (const SettingChoice& choice : spec.choices) {
            obs_property_list_add_int(list, text(choice.label), choice.value);
        }
        break;
    }
    case SettingKind::IntSlider:
        obs_properties_add_int_slider(props, spec.key, label, static_cast<int>(spec.panel_min),
                                      static_cast<int>(spec.panel_max),
                                      static_cast<int>(spec.panel_step));
        break;
    case SettingKind::FloatSlider:
        obs_properties_add_float_slider(props, spec.key, label, spec.panel_min, spec.panel_max,
                                        spec.panel_step);
        break;
    case SettingKind::Colour:
        obs_properties_add_color(props, spec.key, label);
        break;
    case SettingKind::Text:
        obs_properties_add_text(props, spec.key, label, OBS_TEXT_DEFAULT);
        break;
    case SettingKind::DeviceChoice:
        add_device_list(props, spec, text, devices);
        break;
    case SettingKind::Path:
        obs_properties_add_path(props, spec.key, label, OBS_PATH_FILE, "YuNet ONNX (*.onnx)",
                                nullptr);
        break;
    }
}

// Shows the settings that matter with what is chosen now; OBS calls it when
// the panel opens and whenever a setting others depend on changes.
bool show_what_applies(obs_properties_t* props, obs_property_t*, obs_data_t* settings) {
    for (const SettingSpec& spec : settings_schema()) {
        if (spec.shown_with) {
            obs_property_set_visible(obs_properties_get(props, spec.key),
                                     setting_applies(settings, spec));
        }
    }
    return true;
}

} // namespace

obs_properties_t* make_properties(TextLookup text, const std::vector<SettingChoice>& devices) {
    std::unique_ptr<obs_properties_t, void (*)(obs_properties_t*)> props(obs_properties_create(),
                                                                         obs_properties_destroy);
    for (const SettingSpec& spec : settings_schema()) {
        add_property(props.get(), spec, text, devices);
    }
    for (const SettingSpec& spec : settings_schema()) {
        if (spec.shown_with) {
            obs_property_set_modified_callback(obs_properties_get(props.get(), spec.shown_with),
                                               show_what_applies);
        }
    }
    return props.release();
}

} // namespace veilcam
