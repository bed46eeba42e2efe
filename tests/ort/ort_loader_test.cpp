// One program per scenario, each in a folder of its own: the loader looks for
// the runtime beside the binary that holds it, and keeps what it loaded.
#include "ort/ort_runtime.hpp"

#include <gtest/gtest.h>

#include <filesystem>
#include <stdexcept>
#include <string>

namespace veilcam {
namespace {

namespace fs = std::filesystem;

std::string failure_of(void (*call)()) {
    try {
        call();
    } catch (const std::exception& e) {
        return e.what();
    }
    return "";
}

TEST(OrtLoader, NoRuntimeBesideTheModuleThenOneIsPutThere) {
    const fs::path runtime = fs::path(VEILCAM_TEST_BINARY_DIR) / "libonnxruntime.so.1";
    fs::remove(runtime);
    const std::string missing = "Could not load bundled libonnxruntime.so.1: " + runtime.string();
    EXPECT_EQ(failure_of([] { OrtRuntime::environment(); }).rfind(missing, 0), 0u);
    EXPECT_EQ(failure_of([] { OrtRuntime::library(); }).rfind(missing, 0), 0u);
    EXPECT_EQ(OrtRuntime::api(), nullptr);

    // Not remembered: the next start-up finds the runtime once it is there.
    fs::copy_file(VEILCAM_RUNTIME_LIBRARY, runtime);
    EXPECT_EQ(failure_of([] { OrtRuntime::environment(); }), "");
    EXPECT_NE(OrtRuntime::api(), nullptr);
    fs::remove(runtime);
}

TEST(OrtLoader, ARuntimeWithoutApiVersion24IsRefused) {
    EXPECT_EQ(failure_of([] { OrtRuntime::environment(); }),
              "The bundled ONNX Runtime is too old: it lacks API version 24");
    EXPECT_EQ(OrtRuntime::api(), nullptr);
}

} // namespace
} // namespace veilcam
