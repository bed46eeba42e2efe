// A stand-in for OBS Studio's obs.dll: the real OBS cannot run under Wine on
// this machine, so this DLL gives the plug-in the libobs functions it imports
// (those obs.def lists) with just enough behaviour for the test host: settings
// with defaults, properties whose list items can be read back, a log the
// host can search, and the one source the module registers.
#include "tests/windows/obs_stand_in.hpp"

#include <windows.h>

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <memory>
#include <string>
#include <variant>
#include <vector>

using Value = std::variant<bool, long long, double, std::string>;

struct obs_data {
    std::map<std::string, Value> values;
    std::map<std::string, Value> defaults;
};

struct obs_property {
    std::string name;
};

struct obs_properties {
    std::vector<std::unique_ptr<obs_property>> properties;
};

namespace {

std::string g_log;
std::string g_list_items;
std::string g_data_dir;
obs_source_info g_source = {};

// The stored value, else the default, else null.
template <typename T> const T* get(obs_data_t* data, const char* name) {
    for (const auto* values : {&data->values, &data->defaults}) {
        const auto found = values->find(name);
        if (found != values->end() && std::holds_alternative<T>(found->second)) {
            return &std::get<T>(found->second);
        }
    }
    return nullptr;
}

} // namespace

extern "C" {

void blog(int level, const char* format, ...) {
    char line[4096];
    va_list args;
    va_start(args, format);
    std::vsnprintf(line, sizeof(line), format, args);
    va_end(args);
    std::printf("[%d] %s\n", level, line);
    std::fflush(stdout);
    g_log += std::to_string(level) + " " + line + "\n";
}

void bfree(void* memory) {
    std::free(memory);
}

bool obs_data_get_bool(obs_data_t* data, const char* name) {
    return get<bool>(data, name) && *get<bool>(data, name);
}
long long obs_data_get_int(obs_data_t* data, const char* name) {
    return get<long long>(data, name) ? *get<long long>(data, name) : 0;
}
double obs_data_get_double(obs_data_t* data, const char* name) {
    return get<double>(data, name) ? *get<double>(data, name) : 0.0;
}
const char* obs_data_get_string(obs_data_t* data, const char* name) {
    return get<std::string>(data, name) ? get<std::string>(data, name)->c_str() : "";
}
void obs_data_set_default_bool(obs_data_t* data, const char* name, bool value) {
    data->defaults[name] = value;
}
void obs_data_set_default_int(obs_data_t* data, const char* name, long long value) {
    data->defaults[name] = value;
}
void obs_data_set_default_double(obs_data_t* data, const char* name, double value) {
    data->defaults[name] = value;
}
void obs_data_set_default_string(obs_data_t* data, const char* name, const char* value) {
    data->defaults[name] = std::string(value);
}

// What the checks do not need: obs.def exports obs_filter_get_parent,
// obs_source_release_frame, the locale's functions (no translations: the
// module then shows its keys) as this, which answers null, false or nothing.
void* stand_in_nothing(void) {
    return nullptr;
}

// libobs gives paths in UTF-8, as here.
char* obs_find_module_file(obs_module_t*, const char* file) {
    const std::string path = g_data_dir + "/" + file;
    wchar_t wide[MAX_PATH];
    if (MultiByteToWideChar(CP_UTF8, 0, path.c_str(), -1, wide, MAX_PATH) == 0 ||
        GetFileAttributesW(wide) == INVALID_FILE_ATTRIBUTES) {
        return nullptr;
    }
    return strdup(path.c_str());
}

void obs_register_source_s(const obs_source_info* info, size_t size) {
    std::memcpy(&g_source, info, std::min(size, sizeof(g_source)));
}

obs_properties_t* obs_properties_create(void) {
    g_list_items.clear();
    return new obs_properties;
}
void obs_properties_destroy(obs_properties_t* props) {
    delete props;
}
// Every obs_properties_add_* is exported as this: on x64 the properties and
// the name come first in every one of them, and the rest is left unread.
obs_property_t* stand_in_add_property(obs_properties_t* props, const char* name) {
    props->properties.push_back(std::make_unique<obs_property>(obs_property{name}));
    return props->properties.back().get();
}
size_t obs_property_list_add_string(obs_property_t* p, const char* name, const char* value) {
    g_list_items += p->name + ": " + value + " = " + name + "\n";
    return 0;
}
size_t obs_property_list_add_int(obs_property_t* p, const char* name, long long value) {
    g_list_items += p->name + ": " + std::to_string(value) + " = " + name + "\n";
    return 0;
}

// The test host's side.

obs_data_t* stand_in_data_create(void) {
    return new obs_data;
}
void stand_in_data_destroy(obs_data_t* data) {
    delete data;
}
void stand_in_data_set_string(obs_data_t* data, const char* name, const char* value) {
    data->values[name] = std::string(value);
}
void stand_in_set_data_dir(const char* folder) {
    g_data_dir = folder;
}
const obs_source_info* stand_in_registered_source(void) {
    return &g_source;
}
const char* stand_in_log(void) {
    return g_log.c_str();
}
const char* stand_in_list_items(void) {
    return g_list_items.c_str();
}

} // extern "C"
