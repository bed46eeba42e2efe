#pragma once

#include "detection/face_model.hpp"

#include <opencv2/core/types.hpp>

#include <array>
#include <cstddef>
#include <cstdint>
#include <vector>

namespace veilcam {

inline constexpr int kScrfdInputSide = 640;
inline constexpr std::array<int, 3> kScrfdStrides = {8, 16, 32};
inline constexpr int kScrfdAnchorsPerCell = 2;

// The score, box-distance and key point arrays of the three strides, as the
// model gives them (outputs 0-2, 3-5 and 6-8), with their element counts.
struct ScrfdOutputs {
    cv::Size tensor{kScrfdInputSide, kScrfdInputSide}; // the input the outputs are for
    std::array<const float*, 3> scores{};
    std::array<size_t, 3> score_counts{};
    std::array<const float*, 3> boxes{};
    std::array<size_t, 3> box_counts{};
    std::array<const float*, 3> key_points{};
    std::array<size_t, 3> key_point_counts{};
};

struct ScrfdCandidate {
    cv::Rect box;
    float score = 0.0f;
    FaceKeyPoints points{};
};

// Turns the raw outputs into at most `max_faces` faces inside an image of
// `image_size` (the tensor's top-left part), best first, with greedy
// suppression of boxes that overlap a better one by more than 0.4; boxes in
// whole pixels. `candidates` is scratch; `result` is overwritten.
void decode_scrfd(const ScrfdOutputs& outputs, cv::Size image_size, float score_threshold,
                  int32_t max_faces, std::vector<ScrfdCandidate>& candidates,
                  std::vector<FoundFace>& result);

} // namespace veilcam
