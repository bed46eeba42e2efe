#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace veilcam {

struct FilterInstance;

// Replaces the instance's face ids with those listed in `text` (may be null):
// ids separated by commas, semicolons, spaces or tabs; anything that is not a
// positive 64-bit decimal number is dropped silently.
void parse_face_ids(FilterInstance& instance, const char* text);

// The one rule that decides whether a track is hidden.
bool should_obscure(const FilterInstance& instance, uint64_t face_id);

// Rewrites the older "opencl:<platform>:<device>" form into "dml:<device>";
// everything else is kept as stored.
std::string normalize_tracking_device(const std::string& stored);

// The adapter position of a "dml:<n>" device id, or nothing when the id is not
// a GPU request (any other text, a malformed or negative number).
std::optional<int32_t> parse_dml_device_index(const std::string& device_id);

} // namespace veilcam
