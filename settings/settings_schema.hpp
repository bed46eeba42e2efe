#pragma once

#include "settings/filter_settings.hpp"

#include <obs.h>

#include <cstdint>
#include <limits>
#include <variant>
#include <vector>

// Every setting of the filter in one table: its stored key, its label, its
// default, the bounds that reading applies and what the panel offers. The
// defaults, the reading of stored settings, the panel and the video tool's
// options are all made from it.
namespace veilcam {

enum class SettingKind { Bool, IntChoice, IntSlider, FloatSlider, Colour, Text, DeviceChoice, Path };

struct SettingChoice {
    const char* label; // locale key
    int64_t value;
    const char* id = nullptr; // DeviceChoice: the device id
};

struct SettingSpec;
// A setting that is more than a value of its own: it reads itself into the
// record (the face list is parsed, a device id normalised).
using SettingReader = void (*)(obs_data_t* data, const SettingSpec& spec, FilterSettings& settings);

// Where a setting lands in FilterSettings.
using SettingField =
    std::variant<bool FilterSettings::*, int32_t FilterSettings::*, float FilterSettings::*,
                 std::string FilterSettings::*, SettingReader>;

inline constexpr double kUnbounded = std::numeric_limits<double>::infinity();

struct SettingSpec {
    const char* key;   // stored with the user's scenes
    const char* label; // locale key
    SettingKind kind;
    double default_number = 0.0;   // Bool, IntChoice, IntSlider, FloatSlider, Colour
    const char* default_text = ""; // Text, DeviceChoice, Path
    double lowest = -kUnbounded;   // what reading holds a stored number to
    double highest = kUnbounded;
    double panel_min = 0.0, panel_max = 0.0, panel_step = 0.0;
    std::vector<SettingChoice> choices = {}; // IntChoice
    SettingField field = {};
    // Shown on the panel only while the setting `shown_with` holds
    // `shown_value` (1 for a flag that is on): a mode's own settings, the
    // overlay's own limit. Always shown without one.
    const char* shown_with = nullptr;
    int32_t shown_value = 0;
};

const std::vector<SettingSpec>& settings_schema();

// Stored type of a setting: what obs_data_get_* reads it with.
enum class SettingType { Bool, Int, Double, String };
SettingType setting_type(const SettingSpec& spec);

void set_setting_defaults(obs_data_t* data);

// Whether `spec` matters with the settings in `data`: its `shown_with`
// setting holds its `shown_value`, or it has none.
bool setting_applies(obs_data_t* data, const SettingSpec& spec);

// A stored value as reading takes it: an integer held to the setting's
// bounds (only its low 32 bits count), the text ("" for none).
int32_t read_int(obs_data_t* data, const SettingSpec& spec);
std::string read_text(obs_data_t* data, const SettingSpec& spec);

} // namespace veilcam
