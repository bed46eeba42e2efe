#pragma once

#include <obs-module.h>

#include <string>

// The module-wide state that the host's module calls set up: the module handle
// and the locale lookup. Everything else reads it through these functions.
namespace veilcam {

inline constexpr const char* kModuleVersion = "0.6.0";
inline constexpr const char* kModuleDescription =
    "Automatic face tracking and pixelation demo filter";
// libobs 32.0.0: a host refuses a module that claims a newer API than its own.
inline constexpr uint32_t kModuleApiVersion = (32u << 24) | (0u << 16) | 0u;

void set_module_handle(obs_module_t* module);
obs_module_t* module_handle();

void set_module_locale(const char* locale);
void free_module_locale();
bool module_locale_string(const char* key, const char** out);

// The localised text of `key`, or `key` itself when the locale lacks it.
const char* module_text(const char* key);

// The path of a file in the module's data folder, or "" when it is absent.
std::string find_module_file(const char* name);

// Registers the filter source and writes the load banner.
bool load_module();

} // namespace veilcam
