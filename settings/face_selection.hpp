#pragma once

#include <cstdint>
#include <unordered_set>

namespace veilcam {

// What the panel stores for "Listed faces".
enum SelectionMode : int32_t { kListedStayVisible = 0, kListedAreHidden = 1 };

// Which tracks are hidden: all but the listed ids (kListedStayVisible, and
// any value but kListedAreHidden), or only the listed ids.
struct FaceSelection {
    int32_t mode = kListedStayVisible;
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
