#pragma once

#include "ort/ort_runtime.hpp"

#include <memory>

namespace veilcam {

// One owner for each runtime handle, released through the installed table.
template <typename T, auto Release> struct OrtReleaser {
    void operator()(T* handle) const { (OrtRuntime::api()->*Release)(handle); }
};

template <typename T, auto Release> using OrtOwner = std::unique_ptr<T, OrtReleaser<T, Release>>;

using OrtSessionOwner = OrtOwner<OrtSession, &OrtApi::ReleaseSession>;
using OrtSessionOptionsOwner = OrtOwner<OrtSessionOptions, &OrtApi::ReleaseSessionOptions>;
using OrtTypeInfoOwner = OrtOwner<OrtTypeInfo, &OrtApi::ReleaseTypeInfo>;
using OrtMemoryInfoOwner = OrtOwner<OrtMemoryInfo, &OrtApi::ReleaseMemoryInfo>;
using OrtValueOwner = OrtOwner<OrtValue, &OrtApi::ReleaseValue>;
using OrtShapeInfoOwner =
    OrtOwner<OrtTensorTypeAndShapeInfo, &OrtApi::ReleaseTensorTypeAndShapeInfo>;

} // namespace veilcam
