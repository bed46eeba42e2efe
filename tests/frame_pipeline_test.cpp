#include "detection/detection_pass.hpp"
#include "filter/filter_callbacks.hpp"
#include "filter/frame_intake.hpp"
#include "filter/region_obscuring.hpp"
#include "support/frames.hpp"
#include "support/log_capture.hpp"
#include "support/samples.hpp"
#include "support/test_filter.hpp"

#include <gtest/gtest.h>
#include <opencv2/imgproc.hpp>

namespace veilcam {
namespace {

using test::TestFilter;
using test::TestFrame;

std::vector<cv::Rect> hidden_regions(TestFilter& filter, const TestFrame& frame) {
    std::vector<cv::Rect> regions;
    for (const FaceTrack& track : filter.instance().tracker.tracks()) {
        regions.push_back(padded_face_rect(filter.instance(), track, frame.frame));
    }
    return regions;
}

// Mean neighbour differences below this are flat colour, with nothing to hide
// (and block edges alone would exceed half of it).
constexpr double kNoDetail = 2.0;

class EveryFormat : public ::testing::TestWithParam<test::FormatCase> {};

TEST_P(EveryFormat, HidesEveryLabelledFaceAndTouchesNothingElse) {
    // The blur reduces a region to a fixed size (61 pixels at the default
    // strength, 21 at the strongest), so small faces need the strongest, and
    // it leaves the already smooth chroma of small faces much as it was:
    // there only the pixelation is measured.
    struct Mode {
        int obscure_mode;
        int blur_radius;
        const char* name;
    };
    for (const Mode mode : {Mode{0, 70, "pixelated"}, Mode{1, 151, "blurred"}}) {
        for (const test::LabelledPhoto& photo : test::labelled_photos()) {
            TestFilter filter([&](obs_data_t* s) {
                obs_data_set_int(s, "obscure_mode", mode.obscure_mode);
                obs_data_set_int(s, "blur_radius", mode.blur_radius);
            });
            const TestFrame original = test::make_frame(photo.image, GetParam().format);
            TestFrame frame = original;
            ASSERT_EQ(filter.run(frame), &frame.frame);

            const std::string where = photo.file + " " + mode.name;
            for (int plane = 0; plane < frame.plane_count; ++plane) {
                for (const cv::Rect& face : photo.faces) {
                    if (mode.obscure_mode == 1 && plane > 0) {
                        break;
                    }
                    const double before = test::detail(original, plane, face);
                    const double after = test::detail(frame, plane, face);
                    if (before < kNoDetail) {
                        continue;
                    }
                    EXPECT_LT(after, 0.5 * before)
                        << where << ", plane " << plane << ", face " << face;
                }
                EXPECT_EQ(test::changed_bytes_outside(original, frame, plane,
                                                      hidden_regions(filter, frame)),
                          0)
                    << where << ", plane " << plane;
            }
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Formats, EveryFormat, ::testing::ValuesIn(test::accepted_formats()),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(FrameIntake, FramesWithoutPixelsPassUntouched) {
    TestFilter filter;
    EXPECT_EQ(filter_video(&filter.instance(), nullptr), nullptr);

    const TestFrame original =
        test::make_frame(test::load_sample("2008_001322.jpg"), VIDEO_FORMAT_BGRA);
    const auto variants = {
        +[](obs_source_frame& f) { f.data[0] = nullptr; },
        +[](obs_source_frame& f) { f.width = 0; },
        +[](obs_source_frame& f) { f.height = 0; },
    };
    for (const auto& spoil : variants) {
        TestFrame frame = original;
        spoil(frame.frame);
        EXPECT_EQ(filter.run(frame), &frame.frame);
        EXPECT_EQ(frame.storage[0], original.storage[0]);
    }
    EXPECT_EQ(filter.instance().frame_counter, 0);
}

TEST(FrameIntake, DisabledFilterLeavesFramesAndCounterAlone) {
    TestFilter filter([](obs_data_t* s) { obs_data_set_bool(s, "enabled", false); });
    const TestFrame original =
        test::make_frame(test::load_sample("2008_001322.jpg"), VIDEO_FORMAT_I420);
    TestFrame frame = original;
    filter.run(frame);
    EXPECT_EQ(frame.storage, original.storage);
    EXPECT_EQ(filter.instance().frame_counter, 0);
}

TEST(FrameIntake, UnsupportedFormatIsWarnedOncePerInstance) {
    test::LogCapture log;
    TestFrame frame = test::make_frame(test::load_sample("2008_001322.jpg"), VIDEO_FORMAT_YUY2);
    const TestFrame original = frame;
    for (const video_format format : {VIDEO_FORMAT_YVYU, VIDEO_FORMAT_NONE, VIDEO_FORMAT_I40A}) {
        TestFilter first, second;
        frame.frame.format = format;
        first.run(frame);
        first.run(frame);
        second.run(frame);
        EXPECT_EQ(frame.storage, original.storage);
        EXPECT_EQ(log.count("[veilcam] Unsupported source frame format: " +
                                std::to_string(static_cast<int>(format)),
                            LOG_WARNING),
                  2);
        EXPECT_EQ(first.instance().frame_counter, 0);
    }
}

TEST(FrameIntake, DetectionRunsOnEveryIntervalthFrameWhileEveryFrameIsObscured) {
    TestFilter filter; // interval 2
    const cv::Mat photo = test::load_sample("2008_001322.jpg");
    const TestFrame faces = test::make_frame(photo, VIDEO_FORMAT_NV12);
    const TestFrame blank =
        test::make_frame(cv::Mat(photo.size(), CV_8UC3, cv::Scalar(90, 90, 90)), VIDEO_FORMAT_NV12);
    TestFrame frame = faces;
    filter.run(frame); // frame 1: detection
    const size_t tracks = filter.instance().tracker.tracks().size();
    ASSERT_GT(tracks, 0u);

    // Frame 2 holds faces again but is no detection frame: still hidden.
    frame = faces;
    filter.run(frame);
    EXPECT_NE(frame.storage[0], faces.storage[0]);

    const int expected_missed[] = {1, 1, 2, 2, 3}; // frames 3 to 7 on a blank picture
    for (int i = 0; i < 5; ++i) {
        TestFrame empty = blank;
        filter.run(empty);
        EXPECT_EQ(filter.instance().tracker.tracks().front().missed, expected_missed[i])
            << "frame " << i + 3;
    }
    EXPECT_EQ(filter.instance().frame_counter, 7);
}

TEST(FrameIntake, WorkingImageIsBgrAtFrameSize) {
    TestFilter filter;
    const cv::Mat photo = test::load_sample("2008_001322.jpg");
    cv::Mat bgra, bgrx;
    for (const test::FormatCase& c : test::accepted_formats()) {
        TestFrame frame = test::make_frame(photo, c.format);
        const cv::Mat working = make_working_image(filter.instance(), &frame.frame);
        ASSERT_EQ(working.type(), CV_8UC3) << c.name;
        ASSERT_EQ(working.size(), cv::Size(frame.frame.width, frame.frame.height)) << c.name;
        std::vector<cv::Mat> channels;
        cv::split(working, channels);
        const bool grey = cv::countNonZero(channels[0] != channels[1]) == 0 &&
                          cv::countNonZero(channels[1] != channels[2]) == 0;
        const bool planar =
            frame.frame.format == VIDEO_FORMAT_I420 || frame.frame.format == VIDEO_FORMAT_NV12 ||
            frame.frame.format == VIDEO_FORMAT_Y800 || frame.frame.format == VIDEO_FORMAT_I444 ||
            frame.frame.format == VIDEO_FORMAT_I422;
        EXPECT_EQ(grey, planar) << c.name;
        if (c.format == VIDEO_FORMAT_BGRA) {
            bgra = working.clone();
        }
        if (c.format == VIDEO_FORMAT_BGRX) {
            bgrx = working.clone();
        }
        if (c.format == VIDEO_FORMAT_BGR3) {
            EXPECT_EQ(
                cv::norm(working, photo(cv::Rect(0, 0, working.cols, working.rows)), cv::NORM_INF),
                0)
                << "BGR3 is copied unchanged";
        }
    }
    EXPECT_EQ(cv::norm(bgra, bgrx, cv::NORM_INF), 0);
    EXPECT_TRUE(make_working_image(filter.instance(), nullptr).empty());
}

TEST(FrameIntake, ASmallerFrameIsObscuredAtTheOldBoxesCutToIt) {
    TestFilter filter([](obs_data_t* s) { obs_data_set_int(s, "detection_interval", 100); });
    TestFrame big = test::make_frame(test::load_sample("2008_001322.jpg"), VIDEO_FORMAT_I420);
    filter.run(big);
    ASSERT_FALSE(filter.instance().tracker.tracks().empty());
    const cv::Mat small_photo = test::load_sample("2008_001322.jpg")(cv::Rect(0, 0, 200, 120));
    const TestFrame original = test::make_frame(small_photo, VIDEO_FORMAT_I420);
    TestFrame small = original;
    filter.run(small);
    for (int plane = 0; plane < 3; ++plane) {
        EXPECT_EQ(
            test::changed_bytes_outside(original, small, plane, hidden_regions(filter, small)), 0);
    }
}

TEST(HostBoundary, AFailureInsideAFrameIsLoggedOnceAndTheFrameStillComesBack) {
    test::LogCapture log;
    TestFilter filter;
    TestFrame frame = test::make_frame(test::load_sample("2008_001322.jpg"), VIDEO_FORMAT_BGRA);
    frame.frame.linesize[0] = 4; // shorter than a row: OpenCV refuses to wrap the plane
    EXPECT_EQ(filter.run(frame), &frame.frame);
    EXPECT_EQ(filter.run(frame), &frame.frame);
    EXPECT_EQ(log.count("[veilcam] filter_video failed: ", LOG_ERROR), 1);
}

} // namespace
} // namespace veilcam

namespace veilcam {
namespace {

TEST(DetectionImage, ShrinkingBeforeConvertingGivesTheSamePicture) {
    cv::Mat picture;
    cv::resize(test::labelled_photos()[0].image, picture, cv::Size(1280, 960), 0, 0,
               cv::INTER_LINEAR);
    for (const test::FormatCase& c : test::accepted_formats()) {
        TestFilter filter(
            [](obs_data_t* s) { obs_data_set_bool(s, "mirrored_profile_pass", false); });
        TestFrame frame = test::make_frame(picture, c.format);
        detect_faces(filter.instance(), frame.frame);
        const cv::Mat& detection = filter.instance().detection_image;
        ASSERT_EQ(detection.size(), cv::Size(640, 480)) << c.name;

        cv::Mat expected;
        cv::resize(make_working_image(filter.instance(), &frame.frame), expected, cv::Size(), 0.5,
                   0.5, cv::INTER_AREA);
        EXPECT_LE(cv::norm(detection, expected, cv::NORM_INF), 1.0) << c.name;
    }
}

} // namespace
} // namespace veilcam
