#pragma once

#include "filter/filter_instance.hpp"

#include <obs.h>

namespace veilcam {

// Detects on every `detection_interval`-th frame, then hides the selected
// faces and draws the overlay, in place; frames the filter does not handle
// pass untouched. False when the frame must not be shown. Throws when hiding
// fails: the frame must not be shown then either.
bool process_frame(FilterInstance& instance, obs_source_frame& frame);

} // namespace veilcam
