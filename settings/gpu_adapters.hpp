#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace veilcam {

struct GpuAdapter {
    int32_t index = 0; // position in the DXGI enumeration: the n of "dml:<n>"
    std::string name;  // UTF-8
};

// The machine's hardware GPU adapters, in enumeration order. Empty where
// there is no DXGI: only Windows runs detection through DirectML.
std::vector<GpuAdapter> list_gpu_adapters();

} // namespace veilcam
