#include "settings/settings_schema.hpp"

#include "filter/hiding_modes.hpp"
#include "settings/device_choice.hpp"

#include <algorithm>
#include <array>
#include <cstring>
#include <string>
#include <type_traits>

namespace veilcam {
namespace {

using S = FilterSettings;

SettingSpec flag(const char* key, const char* label, bool on, bool S::*field) {
    SettingSpec spec{key, label, SettingKind::Bool};
    spec.default_number = on ? 1.0 : 0.0;
    spec.field = field;
    return spec;
}

// A number: its default, the bounds reading holds it to, the slider's range.
template <typename Number>
SettingSpec number(const char* key, const char* label, double value, double lowest, double highest,
                   std::array<double, 3> slider, Number S::*field) {
    constexpr bool is_float = std::is_same_v<Number, float>;
    SettingSpec spec{key, label, is_float ? SettingKind::FloatSlider : SettingKind::IntSlider};
    spec.default_number = value;
    spec.lowest = lowest;
    spec.highest = highest;
    spec.panel_min = slider[0];
    spec.panel_max = slider[1];
    spec.panel_step = slider[2];
    spec.field = field;
    return spec;
}

SettingSpec text(const char* key, const char* label, SettingKind kind, const char* value,
                 SettingField field, std::vector<SettingChoice> choices = {}) {
    SettingSpec spec{key, label, kind};
    spec.default_text = value;
    spec.field = field;
    spec.choices = std::move(choices);
    return spec;
}

SettingSpec choice(const char* key, const char* label, std::vector<SettingChoice> choices,
                   SettingField field) {
    SettingSpec spec{key, label, SettingKind::IntChoice};
    spec.choices = std::move(choices);
    spec.field = field;
    return spec;
}

// As OBS's colour property stores it: 0xAABBGGRR.
constexpr double kOpaqueBlack = 0xFF000000u;

SettingSpec colour(const char* key, const char* label, double value, SettingReader reader) {
    SettingSpec spec{key, label, SettingKind::Colour};
    spec.default_number = value;
    spec.field = reader;
    return spec;
}

std::vector<SettingChoice> mode_choices() {
    std::vector<SettingChoice> choices;
    for (const HidingMode& mode : hiding_modes()) {
        choices.push_back({mode.label, mode.value});
    }
    return choices;
}

SettingSpec shown_with(SettingSpec spec, const char* key, int32_t value) {
    spec.shown_with = key;
    spec.shown_value = value;
    return spec;
}

std::vector<SettingSpec> make_schema() {
    using K = SettingKind;
    return {
        flag("enabled", "Enabled", true, &S::enabled),
        choice("obscure_mode", "ObscureMode", mode_choices(), &S::obscure_mode),
        shown_with(number("pixel_size", "PixelSize", 20, 2, 100, {4, 100, 1}, &S::pixel_size),
                   "obscure_mode", kPixelate),
        // The panel steps by two from 3: a strength is odd, and reading makes a
        // stored even one odd too.
        shown_with(number("blur_radius", "BlurRadius", 70, 3, 151, {3, 151, 2}, &S::blur_radius),
                   "obscure_mode", kBlur),
        shown_with(colour("solid_colour", "SolidColour", kOpaqueBlack,
                          [](obs_data_t* data, const SettingSpec& spec, S& s) {
                              s.solid_colour =
                                  static_cast<uint32_t>(obs_data_get_int(data, spec.key));
                          }),
                   "obscure_mode", kSolid),
        flag("show_boxes", "ShowBoxes", false, &S::show_boxes),
        choice("face_selection_mode", "FaceSelectionMode",
               {{"SelectionExclude", kListedStayVisible}, {"SelectionInclude", kListedAreHidden}},
               [](obs_data_t* data, const SettingSpec& spec, S& s) {
                   s.selection.mode = read_int(data, spec);
               }),
        text("excluded_face_ids", "FaceIds", K::Text, "",
             [](obs_data_t* data, const SettingSpec& spec, S& s) {
                 parse_face_ids(read_text(data, spec).c_str(), s.selection);
             }),
        // Its choices are the detection devices, listed where they are known.
        text("tracking_device", "TrackingDevice", K::DeviceChoice, kCpuOrtDevice,
             [](obs_data_t* data, const SettingSpec& spec, S& s) {
                 s.tracking_device = normalize_tracking_device(read_text(data, spec));
             }),
        flag("mirrored_profile_pass", "ProfilePass", true, &S::mirrored_profile_pass),
        flag("crowd_mode", "CrowdMode", false, &S::crowd_mode),
        number("detection_max_dimension", "DetectionSize", 640, 320, 1280, {320, 1280, 64},
               &S::detection_max_dimension),
        number("confidence", "Confidence", 0.5, 0.25, 0.95, {0.25, 0.95, 0.01}, &S::confidence),
        number("detection_interval", "DetectionInterval", 2, 1, 15, {1, 15, 1},
               &S::detection_interval),
        number("minimum_face_size", "MinimumFaceSize", 14, 12, 300, {12, 300, 1},
               &S::minimum_face_size),
        // Every face found is hidden: the limit bounds only what the overlay labels.
        shown_with(number("max_faces", "MaxFaces", 20, 1, 50, {1, 50, 1}, &S::max_faces),
                   "show_boxes", 1),
        number("hold_frames", "HoldFrames", 24, 0, 120, {0, 120, 1}, &S::hold_frames),
        // A negative margin would hide less than the face.
        number("padding_percent", "Padding", 35.0, 0, 100, {0, 100, 1}, &S::padding_percent),
        number("smoothing", "Smoothing", 0.72, 0, 0.98, {0, 0.98, 0.01}, &S::smoothing),
        text("model_path", "ModelPath", K::Path, "", &S::model_path),
        flag("hide_all_on_failure", "HideAllOnFailure", true, &S::hide_all_on_failure),
    };
}

} // namespace

const std::vector<SettingSpec>& settings_schema() {
    static const std::vector<SettingSpec> schema = make_schema();
    return schema;
}

// Integer settings are stored as 64 bits; only the low 32 bits count. A
// choice that is none of its own takes the default, not the nearest one: a
// stored selection mode of 2 hides what the default hides.
int32_t read_int(obs_data_t* data, const SettingSpec& spec) {
    const auto value =
        static_cast<int32_t>(static_cast<uint32_t>(obs_data_get_int(data, spec.key)));
    if (spec.kind == SettingKind::IntChoice) {
        const bool offered =
            std::any_of(spec.choices.begin(), spec.choices.end(),
                        [&](const SettingChoice& choice) { return choice.value == value; });
        return offered ? value : static_cast<int32_t>(spec.default_number);
    }
    return static_cast<int32_t>(std::clamp<double>(value, spec.lowest, spec.highest));
}

std::string read_text(obs_data_t* data, const SettingSpec& spec) {
    const char* value = obs_data_get_string(data, spec.key);
    return value ? value : "";
}

SettingType setting_type(const SettingSpec& spec) {
    switch (spec.kind) {
    case SettingKind::Bool:
        return SettingType::Bool;
    case SettingKind::IntChoice:
    case SettingKind::IntSlider:
    case SettingKind::Colour:
        return SettingType::Int;
    case SettingKind::FloatSlider:
        return SettingType::Double;
    default:
        return SettingType::String;
    }
}

void set_setting_defaults(obs_data_t* data) {
    for (const SettingSpec& spec : settings_schema()) {
        switch (setting_type(spec)) {
        case SettingType::Bool:
            obs_data_set_default_bool(data, spec.key, spec.default_number != 0.0);
            break;
        case SettingType::Int:
            obs_data_set_default_int(data, spec.key, static_cast<long long>(spec.default_number));
            break;
        case SettingType::Double:
            obs_data_set_default_double(data, spec.key, spec.default_number);
            break;
        case SettingType::String:
            obs_data_set_default_string(data, spec.key, spec.default_text);
            break;
        }
    }
}

bool setting_applies(obs_data_t* data, const SettingSpec& spec) {
    if (!spec.shown_with) {
        return true;
    }
    for (const SettingSpec& other : settings_schema()) {
        if (std::strcmp(other.key, spec.shown_with) == 0) {
            const int32_t value = setting_type(other) == SettingType::Bool
                                      ? obs_data_get_bool(data, other.key)
                                      : read_int(data, other);
            return value == spec.shown_value;
        }
    }
    return true;
}

} // namespace veilcam
