#pragma once

#include "ort/ort_owner.hpp"

#include <cstdint>
#include <string>
#include <vector>

namespace veilcam {

enum class OrtProvider { Cpu, DirectML };

// A session of the model at `model_path` (UTF-8). The runtime works on the
// calling thread alone: one intra-op thread, no inter-op pool and no
// spinning, so that the filter starts no threads of its own and never keeps a
// core busy while OBS renders. Throws std::runtime_error or Ort::Exception
// saying why the session cannot be had.
OrtSessionOwner make_session(const std::string& model_path, OrtProvider provider,
                             int32_t device_index = 0);

// Both networks take sides that are multiples of their coarsest stride: a
// side rounded up to the next one, the rest of the input padded.
inline int padded_side(int side) {
    constexpr int kCoarsestStride = 32;
    return (side + kCoarsestStride - 1) / kCoarsestStride * kCoarsestStride;
}

// The names of the session's inputs or outputs, in the model's order.
std::vector<std::string> input_names(OrtSession* session);
std::vector<std::string> output_names(OrtSession* session);

// The dimensions of input or output `index` (-1 where symbolic).
std::vector<int64_t> input_dimensions(OrtSession* session, size_t index);
std::vector<int64_t> output_dimensions(OrtSession* session, size_t index);

} // namespace veilcam
