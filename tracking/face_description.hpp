#pragma once

#include <array>

namespace veilcam {

// 128 numbers that describe a face: two crops of one person lie closer
// together than crops of two people.
using FaceDescriptor = std::array<float, 128>;

// The distance of a face no remembered face is near.
inline constexpr float kNotRemembered = 1e9f;

} // namespace veilcam
