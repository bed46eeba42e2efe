#pragma once

#include <obs.h>

// The filter's host callbacks. Each one catches at its boundary: no exception
// ever reaches the host.
namespace veilcam {

void* create(obs_data_t* settings, obs_source_t* source);
void destroy(void* data);
void get_defaults(obs_data_t* settings);
obs_properties_t* get_properties(void* data);
void update(void* data, obs_data_t* settings);
obs_source_frame* filter_video(void* data, obs_source_frame* frame);

} // namespace veilcam
