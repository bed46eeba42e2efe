#include "plugin/filter_callbacks.hpp"

#include "detection/face_detector.hpp"
#include "filter/frame_pipeline.hpp"
#include "plugin/module.hpp"
#include "plugin/remembered_faces_panel.hpp"
#include "settings/properties.hpp"
#include "settings/settings_schema.hpp"

#include <obs-module.h>

#include <algorithm>
#include <exception>
#include <memory>
#include <mutex>
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

// Where the next face id is kept with the filter's settings.
constexpr const char* kNextFaceIdKey = "next_face_id";

// Turned on again in OBS, the filter detects on its first frame: the
// picture may have changed meanwhile.
void on_enable(void* data, calldata_t* call) {
    if (calldata_bool(call, "enabled")) {
        FilterInstance& f = instance(data);
        guarded("enable failed", &f.callback_failures, [&] {
            std::lock_guard<std::mutex> lock(f.mutex);
            f.frame_counter = 0;
        });
    }
}

// The user's settings and the next face id stored beside them: ids that an
// earlier session (or the filter this one was copied from) handed out are not
// handed out again.
void take_settings(FilterInstance& f, obs_data_t* settings) {
    apply_settings(f, read_filter_settings(settings));
    const long long stored = obs_data_get_int(settings, kNextFaceIdKey);
    continue_face_ids(f, static_cast<uint64_t>(std::max(stored, 0LL)));
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
    info.save = save;
    info.load = load;
    info.filter_video = filter_video;
    return info;
}

} // namespace

const char* get_name(void*) {
    return module_text("VeilcamFilter.Name");
}

void* create(obs_data_t* settings, obs_source_t* source) {
    // Without its models the filter still starts, and hides the picture.
    BundledModels models;
    guarded("create failed", nullptr, [&] { models = find_bundled_models(find_module_file); });
    return create_with_models(settings, source, std::move(models));
}

void* create_with_models(obs_data_t* settings, obs_source_t* source, BundledModels models,
                         FaceIdOrigin id_origin) {
    FilterInstance* created = nullptr;
    if (!guarded("create failed", nullptr, [&] {
            created = new FilterInstance(std::move(models), id_origin);
            created->source = source;
        })) {
        return nullptr; // not even the instance could be had: no memory
    }
    if (source) {
        signal_handler_connect(obs_source_get_signal_handler(source), "enable", on_enable, created);
    }
    // Whatever goes wrong from here, the host gets a filter: one it skipped
    // would show every face.
    guarded("Filter could not start; the whole picture is hidden until its settings are applied",
            nullptr, [&] {
                take_settings(*created, settings);
                load_remembered_faces(*created, settings);
            });
    return created;
}

void destroy(void* data) {
    auto* f = static_cast<FilterInstance*>(data);
    if (f->source) {
        signal_handler_disconnect(obs_source_get_signal_handler(f->source), "enable", on_enable, f);
    }
    delete f;
}

void save(void* data, obs_data_t* settings) {
    guarded("save failed", &instance(data).callback_failures, [&] {
        obs_data_set_int(settings, kNextFaceIdKey,
                         static_cast<long long>(next_face_id(instance(data))));
        save_remembered_faces(instance(data), settings);
    });
}

void load(void* data, obs_data_t* settings) {
    guarded("load failed", &instance(data).callback_failures, [&] {
        take_settings(instance(data), settings);
        load_remembered_faces(instance(data), settings);
    });
}

void get_defaults(obs_data_t* settings) {
    guarded("get_defaults failed", nullptr, [&] { set_setting_defaults(settings); });
}

obs_properties_t* get_properties(void* data) {
    obs_properties_t* props = nullptr;
    guarded("get_properties failed", nullptr, [&] {
        std::unique_ptr<obs_properties_t, void (*)(obs_properties_t*)> made(
            make_properties(module_text, named_device_choices()), obs_properties_destroy);
        if (data) {
            add_remembered_faces_controls(made.get(), instance(data));
        }
        props = made.release();
    });
    return props;
}

void filter_update(void* data, obs_data_t* settings) {
    guarded("update failed", &instance(data).callback_failures, [&] {
        take_settings(instance(data), settings);
        // Kept in the settings themselves, which a copy of the filter takes.
        save(data, settings);
    });
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
