#include "filter/overlay.hpp"
#include "filter/region_obscuring.hpp"
#include "support/frames.hpp"
#include "support/samples.hpp"
#include "support/test_filter.hpp"

#include <gtest/gtest.h>
#include <opencv2/imgproc.hpp>

namespace veilcam {
namespace {

using test::TestFrame;

const std::vector<FaceDetection> kTwoBoxes = {{100, 80, 60, 60}, {300, 120, 50, 50}};

// Track 1 hidden, track 2 listed and so visible, drawn on a flat picture.
struct Drawn {
    TestFrame before, frame;
    OverlayScratch scratch;

    Drawn(video_format format, const std::vector<FaceDetection>& boxes = kTwoBoxes,
          cv::Mat picture = cv::Mat(360, 640, CV_8UC3, cv::Scalar(70, 60, 50)),
          bool show_boxes = true, bool after_cut = false) {
        before = test::make_frame(picture, format);
        if (format == VIDEO_FORMAT_BGRX) {
            before.plane_bytes(0).reshape(4).forEach<cv::Vec4b>(
                [](cv::Vec4b& pixel, const int*) { pixel[3] = 0; });
        }
        frame = before;
        FilterSettings settings;
        settings.show_boxes = show_boxes;
        settings.selection.ids = {2};
        settings.max_faces = 2;
        FaceTracker tracker(0.72f, 0.12f, 24);
        tracker.update(boxes);
        if (after_cut) {
            tracker.start_shot();
        }
        std::vector<FaceRegion> faces;
        list_face_regions(tracker.tracks(), settings, {}, picture.size(), faces);
        draw_overlay(frame.frame, *frame_format(format), faces, settings, scratch);
    }
    cv::Mat pixels() const { return frame.plane_bytes(0); }
    cv::Mat changed() const { return frame.plane_bytes(0) != before.plane_bytes(0); }
};

// Component `component` of every pixel of a drawn frame and of the frame before.
struct Samples {
    cv::Mat before, after;
};

Samples samples(const Drawn& drawn, int component) {
    const int w = static_cast<int>(drawn.frame.frame.width);
    const int h = static_cast<int>(drawn.frame.frame.height);
    Samples s{cv::Mat(h, w, CV_32SC1), cv::Mat(h, w, CV_32SC1)};
    for (int y = 0; y < h; ++y) {
        for (int x = 0; x < w; ++x) {
            s.before.at<int>(y, x) = test::sample_at(drawn.before, component, x, y);
            s.after.at<int>(y, x) = test::sample_at(drawn.frame, component, x, y);
        }
    }
    return s;
}

TEST(Overlay, EachFormatIsDrawnInTheSameColoursAndOnlyWhenAsked) {
    // Near where the grey format draws (chroma shared by pixels reaches one
    // further): nothing else changes in any format, in any component.
    const Drawn grey(VIDEO_FORMAT_Y800);
    cv::Mat near_strokes;
    cv::dilate(grey.changed(), near_strokes, cv::Mat::ones(5, 5, CV_8UC1));
    ASSERT_GT(cv::countNonZero(grey.changed()), 1000);
    // Past "Most faces" (2) a face is hidden, but neither outlined nor labelled.
    const Drawn three(VIDEO_FORMAT_Y800, {kTwoBoxes[0], kTwoBoxes[1], {500, 200, 50, 50}});
    EXPECT_EQ(cv::countNonZero(three.changed()(cv::Rect(480, 150, 100, 120))), 0);

    // Green around the hidden face, orange around the visible one: in RGB,
    // and in Y, U and V by BT.709 at limited range (the frames are untagged).
    const cv::Vec3d green_rgb(0, 255, 0), orange_rgb(255, 128, 0);
    const cv::Vec3d green_yuv(172.6, 41.7, 26.3), orange_yuv(141.2, 59.0, 188.9);
    for (const FrameFormat& format : frame_formats()) {
        const Drawn off(format.format, kTwoBoxes, cv::Mat(360, 640, CV_8UC3, cv::Scalar(7)), false);
        EXPECT_EQ(off.frame.storage, off.before.storage) << format.name << ": boxes off";
        const Drawn cut(format.format, kTwoBoxes, cv::Mat(360, 640, CV_8UC3, cv::Scalar(7)), true,
                        true);
        EXPECT_EQ(cut.frame.storage, cut.before.storage) << format.name << ": the last shot's";

        const Drawn drawn(format.format);
        for (int component = 0; component < 4; ++component) {
            const Samples s = samples(drawn, component);
            EXPECT_EQ(cv::countNonZero((s.after != s.before) & ~near_strokes), 0)
                << format.name << ", component " << component;
        }
        const double scale = 1 << (test::sample_depth(format.format) - 8);
        auto level = [&](int component, int x, int y) {
            return test::sample_at(drawn.frame, component, x, y) / scale;
        };
        const bool rgb = test::is_rgb(format.format);
        // OpenCV's thickness 3 covers 2 pixels either side of the edge.
        for (const int dx : {-2, -1, 0, 1, 2}) {
            for (int c = 0; c < 3 && level(c, 5, 5) >= 0; ++c) {
                EXPECT_NEAR(level(c, 100 + dx, 110), (rgb ? green_rgb : green_yuv)[c], 1.0)
                    << format.name << ", component " << c;
                EXPECT_NEAR(level(c, 300 + dx, 145), (rgb ? orange_rgb : orange_yuv)[c], 1.0)
                    << format.name << ", component " << c;
                EXPECT_EQ(level(c, 130, 110), level(c, 5, 5))
                    << format.name << ": the inside is untouched";
            }
        }
        EXPECT_EQ(test::misplaced_bits(drawn.frame), 0) << format.name;
        if (format.format == VIDEO_FORMAT_BGRX) {
            std::vector<cv::Mat> bytes;
            cv::split(drawn.pixels().reshape(4), bytes);
            EXPECT_EQ(cv::countNonZero((bytes[1] != 60) & (bytes[3] == 0)), 0)
                << "every drawn BGRX pixel is opaque";
        }
    }
}

TEST(Overlay, LabelsStayInsideTheTopOfTheFrame) {
    // Boxes whose tops lie at 10 and at 24 both put the label's baseline at 18.
    const Drawn high(VIDEO_FORMAT_Y800, {{100, 10, 60, 60}});
    const Drawn at_limit(VIDEO_FORMAT_Y800, {{100, 24, 60, 60}});
    const Drawn lower(VIDEO_FORMAT_Y800, {{100, 40, 60, 60}});
    const cv::Rect above(90, 0, 200, 8);
    EXPECT_EQ(cv::countNonZero(high.pixels()(above) != at_limit.pixels()(above)), 0);
    EXPECT_GT(cv::countNonZero(high.changed()(above)), 0);
    EXPECT_GT(cv::countNonZero(lower.pixels()(above) != high.pixels()(above)), 0);

    const Drawn outside(VIDEO_FORMAT_Y800, {{5000, 5000, 60, 60}});
    EXPECT_GT(cv::countNonZero(outside.changed()(cv::Rect(0, 0, 160, 24))), 0);
    EXPECT_EQ(cv::countNonZero(outside.changed()(cv::Rect(0, 30, 640, 330))), 0) << "no outline";
}

} // namespace
} // namespace veilcam
