#pragma once

#include <cstdint>
#include <unordered_set>

namespace veilcam {

// Which tracks are hidden: all but the listed ids (mode 0, and any mode but
// 1), or only the listed ids (mode 1).
struct FaceSelection {
    int32_t mode = 0;
    std::unordered_set<uint64_t> ids;
};

// The ids listed in `text` (may be null): separated by commas, semicolons,
// spaces or tabs; anything that is not a positive 64-bit decimal number is
// dropped silently.
std::unordered_set<uint64_t> parse_face_ids(const char* text);

// The one rule that decides whether a track is hidden. A face that has
// crossed another (`crossed`) may carry the other's id: hiding only the
// listed ids, it is hidden whatever its id.
bool should_obscure(const FaceSelection& selection, uint64_t face_id, bool crossed);

} // namespace veilcam
