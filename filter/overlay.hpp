#pragma once

#include <obs.h>

namespace veilcam {

struct FilterInstance;

// Outlines every track and writes "Face <id> (obscured|visible)" above it, so
// that the user can read the ids to list; does nothing unless `show_boxes`.
void draw_overlay(FilterInstance& instance, obs_source_frame& frame);

} // namespace veilcam
