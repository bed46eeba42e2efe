#include "filter/filter_instance.hpp"

#include "filter/filter_callbacks.hpp"
#include "plugin/module.hpp"
#include "settings/keys.hpp"
#include "settings/settings_update.hpp"

#include <obs-module.h>

#include <exception>
#include <new>

namespace veilcam {

FilterInstance::FilterInstance(obs_data_t* settings, obs_source_t* filter_source)
    : source(filter_source), gpu_model_path(find_module_file(kScrfdModelFile)) {
    apply_settings(*this, settings);
}

void* create(obs_data_t* settings, obs_source_t* source) {
    try {
        return new FilterInstance(settings, source);
    } catch (const std::exception& e) {
        blog(LOG_ERROR, "[veilcam] create failed: %s", e.what());
    } catch (...) {
        blog(LOG_ERROR, "[veilcam] create failed: %s", "unknown error");
    }
    return nullptr;
}

void destroy(void* data) {
    delete static_cast<FilterInstance*>(data);
}

} // namespace veilcam
