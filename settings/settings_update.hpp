#pragma once

#include <obs.h>

namespace veilcam {

struct FilterInstance;

// Copies and bounds the user's settings into the instance, under its mutex,
// and drops the detectors when the device or the YuNet model changes.
// Throws what it meets; the host callback `update` catches.
void apply_settings(FilterInstance& instance, obs_data_t* settings);

} // namespace veilcam
