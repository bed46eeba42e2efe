#pragma once

namespace veilcam {

struct FilterInstance;

// Builds the detector on first use: SCRFD on a DirectML GPU when one is
// chosen and usable, else YuNet on the CPU. False when none could be built
// (the reason is already in the log).
bool ensure_detector(FilterInstance& instance);

// Drops every detector; the next detection pass builds one afresh.
void reset_detectors(FilterInstance& instance);

} // namespace veilcam
