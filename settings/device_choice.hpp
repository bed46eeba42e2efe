#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace veilcam {

inline constexpr const char* kCpuDevice = "cpu";
// YuNet and SCRFD on ONNX Runtime's CPU provider: faster, and more faces.
inline constexpr const char* kCpuOrtDevice = "cpu-ort";
inline constexpr const char* kCpuScrfdDevice = "cpu-scrfd";

// Whether the id chooses one of the detectors on ONNX Runtime's CPU provider.
bool is_onnx_cpu_device(const std::string& device_id);

// The device id to use for a stored choice: empty means the CPU, and the
// older "opencl:<platform>:<device>" form becomes "dml:<device>"; everything
// else is kept as stored.
std::string normalize_tracking_device(const std::string& stored);

// The adapter position of a "dml:<n>" device id, or nothing when the id is not
// a GPU request (any other text, a malformed or negative number).
std::optional<int32_t> parse_dml_device_index(const std::string& device_id);

} // namespace veilcam
