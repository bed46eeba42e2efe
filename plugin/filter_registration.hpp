#pragma once

namespace veilcam {

inline constexpr const char* kFilterId = "veilcam_filter";

// Registers "veilcam_filter" with the host; called once at module load.
void register_filter();

} // namespace veilcam
