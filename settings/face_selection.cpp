#include "settings/face_selection.hpp"

#include "filter/filter_instance.hpp"

#include <cctype>
#include <charconv>
#include <sstream>

namespace veilcam {
namespace {

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
        if (value > (UINT64_MAX - digit) / 10) {
            return std::nullopt;
        }
        value = value * 10 + digit;
    }
    if (value == 0) {
        return std::nullopt;
    }
    return value;
}

} // namespace

void parse_face_ids(FilterInstance& instance, const char* text) {
    instance.face_ids.clear();
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
        if (const auto id = parse_face_id(digits)) {
            instance.face_ids.insert(*id);
        }
    }
}

bool should_obscure(const FilterInstance& instance, uint64_t face_id) {
    const bool listed = instance.face_ids.count(face_id) != 0;
    return instance.face_selection_mode == 1 ? listed : !listed;
}

std::string normalize_tracking_device(const std::string& stored) {
    static const std::string legacy_prefix = "opencl:";
    if (stored.size() >= 8 && stored.compare(0, legacy_prefix.size(), legacy_prefix) == 0) {
        const size_t colon = stored.find(':', legacy_prefix.size());
        if (colon != std::string::npos) {
            return "dml:" + stored.substr(colon + 1);
        }
    }
    return stored;
}

std::optional<int32_t> parse_dml_device_index(const std::string& device_id) {
    static const std::string prefix = "dml:";
    if (device_id.size() < prefix.size() || device_id.compare(0, prefix.size(), prefix) != 0) {
        return std::nullopt;
    }
    const char* first = device_id.data() + prefix.size();
    const char* last = device_id.data() + device_id.size();
    int32_t index = 0;
    const auto [end, error] = std::from_chars(first, last, index, 10);
    if (error != std::errc() || end != last || index < 0) {
        return std::nullopt;
    }
    return index;
}

} // namespace veilcam
