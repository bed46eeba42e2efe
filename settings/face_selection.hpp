#pragma once

#include "tracking/face_ids.hpp"

#include <cstdint>
#include <string>
#include <unordered_set>

namespace veilcam {

// What the panel stores for "Listed faces".
enum SelectionMode : int32_t { kListedStayVisible = 0, kListedAreHidden = 1 };

// Which tracks are hidden: all but the listed ids (kListedStayVisible, and
// any value but kListedAreHidden), or only the listed ids.
struct FaceSelection {
    int32_t mode = kListedStayVisible;
    std::unordered_set<uint64_t> ids;
    std::string refused; // listed numbers from kLastFaceId on, as typed
};

// Reads the list in `text` (may be null) into `selection`: ids separated by
// commas, semicolons, spaces or tabs. Numbers from kLastFaceId on go to
// `refused`; anything else that is not a positive decimal number is dropped.
void parse_face_ids(const char* text, FaceSelection& selection);

// The one rule that decides whether a track is hidden. A face that has
// crossed another (`crossed`) may carry the other's id: hiding only the
// listed ids, it is hidden whatever its id.
bool should_obscure(const FaceSelection& selection, uint64_t face_id, bool crossed);

} // namespace veilcam
