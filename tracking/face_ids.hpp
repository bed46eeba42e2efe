#pragma once

#include <cstdint>

namespace veilcam {

// Ids are kept with the scene as signed 64-bit numbers: the tracker hands out
// none past this one (every face from there on shares it, and nobody can
// list it), so a saved counter always reads back as it was.
inline constexpr uint64_t kLastFaceId = INT64_MAX;

} // namespace veilcam
