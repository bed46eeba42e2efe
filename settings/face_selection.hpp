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

// Descriptors of one person's photos lay up to 0.60 apart on the sample
// photos, of two people (a mother and her daughter) 0.48 at the least: a
// face is shown as a remembered one well inside the second, and hidden as
// one out beyond the first.
inline constexpr float kSamePerson = 0.40f;
inline constexpr float kMaybeSamePerson = 0.65f;

// What describing a track's face said about who it is.
struct Recognition {
    bool any_remembered = false; // some listed face is remembered
    bool id_remembered = false;  // the face listed under the track's id is
    bool checked = false;        // described since someone else could be in its box
    float distance = 1e9f;       // from that description to the nearest remembered face
};

// The one rule that decides whether a track is hidden. Once a listed face
// is remembered, it is shown (listed as visible) only where a face is
// described as it; listed as hidden, every face that may be it is hidden,
// and every face not yet described. A face that has crossed another
// (`crossed`) may carry the other's id: hiding only the listed ids, it is
// hidden whatever its id.
bool should_obscure(const FaceSelection& selection, uint64_t face_id, bool crossed,
                    const Recognition& recognition);

} // namespace veilcam
