#include "settings/face_selection.hpp"

#include <algorithm>
#include <cctype>
#include <optional>
#include <sstream>
#include <string>

namespace veilcam {
namespace {

// A positive number, saturated at kLastFaceId.
std::optional<uint64_t> parse_face_id(const std::string& token) {
    if (token.empty()) {
        return std::nullopt;
    }
    uint64_t value = 0;
    for (const char c : token) {
        if (c < '0' || c > '9') {
            return std::nullopt;
        }
        const uint64_t digit = static_cast<uint64_t>(c - '0');
        value = value > kLastFaceId / 10 ? kLastFaceId : std::min(value * 10 + digit, kLastFaceId);
    }
    if (value == 0) {
        return std::nullopt;
    }
    return value;
}

} // namespace

void parse_face_ids(const char* text, FaceSelection& selection) {
    selection.ids.clear();
    selection.refused.clear();
    if (!text) {
        return;
    }
    std::string list(text);
    for (char& c : list) {
        if (c == ';' || c == ' ' || c == '\t') {
            c = ',';
        }
    }
    std::istringstream stream(list);
    std::string token;
    while (std::getline(stream, token, ',')) {
        std::string digits;
        for (const char c : token) {
            if (!std::isspace(static_cast<unsigned char>(c))) {
                digits.push_back(c);
            }
        }
        const auto id = parse_face_id(digits);
        if (id && *id < kLastFaceId) {
            selection.ids.insert(*id);
        } else if (id) {
            selection.refused += (selection.refused.empty() ? "" : ", ") + digits;
        }
    }
}

bool should_obscure(const FaceSelection& selection, uint64_t face_id, bool crossed,
                    const Recognition& r) {
    const bool listed = selection.ids.count(face_id) != 0;
    if (selection.mode == kListedAreHidden) {
        const bool maybe_remembered =
            r.any_remembered && (!r.checked || r.distance < kMaybeSamePerson);
        return listed || crossed || maybe_remembered;
    }
    const bool shown_by_id = listed && !r.id_remembered;
    const bool shown_by_face = r.checked && r.distance < kSamePerson;
    return !(shown_by_id || shown_by_face);
}

} // namespace veilcam
