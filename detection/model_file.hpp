#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace veilcam {

// Larger than any face model by far (the bundled ones are 0.2 and 2.4 MB):
// a path to anything bigger is a mistake, and reading it would hold up the
// video thread.
inline constexpr uintmax_t kLargestModelBytes = 64ull << 20;

// The bytes of a model file, read once. Throws std::runtime_error, saying
// why, for anything but a regular file of at most kLargestModelBytes: a FIFO
// would block the reader for ever, a device never ends.
std::vector<unsigned char> read_model_file(const std::string& path);

} // namespace veilcam
