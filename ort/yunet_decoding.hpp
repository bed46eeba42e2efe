#pragma once

#include "detection/face_model.hpp"

#include <opencv2/core/types.hpp>

#include <array>
#include <cstdint>
#include <vector>

namespace veilcam {

inline constexpr std::array<int, 3> kYunetStrides = {8, 16, 32};

// The class, objectness, box and key point outputs of the three strides,
// one cell after another in rows of the padded input.
struct YunetOutputs {
    std::array<const float*, 3> classes{};
    std::array<const float*, 3> objectness{};
    std::array<const float*, 3> boxes{};
    std::array<const float*, 3> key_points{};
};

// Scratch the decoding keeps between calls.
struct YunetCandidates {
    std::vector<cv::Rect> boxes; // whole pixels, as the suppression compares them
    std::vector<FoundFace> exact;
    std::vector<float> scores;
    std::vector<int> kept;
};

// Turns the outputs for an input of `padded` size into at most `limit` faces
// scored `confidence` or more, best first, with boxes that overlap a better
// one by more than 0.3 suppressed: the faces cv::FaceDetectorYN gives.
void decode_yunet(const YunetOutputs& outputs, cv::Size padded, float confidence, int32_t limit,
                  YunetCandidates& candidates, std::vector<FoundFace>& faces);

} // namespace veilcam
