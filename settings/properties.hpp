#pragma once

#include "settings/settings_schema.hpp"

#include <obs.h>

#include <vector>

namespace veilcam {

// The localised text of a locale key.
using TextLookup = const char* (*)(const char* key);

// The filter's properties panel, one control per setting in the schema's
// order; the device list holds `devices`, then every GPU adapter found now.
obs_properties_t* make_properties(TextLookup text, const std::vector<SettingChoice>& devices);

} // namespace veilcam
