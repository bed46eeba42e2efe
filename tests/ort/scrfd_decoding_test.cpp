#include "ort/scrfd_decoding.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

namespace veilcam {
namespace {

// The nine output arrays of the model at 640 x 640, all scores 0.
class SyntheticOutputs {
  public:
    SyntheticOutputs() {
        for (size_t k = 0; k < 3; ++k) {
            const size_t cells = static_cast<size_t>(kScrfdInputSide / kScrfdStrides[k]);
            scores_[k].assign(cells * cells * 2, 0.0f);
            boxes_[k].assign(cells * cells * 8, 0.0f);
            key_points_[k].assign(cells * cells * 20, 0.0f);
        }
    }

    // One anchor: its score and its distances left, top, right, bottom.
    SyntheticOutputs& anchor(size_t k, int row, int column, int which, float score,
                             std::array<float, 4> distances) {
        const int cells = kScrfdInputSide / kScrfdStrides[k];
        const size_t i = (static_cast<size_t>(row) * cells + column) * 2 + which;
        scores_[k][i] = score;
        std::copy(distances.begin(), distances.end(), boxes_[k].begin() + 4 * i);
        return *this;
    }

    // The boxes found at threshold 0.5, at most 20.
    std::vector<cv::Rect> decode() const {
        ScrfdOutputs outputs;
        for (size_t k = 0; k < 3; ++k) {
            outputs.scores[k] = scores_[k].data();
            outputs.score_counts[k] = scores_[k].size();
            outputs.boxes[k] = boxes_[k].data();
            outputs.box_counts[k] = boxes_[k].size();
            outputs.key_points[k] = key_points_[k].data();
            outputs.key_point_counts[k] = key_points_[k].size();
        }
        std::vector<ScrfdCandidate> candidates;
        std::vector<FoundFace> found;
        decode_scrfd(outputs, {640, 640}, 0.5f, 20, candidates, found);
        std::vector<cv::Rect> result;
        for (const FoundFace& face : found) {
            result.emplace_back(face.box);
        }
        return result;
    }

  private:
    std::array<std::vector<float>, 3> scores_;
    std::array<std::vector<float>, 3> boxes_;
    std::array<std::vector<float>, 3> key_points_;
};

TEST(ScrfdDecoding, AnchorCentresAndDistancesGiveTheBox) {
    struct Case {
        size_t stride_index;
        int row, column, which;
        std::array<float, 4> distances;
        cv::Rect expected;
    };
    const Case cases[] = {
        {0, 10, 20, 1, {1, 2, 3, 4}, {152, 64, 32, 48}},          // stride 8: centre (160, 80)
        {1, 5, 5, 0, {1, 1, 1, 1}, {64, 64, 32, 32}},             // stride 16: centre (80, 80)
        {2, 2, 3, 1, {0.5f, 0.5f, 0.5f, 0.5f}, {80, 48, 32, 32}}, // stride 32: centre (96, 64)
        {2, 0, 0, 0, {1, 1, 2, 2}, {0, 0, 64, 64}},               // cut at the image's corner
        // x1 = 15.5 and y1 = 16.5 round to even; so do the width 10.5 and height 7.5.
        {0, 2, 2, 0, {0.0625f, -0.0625f, 1.25f, 1}, {16, 16, 10, 8}},
    };
    for (const Case& c : cases) {
        SyntheticOutputs outputs;
        outputs.anchor(c.stride_index, c.row, c.column, c.which, 0.9f, c.distances);
        EXPECT_EQ(outputs.decode(), std::vector<cv::Rect>{c.expected})
            << "stride " << kScrfdStrides[c.stride_index] << " cell " << c.row << "," << c.column;
    }
}

TEST(ScrfdDecoding, OverlapAboveFourTenthsSuppressesTheWeakerBox) {
    // A is (0, 0, 14, 10); B overlaps it by exactly 0.4, C by 90 / 190.
    SyntheticOutputs exact;
    exact.anchor(0, 1, 1, 0, 0.9f, {1, 1, 0.75f, 0.25f})
        .anchor(0, 1, 2, 0, 0.8f, {1.25f, 1, 0.5f, 0.25f});
    EXPECT_EQ(exact.decode(), (std::vector<cv::Rect>{{0, 0, 14, 10}, {6, 0, 14, 10}}));

    SyntheticOutputs more;
    more.anchor(0, 1, 1, 0, 0.9f, {1, 1, 0.75f, 0.25f})
        .anchor(0, 1, 2, 0, 0.95f, {1.375f, 1, 0.5f, 0.25f});
    EXPECT_EQ(more.decode(), (std::vector<cv::Rect>{{5, 0, 15, 10}}));
}

TEST(ScrfdDecoding, NonFiniteDistancesDropOnlyThatAnchor) {
    const float inf = std::numeric_limits<float>::infinity();
    const float nan = std::numeric_limits<float>::quiet_NaN();
    SyntheticOutputs outputs;
    outputs.anchor(1, 5, 5, 0, 0.9f, {inf, 1, 1, 1})
        .anchor(1, 5, 6, 0, 0.9f, {1, nan, 1, 1})
        .anchor(1, 5, 7, 0, 0.9f, {1, 1, 1, -inf})
        .anchor(1, 20, 20, 0, 0.8f, {1, 1, 1, 1});
    EXPECT_EQ(outputs.decode(), (std::vector<cv::Rect>{{304, 304, 32, 32}}));
}

} // namespace
} // namespace veilcam
