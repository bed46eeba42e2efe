#include "tracking/face_tracker.hpp"

#include <gtest/gtest.h>

namespace veilcam {
namespace {

std::vector<uint64_t> ids(const FaceTracker& tracker) {
    std::vector<uint64_t> result;
    for (const FaceTrack& t : tracker.tracks()) {
        result.push_back(t.id);
    }
    return result;
}

TEST(FaceTracker, NewDetectionsBecomeTracksWithIncreasingIds) {
    FaceTracker tracker(0.72f, 0.12f, 24);
    tracker.update({{10, 10, 50, 50}, {200, 10, 50, 50}});
    ASSERT_EQ(ids(tracker), (std::vector<uint64_t>{1, 2}));
    EXPECT_EQ(tracker.tracks()[0].box, cv::Rect2f(10, 10, 50, 50));
    EXPECT_EQ(tracker.tracks()[1].box, cv::Rect2f(200, 10, 50, 50));
    EXPECT_EQ(tracker.tracks()[0].missed, 0);
}

TEST(FaceTracker, MatchedBoxMovesByOneMinusSmoothing) {
    struct Case {
        float smoothing;
        float expected_x;
    };
    const Case cases[] = {{0.72f, 102.8f}, {0.0f, 110.0f}, {0.98f, 100.2f}, {1.5f, 100.2f}};
    for (const Case& c : cases) {
        FaceTracker tracker(c.smoothing, 0.12f, 24);
        tracker.update({{100, 100, 100, 100}});
        tracker.update({{110, 100, 100, 100}});
        ASSERT_EQ(tracker.tracks().size(), 1u);
        EXPECT_NEAR(tracker.tracks()[0].box.x, c.expected_x, 1e-4) << c.smoothing;
        EXPECT_FLOAT_EQ(tracker.tracks()[0].box.width, 100.0f);
        EXPECT_EQ(tracker.tracks()[0].missed, 0);
    }
}

TEST(FaceTracker, PoorOverlapMissesTheTrackAndStartsANewOne) {
    FaceTracker tracker(0.72f, 0.12f, 24);
    tracker.update({{0, 0, 100, 100}});
    tracker.update({{95, 0, 100, 100}}); // IoU 500 / 19500
    ASSERT_EQ(ids(tracker), (std::vector<uint64_t>{1, 2}));
    EXPECT_EQ(tracker.tracks()[0].missed, 1);
    EXPECT_EQ(tracker.tracks()[1].missed, 0);
}

TEST(FaceTracker, OlderTrackTakesTheContestedDetectionFirst) {
    FaceTracker tracker(0.0f, 0.12f, 24);
    tracker.update({{0, 0, 100, 100}, {40, 0, 100, 100}});
    // Both tracks overlap the first detection; the second detection fits track 2 only.
    tracker.update({{30, 0, 100, 100}, {300, 0, 100, 100}});
    ASSERT_EQ(ids(tracker), (std::vector<uint64_t>{1, 2, 3}));
    EXPECT_EQ(tracker.tracks()[0].box.x, 30.0f);
    EXPECT_EQ(tracker.tracks()[1].missed, 1);
    EXPECT_EQ(tracker.tracks()[2].box.x, 300.0f);
}

TEST(FaceTracker, EqualOverlapsGoToTheEarlierDetection) {
    FaceTracker tracker(0.0f, 0.12f, 24);
    tracker.update({{100, 0, 100, 100}});
    tracker.update({{80, 0, 100, 100}, {120, 0, 100, 100}});
    EXPECT_EQ(tracker.tracks()[0].box.x, 80.0f);
    EXPECT_EQ(tracker.tracks()[1].box.x, 120.0f);
}

TEST(FaceTracker, LostFaceIsHeldForHoldFramesPassesThenRemovedAndNeverReused) {
    FaceTracker tracker(0.72f, 0.12f, 24);
    tracker.update({{0, 0, 50, 50}});
    for (int pass = 1; pass <= 24; ++pass) {
        tracker.update({});
        ASSERT_EQ(tracker.tracks().size(), 1u) << "pass " << pass;
        EXPECT_EQ(tracker.tracks()[0].missed, pass);
    }
    tracker.update({});
    EXPECT_TRUE(tracker.tracks().empty());
    tracker.update({{0, 0, 50, 50}});
    EXPECT_EQ(ids(tracker), (std::vector<uint64_t>{2}));
}

TEST(FaceTracker, HoldZeroRemovesAtTheFirstMiss) {
    FaceTracker tracker(0.72f, 0.12f, 0);
    tracker.update({{0, 0, 50, 50}, {100, 0, 50, 50}});
    tracker.update({{100, 0, 50, 50}});
    EXPECT_EQ(ids(tracker), (std::vector<uint64_t>{2}));
}

TEST(FaceTracker, ConfigureClampsAndKeepsTheTracks) {
    FaceTracker tracker(0.72f, 0.12f, 24);
    tracker.update({{0, 0, 50, 50}});
    const std::tuple<float, float, int32_t, float, float, int32_t> cases[] = {
        {1.5f, 2.0f, -5, 0.98f, 1.0f, 0},
        {-1.0f, -0.5f, 7, 0.0f, 0.0f, 7},
        {0.5f, 0.12f, 24, 0.5f, 0.12f, 24},
    };
    for (const auto& [s, m, h, es, em, eh] : cases) {
        tracker.configure(s, m, h);
        EXPECT_EQ(tracker.smoothing(), es);
        EXPECT_EQ(tracker.match_threshold(), em);
        EXPECT_EQ(tracker.hold_frames(), eh);
        EXPECT_EQ(ids(tracker), (std::vector<uint64_t>{1}));
    }
}

TEST(BoxIou, EmptyOrDisjointBoxesOverlapNothing) {
    EXPECT_FLOAT_EQ(box_iou({100, 100, 100, 100}, {110, 100, 100, 100}), 9000.0f / 11000.0f);
    EXPECT_EQ(box_iou({0, 0, 10, 10}, {20, 20, 10, 10}), 0.0f);
    EXPECT_EQ(box_iou({0, 0, 0, 10}, {0, 0, 10, 10}), 0.0f);
    EXPECT_EQ(box_iou({0, 0, 0, 0}, {0, 0, 0, 0}), 0.0f);
}

} // namespace
} // namespace veilcam
