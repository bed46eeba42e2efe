#pragma once

#include "ort/ort_api.hpp"

namespace veilcam {

inline constexpr uint32_t kOrtApiVersion = 24;

// Owns the process's one OrtEnv; created once and never released, so that it
// outlives every session, every filter and the module itself.
struct OrtEnvironment {
    OrtEnv* env = nullptr;
};

// The process-wide ONNX Runtime, loaded on first use from the module's own
// folder. Each of its values is initialised once, thread-safely; a failure is
// not remembered, so the next GPU start-up tries again.
class OrtRuntime {
  public:
    // The loaded runtime library (never unloaded).
    static void* library();
    // The shared environment; loads the library and installs the API table.
    static OrtEnvironment& environment();
    // The installed API table; null until environment() has succeeded once.
    static const OrtApi* api();
    // An export of the runtime library, or null.
    static void* symbol(const char* name);
};

// Turns a runtime status into Ort::Exception with the runtime's own message.
void ort_check(OrtStatus* status);

} // namespace veilcam
