#include "detection/detection_pass.hpp"
#include "filter/region_obscuring.hpp"
#include "support/frames.hpp"
#include "support/samples.hpp"
#include "support/test_filter.hpp"

#include <gtest/gtest.h>

namespace veilcam {
namespace {

using test::TestFilter;

// Runs `passes` detection passes on `image` and tells for each whether the
// mirrored pass ran.
std::vector<bool> mirrored_runs(TestFilter& filter, const cv::Mat& image, int passes) {
    test::TestFrame frame = test::make_frame(image, VIDEO_FORMAT_BGR3);
    std::vector<bool> runs;
    for (int i = 0; i < passes; ++i) {
        filter.instance().mirror_image.release();
        detect_faces(filter.instance(), frame.frame);
        runs.push_back(!filter.instance().mirror_image.empty());
    }
    return runs;
}

const cv::Mat& two_faces() {
    return test::labelled_photos()[2].image;
}
const cv::Mat& three_faces() {
    return test::labelled_photos()[3].image;
}
cv::Mat no_face() {
    return cv::Mat(240, 320, CV_8UC3, cv::Scalar(90, 100, 110));
}

TEST(MirroredPass, RunsOnEveryFourthPassWithAtMostTwoFacesAndOnEveryEmptyPass) {
    struct Case {
        const char* what;
        bool setting;
        bool crowd;
        cv::Mat image;
        std::vector<bool> runs;
    };
    const std::vector<bool> periodic = {false, false, false, true, false, false, false, true};
    const std::vector<bool> always(8, true);
    const std::vector<bool> never(8, false);
    const Case cases[] = {
        {"two faces", true, false, two_faces(), periodic},
        {"three faces", true, false, three_faces(), never},
        {"no face", true, false, no_face(), always},
        {"no face, crowd mode", true, true, no_face(), always},
        {"two faces, crowd mode", true, true, two_faces(), never},
        {"setting off", false, false, two_faces(), never},
        {"setting off, no face", false, false, no_face(), never},
    };
    for (const Case& c : cases) {
        TestFilter filter([&](obs_data_t* s) {
            obs_data_set_bool(s, "mirrored_profile_pass", c.setting);
            obs_data_set_bool(s, "crowd_mode", c.crowd);
        });
        EXPECT_EQ(mirrored_runs(filter, c.image, 8), c.runs) << c.what;
    }
}

TEST(MirroredPass, CounterStandsStillInCrowdModeAndCountsWithTheSettingOff) {
    TestFilter filter([](obs_data_t* s) { obs_data_set_bool(s, "mirrored_profile_pass", false); });
    mirrored_runs(filter, two_faces(), 3);
    EXPECT_EQ(filter.instance().profile_pass_counter, 3);
    filter.update([](obs_data_t* s) {
        obs_data_set_bool(s, "crowd_mode", true);
        obs_data_set_bool(s, "mirrored_profile_pass", true);
    });
    mirrored_runs(filter, two_faces(), 2);
    EXPECT_EQ(filter.instance().profile_pass_counter, 3);
    filter.update([](obs_data_t* s) { obs_data_set_bool(s, "crowd_mode", false); });
    EXPECT_EQ(mirrored_runs(filter, two_faces(), 1), std::vector<bool>{true}) << "the fourth pass";
}

TEST(MirroredPass, FaceFoundInBothRunsIsOneBox) {
    TestFilter filter;
    test::TestFrame frame = test::make_frame(two_faces(), VIDEO_FORMAT_BGR3);
    std::vector<cv::Rect> boxes;
    for (int i = 0; i < 4; ++i) {
        boxes = detect_faces(filter.instance(), frame.frame);
    }
    EXPECT_EQ(boxes.size(), 2u);
    EXPECT_EQ(test::labels_found(test::labelled_photos()[2].faces, boxes), 2);
}

TEST(MirroredPass, AFaceSeenOnlyInTheMirrorIsHidden) {
    // The right 60 % of one face covered, as a face turned away: YuNet finds
    // what is left of it only when left and right are exchanged.
    const test::LabelledPhoto& photo = test::labelled_photos()[3];
    const cv::Rect face(344, 155, 90, 90);
    cv::Mat half_face = photo.image.clone();
    half_face(cv::Rect(face.x + 36, face.y, 54, face.height)).setTo(cv::Scalar(128, 128, 128));
    const cv::Rect visible_part(face.x, face.y, 36, face.height);

    for (const bool mirrored : {false, true}) {
        TestFilter filter([&](obs_data_t* s) {
            obs_data_set_bool(s, "mirrored_profile_pass", mirrored);
            obs_data_set_int(s, "detection_interval", 1);
        });
        const test::TestFrame before = test::make_frame(half_face, VIDEO_FORMAT_BGR3);
        test::TestFrame frame = before;
        for (int pass = 1; pass <= 4; ++pass) {
            frame = before;
            filter.run(frame);
            const bool hidden =
                test::detail(frame, 0, visible_part) < 0.5 * test::detail(before, 0, visible_part);
            // Two faces remain in plain sight, so the mirror is looked at on pass 4.
            EXPECT_EQ(hidden, mirrored && pass == 4)
                << "pass " << pass << ", mirrored " << mirrored;
        }
    }
}

} // namespace
} // namespace veilcam
