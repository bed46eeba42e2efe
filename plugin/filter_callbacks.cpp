#include "plugin/filter_callbacks.hpp"

#include "detection/face_detector.hpp"
#include "filter/filter_instance.hpp"
#include "plugin/module.hpp"
#include "settings/properties.hpp"
#include "settings/settings_schema.hpp"

#include <obs-module.h>

#include <atomic>
#include <exception>

namespace veilcam {
namespace {

// Runs one callback's work so that nothing thrown reaches the host. A failure
// is logged once per `logged` flag (later ones would flood the log every
// frame); the callback then answers as if there had been nothing to do.
template <typename Work>
void guarded(const char* callback, std::atomic<bool>* logged, Work&& work) noexcept {
    auto log = [&](const char* reason) {
        if (!logged || !logged->exchange(true)) {
            blog(LOG_ERROR, "[veilcam] %s failed: %s", callback, reason);
        }
    };
    try {
        work();
    } catch (const std::exception& e) {
        log(e.what());
    } catch (...) {
        log("unknown error");
    }
}

FilterInstance& instance(void* data) {
    return *static_cast<FilterInstance*>(data);
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
    info.update = filter_update;
    info.filter_video = filter_video;
    return info;
}

} // namespace

const char* get_name(void*) {
    return module_text("VeilcamFilter.Name");
}

void* create(obs_data_t* settings, obs_source_t*) {
    FilterInstance* created = nullptr;
    guarded("create", nullptr, [&] {
        auto made = std::make_unique<FilterInstance>(find_module_file(kYunetModelFile),
                                                     find_module_file(kScrfdModelFile));
        apply_settings(*made, read_filter_settings(settings));
        created = made.release();
    });
    return created;
}

void destroy(void* data) {
    delete static_cast<FilterInstance*>(data);
}

void get_defaults(obs_data_t* settings) {
    guarded("get_defaults", nullptr, [&] { set_setting_defaults(settings); });
}

obs_properties_t* get_properties(void*) {
    obs_properties_t* props = nullptr;
    guarded("get_properties", nullptr, [&] { props = make_properties(module_text); });
    return props;
}

void filter_update(void* data, obs_data_t* settings) {
    guarded("update", &instance(data).callback_error_logged,
            [&] { apply_settings(instance(data), read_filter_settings(settings)); });
}

obs_source_frame* filter_video(void* data, obs_source_frame* frame) {
    if (frame) {
        guarded("filter_video", &instance(data).callback_error_logged,
                [&] { process_frame(instance(data), *frame); });
    }
    return frame;
}

void register_filter() {
    static const obs_source_info filter_info = make_filter_info();
    obs_register_source_s(&filter_info, sizeof(filter_info));
}

} // namespace veilcam
