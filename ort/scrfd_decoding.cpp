#include "ort/scrfd_decoding.hpp"

#include "tracking/box_geometry.hpp"

#include <algorithm>
#include <cmath>
#include <stdexcept>
#include <string>

namespace veilcam {
namespace {

constexpr float kSuppressionOverlap = 0.4f;

void require_values(size_t have, size_t need, const char* what, int stride) {
    if (have < need) {
        throw std::runtime_error("SCRFD " + std::string(what) + " output of stride " +
                                 std::to_string(stride) + " holds " + std::to_string(have) +
                                 " values; the model layout needs " + std::to_string(need));
    }
}

void collect_candidates(const ScrfdOutputs& outputs, const cv::Rect& image, float threshold,
                        std::vector<ScrfdCandidate>& candidates) {
    for (size_t k = 0; k < kScrfdStrides.size(); ++k) {
        const int stride = kScrfdStrides[k];
        const int columns = outputs.tensor.width / stride;
        const int rows = outputs.tensor.height / stride;
        const size_t anchors = static_cast<size_t>(columns) * rows * kScrfdAnchorsPerCell;
        require_values(outputs.score_counts[k], anchors, "score", stride);
        require_values(outputs.box_counts[k], anchors * 4, "box", stride);
        require_values(outputs.key_point_counts[k], anchors * 10, "key point", stride);
        const float* scores = outputs.scores[k];
        const float* boxes = outputs.boxes[k];
        const float* key_points = outputs.key_points[k];
        const float s = static_cast<float>(stride);
        for (int row = 0; row < rows; ++row) {
            for (int column = 0; column < columns; ++column) {
                for (int anchor = 0; anchor < kScrfdAnchorsPerCell; ++anchor) {
                    const size_t i =
                        (static_cast<size_t>(row) * columns + column) * kScrfdAnchorsPerCell +
                        anchor;
                    const float score = scores[i];
                    if (score < threshold) {
                        continue;
                    }
                    const float cx = static_cast<float>(column * stride);
                    const float cy = static_cast<float>(row * stride);
                    const float* d = boxes + 4 * i;
                    const float x1 = cx - s * d[0];
                    const float y1 = cy - s * d[1];
                    const float x2 = cx + s * d[2];
                    const float y2 = cy + s * d[3];
                    if (!std::isfinite(x1) || !std::isfinite(y1) || !std::isfinite(x2) ||
                        !std::isfinite(y2)) {
                        continue;
                    }
                    const cv::Rect box = cv::Rect(nearest_int(x1), nearest_int(y1),
                                                  nearest_int(x2 - x1), nearest_int(y2 - y1)) &
                                         image;
                    if (box.width > 0 && box.height > 0) {
                        // Key points: distances from the anchor, in strides.
                        ScrfdCandidate& candidate = candidates.emplace_back();
                        candidate.box = box;
                        candidate.score = score;
                        const float* p = key_points + 10 * i;
                        for (size_t n = 0; n < candidate.points.size(); ++n) {
                            candidate.points[n] = {cx + s * p[2 * n], cy + s * p[2 * n + 1]};
                        }
                    }
                }
            }
        }
    }
}

bool overlaps_kept_box(const cv::Rect& box, const std::vector<FoundFace>& kept) {
    for (const FoundFace& other : kept) {
        if (box_iou(box, other.box) > kSuppressionOverlap) {
            return true;
        }
    }
    return false;
}

} // namespace

void decode_scrfd(const ScrfdOutputs& outputs, cv::Size image_size, float score_threshold,
                  int32_t max_faces, std::vector<ScrfdCandidate>& candidates,
                  std::vector<FoundFace>& result) {
    candidates.clear();
    result.clear();
    collect_candidates(outputs, cv::Rect(cv::Point(0, 0), image_size), score_threshold, candidates);
    std::sort(candidates.begin(), candidates.end(),
              [](const ScrfdCandidate& a, const ScrfdCandidate& b) { return a.score > b.score; });
    result.reserve(static_cast<size_t>(std::max(max_faces, 1)));
    for (const ScrfdCandidate& candidate : candidates) {
        if (overlaps_kept_box(candidate.box, result)) {
            continue;
        }
        result.push_back({candidate.box, candidate.points});
        if (result.size() >= static_cast<size_t>(max_faces)) {
            break;
        }
    }
}

} // namespace veilcam
