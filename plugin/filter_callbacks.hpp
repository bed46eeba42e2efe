#pragma once

#include "detection/face_detector.hpp"
#include "filter/filter_instance.hpp"

#include <obs.h>

// The filter's host callbacks: each hands its work over to the code that does
// it, behind one guard, so that no exception ever reaches the host.
namespace veilcam {

inline constexpr const char* kFilterId = "veilcam_filter";

const char* get_name(void* type_data);
void* create(obs_data_t* settings, obs_source_t* source);
void destroy(void* data);
void get_defaults(obs_data_t* settings);
obs_properties_t* get_properties(void* data);
void filter_update(void* data, obs_data_t* settings);
// The filter's own state kept with its settings: the next face id.
void save(void* data, obs_data_t* settings);
void load(void* data, obs_data_t* settings);
obs_source_frame* filter_video(void* data, obs_source_frame* frame);

// What `create` does with the models of the module's data folder; the video
// tool, which is no module, names its own, and numbers faces alike every run.
void* create_with_models(obs_data_t* settings, obs_source_t* source, BundledModels models,
                         FaceIdOrigin id_origin = FaceIdOrigin::kSavedWithScene);

// Registers "veilcam_filter" with the host; called once at module load.
void register_filter();

} // namespace veilcam
