#include "plugin/filter_callbacks.hpp"

#include "detection/face_detector.hpp"
#include "filter/filter_instance.hpp"
#include "plugin/module.hpp"
#include "settings/properties.hpp"
#include "settings/settings_schema.hpp"

#include <obs-module.h>

#include <exception>
#include <memory>
#include <utility>

namespace veilcam {
namespace {

// Runs one callback's work so that nothing thrown reaches the host; false
// when it failed. `what` ("update failed") goes to `failures`, or to the log
// each time when the callback has no instance to keep count.
template <typename Work>
bool guarded(const char* what, FailureLog* failures, Work&& work) noexcept {
    auto log = [&](const char* reason) {
        if (failures) {
            failures->report(LOG_ERROR, what, reason);
        } else {
            blog(LOG_ERROR, "[veilcam] %s: %s", what, reason);
        }
    };
    try {
        work();
        return true;
    } catch (const std::exception& e) {
        log(e.what());
    } catch (...) {
        log("unknown error");
    }
    return false;
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

void* create(obs_data_t* settings, obs_source_t* source) {
    void* created = nullptr;
    guarded("create failed", nullptr, [&] {
        created = create_with_models(
            settings, source,
            {find_module_file(kYunetModelFile), find_module_file(kYunetAnySizeModelFile),
             find_module_file(kScrfdModelFile), find_module_file(kScrfdAnySizeModelFile)});
    });
    return created;
}

void* create_with_models(obs_data_t* settings, obs_source_t* source, BundledModels models) {
    FilterInstance* created = nullptr;
    guarded("create failed", nullptr, [&] {
        auto made = std::make_unique<FilterInstance>(std::move(models));
        made->source = source;
        apply_settings(*made, read_filter_settings(settings));
        created = made.release();
    });
    return created;
}

void destroy(void* data) {
    delete static_cast<FilterInstance*>(data);
}

void get_defaults(obs_data_t* settings) {
    guarded("get_defaults failed", nullptr, [&] { set_setting_defaults(settings); });
}

obs_properties_t* get_properties(void*) {
    obs_properties_t* props = nullptr;
    guarded("get_properties failed", nullptr, [&] { props = make_properties(module_text); });
    return props;
}

void filter_update(void* data, obs_data_t* settings) {
    guarded("update failed", &instance(data).callback_failures,
            [&] { apply_settings(instance(data), read_filter_settings(settings)); });
}

// A frame whose faces could not be hidden is dropped, never shown; the host
// counts on the filter to release what it drops.
obs_source_frame* filter_video(void* data, obs_source_frame* frame) {
    if (!frame) {
        return nullptr;
    }
    FilterInstance& f = instance(data);
    bool show = false;
    guarded("filter_video failed", &f.callback_failures, [&] { show = process_frame(f, *frame); });
    if (show) {
        return frame;
    }
    if (obs_source_t* parent = f.source ? obs_filter_get_parent(f.source) : nullptr) {
        obs_source_release_frame(parent, frame);
    }
    return nullptr;
}

void register_filter() {
    static const obs_source_info filter_info = make_filter_info();
    obs_register_source_s(&filter_info, sizeof(filter_info));
}

} // namespace veilcam
