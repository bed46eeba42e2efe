#include "settings/device_choice.hpp"

#include <charconv>

namespace veilcam {

std::string normalize_tracking_device(const std::string& stored) {
    static const std::string legacy_prefix = "opencl:";
    if (stored.empty()) {
        return kCpuDevice;
    }
    if (stored.size() >= 8 && stored.compare(0, legacy_prefix.size(), legacy_prefix) == 0) {
        const size_t colon = stored.find(':', legacy_prefix.size());
        if (colon != std::string::npos) {
            return "dml:" + stored.substr(colon + 1);
        }
    }
    return stored;
}

bool is_onnx_cpu_device(const std::string& device_id) {
    return device_id == kCpuOrtDevice || device_id == kCpuScrfdDevice;
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
