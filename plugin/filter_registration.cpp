#include "plugin/filter_registration.hpp"

#include "filter/filter_callbacks.hpp"
#include "plugin/module.hpp"
#include "settings/keys.hpp"

#include <obs-module.h>

namespace veilcam {
namespace {

const char* get_name(void*) {
    return module_text(locale_key::kFilterName);
}

obs_source_info make_filter_info() {
    obs_source_info info = {};
    info.id = kFilterId;
    info.type = OBS_SOURCE_TYPE_FILTER;
    // Asynchronous only: the filter edits the CPU-side frames and never renders itself.
    info.output_flags = OBS_SOURCE_VIDEO | OBS_SOURCE_ASYNC;
    info.get_name = get_name;
    info.create = create;
    info.destroy = destroy;
    info.get_defaults = get_defaults;
    info.get_properties = get_properties;
    info.update = update;
    info.filter_video = filter_video;
    return info;
}

const obs_source_info filter_info = make_filter_info();

} // namespace

void register_filter() {
    obs_register_source_s(&filter_info, sizeof(filter_info));
}

} // namespace veilcam
