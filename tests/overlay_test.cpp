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
          bool show_boxes = true) {
        before = test::make_frame(picture, format);
        if (format == VIDEO_FORMAT_BGRX) {
            before.plane_bytes(0).reshape(4).forEach<cv::Vec4b>(
                [](cv::Vec4b& pixel, const int*) { pixel[3] = 0; });
        }
        frame = before;
        FilterSettings settings;
        settings.show_boxes = show_boxes;
        settings.selection.ids = {2};
        FaceTracker tracker(0.72f, 0.12f, 24);
        tracker.update(boxes);
        draw_overlay(frame.frame, *frame_format(format), tracker.tracks(), 0, settings, scratch);
    }
    cv::Mat pixels() const { return frame.plane_bytes(0); }
    cv::Mat changed() const { return frame.plane_bytes(0) != before.plane_bytes(0); }
};

TEST(Overlay, EachFormatIsDrawnInItsOwnWayAndOnlyWhenAsked) {
    for (const FrameFormat& format : frame_formats()) {
        const Drawn off(format.format, kTwoBoxes, cv::Mat(360, 640, CV_8UC3, cv::Scalar(7)), false);
        EXPECT_EQ(off.frame.storage, off.before.storage) << format.name << ": boxes off";

        const Drawn drawn(format.format);
        const int channels = format.planes[0].channels;
        const cv::Mat image = drawn.pixels().reshape(channels);
        switch (format.overlay) {
        case OverlayStyle::Colour: {
            auto pixel = [&](int x, int y) {
                cv::Vec4b value;
                for (int k = 0; k < channels; ++k) {
                    value[k] = image.ptr<uint8_t>(y)[x * channels + k];
                }
                return value;
            };
            const uint8_t opaque = channels == 4 ? 255 : 0;
            // OpenCV's thickness 3 covers 2 pixels either side of the edge.
            for (const int dx : {-2, -1, 0, 1, 2}) {
                EXPECT_EQ(pixel(100 + dx, 110), cv::Vec4b(0, 255, 0, opaque)) << format.name;
                EXPECT_EQ(pixel(300 + dx, 145), cv::Vec4b(0, 128, 255, opaque)) << format.name;
            }
            EXPECT_EQ(pixel(103, 110), pixel(5, 5)) << format.name;
            EXPECT_EQ(pixel(130, 110), pixel(5, 5)) << format.name << ": the inside is untouched";
            if (format.format == VIDEO_FORMAT_BGRX) {
                std::vector<cv::Mat> bytes;
                cv::split(image, bytes);
                EXPECT_EQ(cv::countNonZero((bytes[1] != 60) & (bytes[3] == 0)), 0)
                    << "every drawn BGRX pixel is opaque";
            }
            break;
        }
        case OverlayStyle::LumaPlane:
            EXPECT_EQ(image.at<uint8_t>(110, 100), 235) << format.name;
            EXPECT_EQ(image.at<uint8_t>(145, 300), 150) << format.name;
            for (int plane = 1; plane < drawn.frame.plane_count; ++plane) {
                EXPECT_EQ(drawn.frame.storage[plane], drawn.before.storage[plane]) << format.name;
            }
            break;
        case OverlayStyle::PackedLuma: {
            // The same luma bytes as a grey frame of the same picture, chroma untouched.
            std::vector<cv::Mat> after, before;
            cv::split(image, after);
            cv::split(drawn.before.plane_bytes(0).reshape(2), before);
            const int luma = format.format == VIDEO_FORMAT_UYVY ? 1 : 0;
            cv::Mat grey;
            cv::cvtColor(before[luma], grey, cv::COLOR_GRAY2BGR);
            const Drawn reference(VIDEO_FORMAT_Y800, kTwoBoxes, grey);
            cv::Mat expected = before[luma].clone();
            reference.pixels().copyTo(expected, reference.changed());
            EXPECT_EQ(cv::countNonZero(after[luma] != expected), 0) << format.name;
            EXPECT_EQ(cv::countNonZero(after[1 - luma] != before[1 - luma]), 0) << format.name;
            EXPECT_GT(cv::countNonZero(reference.changed()), 500);
            break;
        }
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
