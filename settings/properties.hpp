#pragma once

#include <obs.h>

namespace veilcam {

// The localised text of a locale key.
using TextLookup = const char* (*)(const char* key);

// The filter's properties panel, one control per setting in the schema's
// order; the device list names the CPU and every GPU adapter found now.
obs_properties_t* make_properties(TextLookup text);

} // namespace veilcam
