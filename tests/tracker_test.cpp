#include "support/samples.hpp"
#include "tracking/face_tracker.hpp"

#include <gtest/gtest.h>
#include <opencv2/imgproc.hpp>

#include <sstream>

namespace veilcam {
namespace {

using Passes = std::vector<std::vector<FaceDetection>>;

// Each track after the passes as "id:x/missed".
std::string after(FaceTracker& tracker, const Passes& passes) {
    for (const auto& detections : passes) {
        tracker.update(detections);
    }
    std::ostringstream state;
    for (const FaceTrack& t : tracker.tracks()) {
        state << t.id << ":" << t.box.x << "/" << t.missed << " ";
    }
    return state.str();
}

TEST(FaceTracker, MatchesSmoothsHoldsAndNumbersFaces) {
    struct Case {
        const char* what;
        float smoothing;
        int32_t hold;
        Passes passes;
        const char* tracks;
    };
    const std::vector<FaceDetection> none;
    Passes held_then_lost(27, none);
    held_then_lost.front() = {{0, 0, 50, 50}};
    held_then_lost.back() = {{0, 0, 50, 50}};
    Passes held(25, none);
    held.front() = {{0, 0, 50, 50}};
    const Passes move_by_10 = {{{100, 100, 100, 100}}, {{110, 100, 100, 100}}};
    // clang-format off
    const Case cases[] = {
        {"new faces get increasing ids", 0.72f, 24,
         {{{10, 10, 50, 50}, {200, 10, 50, 50}}}, "1:10/0 2:200/0 "},
        {"a match moves by one minus smoothing", 0.72f, 24, move_by_10, "1:102.8/0 "},
        {"no smoothing", 0.0f, 24, move_by_10, "1:110/0 "},
        {"smoothing is held to 0.98", 1.5f, 24, move_by_10, "1:100.2/0 "},
        // Boxes alone cannot tell overlapping faces apart: both get new ids.
        {"a poor overlap starts a new track", 0.72f, 24,
         {{{0, 0, 100, 100}}, {{95, 0, 100, 100}}}, "3:0/1 4:95/0 "},
        {"new ids once an overlap starts, not while it lasts", 0.0f, 24,
         {{{0, 0, 100, 100}, {50, 0, 100, 100}}, {{0, 0, 100, 100}, {50, 0, 100, 100}}},
         "3:0/0 4:50/0 "},
        {"the older track picks first", 0.0f, 24,
         {{{0, 0, 100, 100}, {40, 0, 100, 100}}, {{30, 0, 100, 100}, {300, 0, 100, 100}}},
         "3:30/0 4:40/1 5:300/0 "},
        {"equal overlaps go to the earlier detection", 0.0f, 24,
         {{{100, 0, 100, 100}}, {{80, 0, 100, 100}, {120, 0, 100, 100}}}, "3:80/0 4:120/0 "},
        {"a lost face is held for hold passes", 0.72f, 24, held, "1:0/24 "},
        {"then dropped, its id never reused", 0.72f, 24, held_then_lost, "2:0/0 "},
        {"hold 0 drops at the first miss", 0.72f, 0,
         {{{0, 0, 50, 50}, {100, 0, 50, 50}}, {{100, 0, 50, 50}}}, "2:100/0 "},
    };
    // clang-format on
    for (const Case& c : cases) {
        FaceTracker tracker(c.smoothing, 0.12f, c.hold);
        EXPECT_EQ(after(tracker, c.passes), c.tracks) << c.what;
    }
}

TEST(FaceTracker, AfterACutTheOldShotsFacesEndUnlessOneOfTheNextTwoPassesFindsThem) {
    FaceTracker tracker(0.72f, 0.12f, 24);
    tracker.update({{0, 0, 50, 50}, {300, 0, 50, 50}, {600, 0, 50, 50}}, 0);
    tracker.start_shot();
    tracker.update({{300, 0, 50, 50}}, 1, true);
    tracker.update({{600, 0, 50, 50}}, 3);
    std::ostringstream ids;
    for (const FaceTrack& t : tracker.tracks()) {
        ids << t.id << " ";
    }
    EXPECT_EQ(ids.str(), "2 3 ") << "the face found by neither pass ends, held or not";
}

TEST(FaceTracker, AStreamOfSmallFacesOutsideTheSearchedTileKeepsTheListBounded) {
    // A 4K crowd passing by: 20 new small faces a pass for 2,000 passes, each
    // seen once, while the passes look closely at one tile of 64 in turn.
    FaceTracker tracker(0.0f, 0.3f, 24);
    cv::RNG rng(3);
    std::vector<FaceDetection> faces(20);
    for (int pass = 0; pass < 2000; ++pass) {
        for (FaceDetection& face : faces) {
            face = FaceDetection(rng.uniform(0, 3820), rng.uniform(0, 2140), 20, 20);
        }
        PassReach reach{
            40.0f, {cv::Rect2f(480.0f * (pass % 8), 270.0f * (pass / 8 % 8), 480, 270)}, 64};
        tracker.update(faces, static_cast<uint64_t>(pass), false, reach);
    }
    EXPECT_LE(tracker.tracks().size(), 512u);
    // A small face found again out there counts its unseen passes afresh:
    // held 2 passes over rounds of 4, it outlives 7 unseen passes twice over.
    FaceTracker held(0.0f, 0.3f, 2);
    const std::vector<FaceDetection> one{FaceDetection(100, 100, 20, 20)};
    const PassReach elsewhere{40.0f, {cv::Rect2f(1000, 1000, 100, 100)}, 4};
    for (uint64_t pass = 0; pass < 16; ++pass) {
        held.update(pass % 8 == 0 ? one : std::vector<FaceDetection>{}, pass, false, elsewhere);
    }
    EXPECT_EQ(held.tracks().size(), 1u) << "a face found again ended for passes before";
    for (const FaceDetection& face : faces) {
        EXPECT_TRUE(std::any_of(tracker.tracks().begin(), tracker.tracks().end(),
                                [&](const FaceTrack& t) { return t.box == cv::Rect2f(face.box); }))
            << "a face of the last pass has no track";
    }
}

TEST(FaceTracker, AFaceCarriedByAGuessedMotionIsStillHiddenWhereItWasLastFound) {
    // A still 22-pixel face at 1080p whose box the detector drew 3.5 pixels
    // further right two frames later, then missed for 20 frames on a picture
    // too flat to measure: the speed guessed from the two boxes is noise.
    FaceTracker tracker(0.0f, 0.3f, 24);
    LevelGrid flat;
    flat.frame = {1920, 1080};
    const CameraMotion none{{}, 1.0f, {960, 540}};
    const cv::Rect found_first(500, 452, 19, 30), found_then(506, 452, 14, 30);
    tracker.update({FaceDetection(found_first)}, 0);
    tracker.follow(none, flat, flat);
    tracker.follow(none, flat, flat);
    tracker.update({FaceDetection(found_then)}, 2);
    for (int frame = 3; frame <= 22; ++frame) {
        tracker.follow(none, flat, flat);
    }
    ASSERT_EQ(tracker.tracks().size(), 1u);
    const cv::Rect2f hidden = hidden_box(tracker.tracks()[0]);
    EXPECT_EQ(hidden & cv::Rect2f(found_then), cv::Rect2f(found_then))
        << "hidden " << hidden << " away from where the face was found";
}

TEST(FrameMotion, AStillPictureStaysWhereItIsAndAMovedOneMovesAsFar) {
    // A 1280x720 camera's grid over a photo, its view `offset` points in.
    cv::Mat grey;
    cv::cvtColor(test::load_sample("2008_002079.jpg"), grey, cv::COLOR_BGR2GRAY);
    cv::resize(grey, grey, {160, 100}, 0, 0, cv::INTER_AREA);
    cv::Mat fine; // the same enlarged smoothly, for views half a point apart
    cv::resize(grey, fine, {320, 200}, 0, 0, cv::INTER_LINEAR);
    auto view = [&](cv::Point offset, const cv::Mat& picture = {}) {
        const int step = picture.empty() ? 1 : 2;
        LevelGrid grid;
        grid.frame = {1280, 720};
        for (int y = 0; y < LevelGrid::kRows; ++y) {
            for (int x = 0; x < LevelGrid::kColumns; ++x) {
                grid.levels[y * LevelGrid::kColumns + x] =
                    (step == 1 ? grey : picture).at<uint8_t>(offset + cv::Point(x, y) * step);
            }
        }
        return grid;
    };
    const LevelGrid still = view({16, 14});
    const LevelGrid moved = view({13, 16}); // the picture 3 points right, 2 up: 30 and 20 pixels
    const CameraMotion none = measure_camera_motion(still, still);
    EXPECT_EQ(none.shift, cv::Point2f()) << "a lean adds up frame after frame";
    EXPECT_EQ(none.scale, 1.0f);
    const cv::Rect2f face(500, 300, 100, 100);
    cv::Point2f shift(1, 1);
    ASSERT_TRUE(measure_shift(still, still, face, {}, 80, shift));
    EXPECT_EQ(shift, cv::Point2f());
    const CameraMotion pan = measure_camera_motion(still, moved);
    EXPECT_NEAR(pan.shift.x, 30, 3);
    EXPECT_NEAR(pan.shift.y, -20, 3);
    EXPECT_NEAR(pan.scale, 1.0f, 0.01f);
    ASSERT_TRUE(measure_shift(still, moved, face, {}, 80, shift));
    EXPECT_NEAR(shift.x, 30, 3);
    EXPECT_NEAR(shift.y, -20, 3);
    // Only the face's own points of the earlier picture count (the face is
    // points 50 to 59 across, 30 to 39 down): what lies beside them is
    // someone else's motion.
    LevelGrid around_changed = still;
    for (int y = 0; y < LevelGrid::kRows; ++y) {
        for (int x = 0; x < LevelGrid::kColumns; ++x) {
            if (x < 50 || x >= 60 || y < 30 || y >= 40) {
                around_changed.levels[y * LevelGrid::kColumns + x] ^= 0xFF;
            }
        }
    }
    cv::Point2f same;
    ASSERT_TRUE(measure_shift(around_changed, moved, face, {}, 80, same));
    EXPECT_EQ(same, shift);
    // A picture of faint noise is too flat to follow, even where it is still.
    LevelGrid faint = still;
    for (size_t i = 0; i < faint.levels.size(); ++i) {
        faint.levels[i] = static_cast<uint8_t>(128 + (i * 7919 % 5));
    }
    EXPECT_FALSE(measure_shift(faint, faint, face, {}, 80, same));
    // Half a point between: the shift is laid between the points around it.
    const struct {
        cv::Point to;
        cv::Point2f shift; // in pixels, 5 a half point
    } half_moves[] = {{{27, 31}, {25, -15}}, {{35, 25}, {-15, 15}}, {{29, 25}, {15, 15}}};
    for (const auto& move : half_moves) {
        ASSERT_TRUE(measure_shift(view({32, 28}, fine), view(move.to, fine), face, {}, 80, shift));
        EXPECT_NEAR(shift.x, move.shift.x, 2.5) << move.to;
        EXPECT_NEAR(shift.y, move.shift.y, 2.5) << move.to;
    }
}

} // namespace
} // namespace veilcam
