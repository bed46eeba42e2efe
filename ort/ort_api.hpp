#pragma once

// The runtime's C++ wrappers take their API table from OrtRuntime and never
// look the runtime up themselves: the module imports nothing from it.
#define ORT_API_MANUAL_INIT
#include <onnxruntime_cxx_api.h>
#undef ORT_API_MANUAL_INIT
