#include "detection/detection_pass.hpp"
#include "support/frames.hpp"
#include "support/log_capture.hpp"
#include "support/samples.hpp"
#include "support/test_filter.hpp"

#include <gtest/gtest.h>
#include <opencv2/imgproc.hpp>

namespace veilcam {
namespace {

FilterSettings settings_with(void (*edit)(FilterSettings&) = nullptr) {
    FilterSettings s;
    s.confidence = 0.5f;
    s.max_faces = 20;
    s.minimum_face_size = 20;
    s.mirrored_profile_pass = true;
    if (edit) {
        edit(s);
    }
    return s;
}

// YuNet as a filter builds it, and the state its passes keep.
struct Detection {
    FaceDetector detector;
    DetectionState state;
    FilterSettings settings;

    explicit Detection(FilterSettings s = settings_with()) : settings(std::move(s)) {
        const DetectorChoice choice{"cpu", test::yunet_model(), {}};
        EXPECT_TRUE(ensure_detector(detector, choice, settings.confidence));
    }
    // One pass over a BGR picture that a frame of `frame_size` was shrunk to.
    std::vector<cv::Rect> detect(const cv::Mat& bgr, cv::Size frame_size = {}) {
        const cv::Size frame = frame_size.empty() ? bgr.size() : frame_size;
        const double scale = static_cast<double>(bgr.cols) / frame.width;
        EXPECT_TRUE(detect_faces(detector, state, settings, bgr, scale, frame));
        return state.detections;
    }
};

TEST(DetectionPass, LimitsAndLogLines) {
    test::LogCapture log;
    const cv::Mat crowd = test::labelled_photos()[0].image; // seven faces
    Detection limited(settings_with([](FilterSettings& s) { s.max_faces = 2; }));
    EXPECT_EQ(limited.detect(crowd).size(), 2u);
    EXPECT_EQ(limited.detect(crowd).size(), 2u);
    Detection large_only(settings_with([](FilterSettings& s) { s.minimum_face_size = 300; }));
    EXPECT_TRUE(large_only.detect(crowd).empty());
    EXPECT_EQ(log.count("[veilcam] First face detection succeeded (2 face(s))", LOG_INFO), 1);
    EXPECT_EQ(log.count("[veilcam] YuNet detector ready on CPU: ", LOG_INFO), 2);
    EXPECT_EQ(log.count("[veilcam] 7 faces found, only 2 hidden: raise 'Most faces' or turn on "
                        "crowd mode",
                        LOG_WARNING),
              1);
    EXPECT_EQ(log.count("[veilcam]", LOG_WARNING) + log.count("[veilcam]", LOG_ERROR), 1);
}

TEST(MapToFrame, ScalesBackRoundingHalvesToEvenAndMirrors) {
    struct Case {
        cv::Rect box;
        double scale;
        int mirror_width;
        cv::Rect expected;
    };
    const Case cases[] = {
        {{100, 50, 40, 40}, 640.0 / 1920.0, 0, {300, 150, 120, 120}},
        {{10, 0, 50, 50}, 0.5, 640, {1160, 0, 100, 100}},
        {{1, 1, 5, 7}, 2.0, 0, {0, 0, 2, 4}}, // 0.5 -> 0, 2.5 -> 2, 3.5 -> 4
        {{3, 3, 3, 3}, 2.0, 0, {2, 2, 2, 2}}, // 1.5 -> 2
    };
    for (const Case& c : cases) {
        EXPECT_EQ(map_to_frame(c.box, c.scale, c.mirror_width), c.expected) << c.box;
    }
}

TEST(MergeDetection, UnitesTheFirstBoxOverlappingEnough) {
    struct Case {
        std::vector<cv::Rect> list;
        cv::Rect box;
        std::vector<cv::Rect> expected;
    };
    const Case cases[] = {
        {{{0, 0, 100, 100}}, {20, 0, 100, 100}, {{0, 0, 120, 100}}},
        {{{0, 0, 100, 100}}, {60, 0, 100, 100}, {{0, 0, 100, 100}, {60, 0, 100, 100}}},
        {{{0, 0, 100, 100}, {10, 0, 100, 100}},
         {5, 0, 100, 100},
         {{0, 0, 105, 100}, {10, 0, 100, 100}}},
        {{{0, 0, 100, 100}}, {0, 0, 0, 0}, {{0, 0, 100, 100}, {0, 0, 0, 0}}},
    };
    for (const Case& c : cases) {
        std::vector<cv::Rect> list = c.list;
        merge_detection(list, c.box, 0.35f);
        EXPECT_EQ(list, c.expected) << c.box;
    }
}

TEST(MirroredPass, RunsOnEveryFourthPassWithAtMostTwoFacesAndOnEveryEmptyPass) {
    const cv::Mat two_faces = test::labelled_photos()[2].image;
    const cv::Mat three_faces = test::labelled_photos()[3].image;
    const cv::Mat no_face(240, 320, CV_8UC3, cv::Scalar(90, 100, 110));
    const std::vector<bool> periodic = {false, false, false, true, false, false, false, true};
    const std::vector<bool> always(8, true), never(8, false);
    struct Case {
        const char* what;
        bool setting, crowd;
        cv::Mat image;
        std::vector<bool> runs;
    };
    const Case cases[] = {
        {"two faces", true, false, two_faces, periodic},
        {"three faces", true, false, three_faces, never},
        {"no face", true, false, no_face, always},
        {"no face, crowd mode", true, true, no_face, always},
        {"two faces, crowd mode", true, true, two_faces, never},
        {"setting off, no face", false, false, no_face, never},
    };
    for (const Case& c : cases) {
        FilterSettings s = settings_with();
        s.mirrored_profile_pass = c.setting;
        s.crowd_mode = c.crowd;
        Detection detection(s);
        std::vector<bool> runs;
        for (int pass = 0; pass < 8; ++pass) {
            detection.state.mirror_image.release();
            detection.detect(c.image);
            runs.push_back(!detection.state.mirror_image.empty());
        }
        EXPECT_EQ(runs, c.runs) << c.what;
    }
}

} // namespace
} // namespace veilcam
