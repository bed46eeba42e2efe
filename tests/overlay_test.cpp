#include "filter/overlay.hpp"
#include "filter/region_obscuring.hpp"
#include "support/frames.hpp"
#include "support/samples.hpp"
#include "support/test_filter.hpp"

#include <gtest/gtest.h>
#include <opencv2/imgproc.hpp>

namespace veilcam {
namespace {

using test::TestFilter;
using test::TestFrame;

// A flat frame with an obscured track 1 and a visible track 2 (listed).
struct OverlayCase {
    TestFilter filter{[](obs_data_t* s) {
        obs_data_set_bool(s, "show_boxes", true);
        obs_data_set_string(s, "excluded_face_ids", "2");
        obs_data_set_double(s, "padding_percent", 0.0);
    }};
    TestFrame before;
    TestFrame frame;

    OverlayCase(video_format format,
                std::vector<FaceDetection> boxes = {{100, 80, 60, 60}, {300, 120, 50, 50}},
                cv::Mat picture = cv::Mat(360, 640, CV_8UC3, cv::Scalar(70, 60, 50))) {
        before = test::make_frame(picture, format);
        if (format == VIDEO_FORMAT_BGRX) {
            before.plane_bytes(0).reshape(4).forEach<cv::Vec4b>(
                [](cv::Vec4b& pixel, const int*) { pixel[3] = 0; });
        }
        frame = before;
        filter.instance().tracker.update(boxes);
        draw_overlay(filter.instance(), frame.frame);
    }
    cv::Mat pixels(int plane = 0) const { return frame.plane_bytes(plane); }
};

TEST(Overlay, RgbFramesGetGreenAndOrangeOutlinesThreePixelsThick) {
    struct Case {
        video_format format;
        int channels;
    };
    for (const Case c : {Case{VIDEO_FORMAT_BGRA, 4}, Case{VIDEO_FORMAT_BGRX, 4},
                         Case{VIDEO_FORMAT_RGBA, 4}, Case{VIDEO_FORMAT_BGR3, 3}}) {
        OverlayCase overlay(c.format);
        const cv::Mat image = overlay.pixels().reshape(c.channels);
        auto pixel = [&](int x, int y) {
            cv::Vec4b value;
            for (int k = 0; k < c.channels; ++k) {
                value[k] = image.ptr<uint8_t>(y)[x * c.channels + k];
            }
            return value;
        };
        const cv::Vec4b green(0, 255, 0, c.channels == 4 ? 255 : 0);
        const cv::Vec4b orange(0, 128, 255, c.channels == 4 ? 255 : 0);
        // Left edges at x = 100 and x = 300: OpenCV's thickness 3 covers 2 pixels either side.
        for (const int dx : {-2, -1, 0, 1, 2}) {
            EXPECT_EQ(pixel(100 + dx, 110), green) << c.channels << " channels";
            EXPECT_EQ(pixel(300 + dx, 145), orange) << c.channels << " channels";
        }
        EXPECT_EQ(pixel(97, 110), pixel(5, 5));
        EXPECT_EQ(pixel(103, 110), pixel(5, 5));
        EXPECT_EQ(pixel(130, 110), pixel(5, 5)) << "the inside is left alone";
        // The label stands 6 pixels above the box.
        const cv::Mat label = image(cv::Rect(100, 55, 120, 20));
        EXPECT_GT(cv::countNonZero(cv::Mat(label != image(cv::Rect(5, 5, 120, 20))).reshape(1)), 0);
    }
}

TEST(Overlay, PlanarFramesGetLumaOnly) {
    for (const video_format format : {VIDEO_FORMAT_I420, VIDEO_FORMAT_NV12, VIDEO_FORMAT_Y800,
                                      VIDEO_FORMAT_I444, VIDEO_FORMAT_I422}) {
        OverlayCase overlay(format);
        const cv::Mat luma = overlay.pixels();
        EXPECT_EQ(luma.at<uint8_t>(110, 100), 235);
        EXPECT_EQ(luma.at<uint8_t>(145, 300), 150);
        for (int plane = 1; plane < overlay.frame.plane_count; ++plane) {
            EXPECT_EQ(overlay.frame.storage[plane], overlay.before.storage[plane]);
        }
    }
}

TEST(Overlay, PackedYuvGetsTheSameLumaAsPlanarAtTrueColumnsAndNoChromaChange) {
    for (const video_format format : {VIDEO_FORMAT_YUY2, VIDEO_FORMAT_UYVY}) {
        OverlayCase overlay(format);
        const int luma_byte = format == VIDEO_FORMAT_YUY2 ? 0 : 1;
        std::vector<cv::Mat> channels;
        cv::split(overlay.pixels().reshape(2), channels);
        std::vector<cv::Mat> before;
        cv::split(overlay.before.plane_bytes(0).reshape(2), before);
        // A grey frame with the very same luma, for the anti-aliased text.
        cv::Mat grey;
        cv::cvtColor(before[luma_byte], grey, cv::COLOR_GRAY2BGR);
        OverlayCase reference(VIDEO_FORMAT_Y800, {{100, 80, 60, 60}, {300, 120, 50, 50}}, grey);
        // Where the grey reference drew, the luma bytes hold its values; elsewhere they did not
        // change.
        const cv::Mat drawn = reference.pixels() != reference.before.plane_bytes(0);
        cv::Mat expected = before[luma_byte].clone();
        reference.pixels().copyTo(expected, drawn);
        EXPECT_EQ(cv::countNonZero(channels[luma_byte] != expected), 0);
        EXPECT_EQ(cv::countNonZero(channels[1 - luma_byte] != before[1 - luma_byte]), 0);
        EXPECT_GT(cv::countNonZero(drawn), 500);
    }
}

TEST(Overlay, BgrxFourthByteBecomesOpaqueWhereDrawn) {
    OverlayCase overlay(VIDEO_FORMAT_BGRX);
    std::vector<cv::Mat> channels;
    cv::split(overlay.pixels().reshape(4), channels);
    EXPECT_EQ(channels[3].at<uint8_t>(110, 100), 255);
    EXPECT_EQ(channels[3].at<uint8_t>(5, 5), 0);
    const cv::Mat changed = channels[1] != 60;
    EXPECT_EQ(cv::countNonZero(changed & (channels[3] == 0)), 0) << "every drawn pixel got alpha";
}

TEST(Overlay, LabelStaysInsideTheTopOfTheFrame) {
    // Boxes whose tops lie at 10 and at 24 both put the label's baseline at 18.
    OverlayCase high(VIDEO_FORMAT_Y800, {{100, 10, 60, 60}});
    OverlayCase at_limit(VIDEO_FORMAT_Y800, {{100, 24, 60, 60}});
    OverlayCase lower(VIDEO_FORMAT_Y800, {{100, 40, 60, 60}});
    const cv::Rect above_boxes(90, 0, 200, 8);
    EXPECT_EQ(cv::countNonZero(high.pixels()(above_boxes) != at_limit.pixels()(above_boxes)), 0);
    EXPECT_GT(
        cv::countNonZero(high.pixels()(above_boxes) != high.before.plane_bytes(0)(above_boxes)), 0);
    EXPECT_GT(cv::countNonZero(lower.pixels()(above_boxes) != high.pixels()(above_boxes)), 0);
}

TEST(Overlay, ATrackOutsideTheFrameStillGetsItsLabelAtTheTopLeft) {
    OverlayCase outside(VIDEO_FORMAT_Y800, {{5000, 5000, 60, 60}});
    const cv::Mat changed = outside.pixels() != outside.before.plane_bytes(0);
    EXPECT_GT(cv::countNonZero(changed(cv::Rect(0, 0, 160, 24))), 0);
    EXPECT_EQ(cv::countNonZero(changed(cv::Rect(0, 30, 640, 330))), 0) << "no outline";
    EXPECT_EQ(outside.filter.instance().overlay_label, "Face 1 (obscured)");
}

TEST(Overlay, ShowBoxesOffTouchesNothing) {
    for (const test::FormatCase& c : test::accepted_formats()) {
        TestFilter filter;
        const TestFrame before =
            test::make_frame(cv::Mat(120, 160, CV_8UC3, cv::Scalar(1, 2, 3)), c.format);
        TestFrame frame = before;
        filter.instance().tracker.update({{10, 10, 40, 40}});
        draw_overlay(filter.instance(), frame.frame);
        EXPECT_EQ(frame.storage, before.storage) << c.name;
    }
}

TEST(FaceSelection, ListedFacesAreLabelledAndHiddenByTheMode) {
    struct Case {
        int mode;
        bool face_1_hidden;
    };
    for (const Case c : {Case{0, false}, Case{1, true}}) {
        auto filter_with_boxes = [&](bool boxes) {
            return std::make_unique<TestFilter>([&](obs_data_t* s) {
                obs_data_set_int(s, "face_selection_mode", c.mode);
                obs_data_set_string(s, "excluded_face_ids", "1");
                obs_data_set_bool(s, "show_boxes", boxes);
            });
        };
        const test::LabelledPhoto& photo = test::labelled_photos()[3];
        const TestFrame before = test::make_frame(photo.image, VIDEO_FORMAT_BGR3);

        // Hidden or left alone, without the overlay drawn over the regions.
        auto plain = filter_with_boxes(false);
        TestFrame frame = before;
        plain->run(frame);
        const auto& tracks = plain->instance().tracker.tracks();
        ASSERT_EQ(tracks.size(), 3u);
        for (const FaceTrack& track : tracks) {
            const bool hidden = (track.id == 1) == c.face_1_hidden;
            const cv::Rect region = padded_face_rect(plain->instance(), track, frame.frame);
            const bool changed = test::detail(frame, 0, region) != test::detail(before, 0, region);
            EXPECT_EQ(changed, hidden) << "track " << track.id << ", mode " << c.mode;
        }

        // The overlay tells the state by colour and label.
        auto boxed = filter_with_boxes(true);
        frame = before;
        boxed->run(frame);
        const FaceTrack& first = boxed->instance().tracker.tracks().front();
        ASSERT_EQ(first.id, 1u);
        const cv::Rect region = padded_face_rect(boxed->instance(), first, frame.frame);
        const cv::Vec3b edge =
            frame.plane_bytes(0).reshape(3).at<cv::Vec3b>(region.y + 10, region.x);
        EXPECT_EQ(edge, c.face_1_hidden ? cv::Vec3b(0, 255, 0) : cv::Vec3b(0, 128, 255));
    }
}

TEST(FaceSelection, LabelSaysWhetherTheFaceIsHidden) {
    struct Case {
        int mode;
        const char* list;
        const char* label; // of track 2, drawn last
    };
    const Case cases[] = {{0, "2", "Face 2 (visible)"},
                          {1, "2", "Face 2 (obscured)"},
                          {0, "", "Face 2 (obscured)"},
                          {1, "", "Face 2 (visible)"}};
    for (const Case& c : cases) {
        TestFilter filter([&](obs_data_t* s) {
            obs_data_set_bool(s, "show_boxes", true);
            obs_data_set_int(s, "face_selection_mode", c.mode);
            obs_data_set_string(s, "excluded_face_ids", c.list);
        });
        TestFrame frame =
            test::make_frame(cv::Mat(120, 200, CV_8UC3, cv::Scalar(9)), VIDEO_FORMAT_I420);
        filter.instance().tracker.update({{10, 40, 30, 30}, {100, 40, 30, 30}});
        draw_overlay(filter.instance(), frame.frame);
        EXPECT_EQ(filter.instance().overlay_label, c.label) << "mode " << c.mode;
    }
}

} // namespace
} // namespace veilcam
