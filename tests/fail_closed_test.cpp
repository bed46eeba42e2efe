// No face goes out unhidden: not through a weak blur, an error, an extreme
// setting or an odd frame.
#include "detection/detection_pass.hpp"
#include "filter/region_obscuring.hpp"
#include "plugin/filter_callbacks.hpp"
#include "support/frames.hpp"
#include "support/log_capture.hpp"
#include "support/samples.hpp"
#include "support/test_filter.hpp"

#include <gtest/gtest.h>
#include <opencv2/imgproc.hpp>
#include <opencv2/objdetect/face.hpp>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <future>
#include <limits>

namespace veilcam {
namespace {

using test::TestFilter;
using test::TestFrame;

constexpr float kInf = std::numeric_limits<float>::infinity();

// YuNet at a low threshold, on the picture at up to 640 pixels as the filter
// sees it: a stricter look for a face than the filter's own.
int faces_still_found(const cv::Mat& bgr, const std::vector<cv::Rect>& labels) {
    const double scale = std::min(1.0, 640.0 / std::max(bgr.cols, bgr.rows));
    cv::Mat image;
    cv::resize(bgr, image, cv::Size(), scale, scale, cv::INTER_AREA);
    auto yunet =
        cv::FaceDetectorYN::create(test::yunet_model(), "", image.size(), 0.3f, 0.3f, 5000);
    cv::Mat found;
    yunet->detect(image, found);
    std::vector<cv::Rect> boxes;
    for (int row = 0; row < found.rows; ++row) {
        const float* f = found.ptr<float>(row);
        boxes.emplace_back(cv::Rect2d(f[0] / scale, f[1] / scale, f[2] / scale, f[3] / scale));
    }
    return test::labels_found(labels, boxes);
}

TEST(FailClosed, NoLabelledFaceIsFoundAgainAfterHidingAtAnySize) {
    struct Mode {
        int obscure_mode;
        int blur_radius;
    };
    for (const Mode mode : {Mode{0, 71}, Mode{1, 3}, Mode{1, 71}, Mode{1, 151}, Mode{2, 71}}) {
        FilterSettings settings;
        settings.obscure_mode = mode.obscure_mode;
        settings.pixel_size = 20;
        settings.blur_radius = mode.blur_radius;
        settings.padding_percent = 35.0f;
        for (const double face_size : {20.0, 50.0, 130.0, 400.0}) {
            int found = 0;
            for (const test::LabelledPhoto& photo : test::labelled_photos()) {
                const double scale = face_size / photo.faces.front().width;
                const test::LabelledPhoto shown =
                    test::scaled(photo, cv::Size(cvRound(photo.image.cols * scale),
                                                 cvRound(photo.image.rows * scale)));
                FaceTracker tracker(0.0f, 0.12f, 24);
                tracker.update({shown.faces.begin(), shown.faces.end()});
                TestFrame frame = test::make_frame(shown.image, VIDEO_FORMAT_BGR3);
                RegionScratch scratch;
                std::vector<FaceRegion> faces;
                list_face_regions(tracker.tracks(), settings, {}, shown.image.size(), faces);
                obscure_frame(frame.frame, *frame_format(VIDEO_FORMAT_BGR3), faces, settings,
                              scratch);
                found += faces_still_found(frame.plane_bytes(0).reshape(3), shown.faces);
            }
            EXPECT_EQ(found, 0) << "mode " << mode.obscure_mode << ", strength " << mode.blur_radius
                                << ", faces " << face_size << " px";
        }
    }
}

// A close-up of three people, their regions with the default margin over a
// third of the picture: the faces are hidden, and the corners of their
// regions, the picture around the faces, are not.
TEST(FailClosed, ACloseUpHidesEveryFaceAndNotTheCornersAroundIt) {
    const test::LabelledPhoto photo = test::scaled(test::labelled_photos()[3], cv::Size(1280, 960));
    const cv::Rect close_up(0, 120, 1280, 800);
    std::vector<cv::Rect> faces;
    for (const cv::Rect& face : photo.faces) {
        faces.push_back(face - close_up.tl());
    }
    const TestFrame before = test::make_frame(photo.image(close_up), VIDEO_FORMAT_I420);
    for (const int mode : {0, 1}) {
        TestFilter filter([&](obs_data_t* s) { obs_data_set_int(s, "obscure_mode", mode); });
        TestFrame frame = before;
        filter.run(frame);
        for (const cv::Rect& face : faces) {
            EXPECT_LE(test::unchanged_share(before, frame, face), 0.2) << "mode " << mode;
        }
        const double changed = test::changed_bytes_outside(before, frame, 0, {}) / (1280.0 * 800);
        EXPECT_LT(changed, 1.0 / 3) << "mode " << mode;
    }
}

TEST(FailClosed, FailuresInTheFramePathNeverShowAFace) {
    test::LogCapture log;
    const test::LabelledPhoto& photo = test::labelled_photos()[3];
    const TestFrame original = test::make_frame(photo.image, VIDEO_FORMAT_I420);
    const std::string too_long(5000, 'x');
    for (const bool hide_all : {false, true}) {
        TestFilter filter([&](obs_data_t* s) {
            obs_data_set_int(s, "detection_interval", 1);
            if (!hide_all) { // on by default
                obs_data_set_bool(s, "hide_all_on_failure", false);
            }
        });
        TestFrame frame = original;
        ASSERT_EQ(filter.run(frame), &frame.frame);
        // A model path the file system refuses: no detector, yet the faces
        // seen before stay hidden as long as it lasts, or the whole picture is.
        filter.update(
            [&](obs_data_t* s) { obs_data_set_string(s, "model_path", too_long.c_str()); });
        for (int pass = 0; pass < 100; ++pass) {
            frame = original;
            ASSERT_EQ(filter.run(frame), &frame.frame);
            EXPECT_EQ(test::faces_left_visible(original, frame, photo.faces), 0) << "pass " << pass;
            const cv::Rect corner(0, 0, 40, 40);
            EXPECT_EQ(test::detail(frame, 0, corner) < 0.5 * test::detail(original, 0, corner),
                      hide_all);
        }
        // The whole picture of a full-HD frame in blocks coarse enough for a
        // face that fills its height: at most six down every plane, and no
        // face is found again.
        if (hide_all) {
            test::LabelledPhoto filled =
                test::scaled(photo, {photo.image.cols * 1080 / photo.image.rows, 1080});
            cv::copyMakeBorder(filled.image, filled.image, 0, 0, 0, 1920 - filled.image.cols,
                               cv::BORDER_CONSTANT, cv::Scalar::all(90));
            TestFrame large = test::make_frame(filled.image, VIDEO_FORMAT_I420);
            ASSERT_EQ(filter.run(large), &large.frame);
            for (int plane = 0; plane < 3; ++plane) {
                const cv::Mat column = large.plane_bytes(plane).col(0);
                EXPECT_LE(cv::countNonZero(column.rowRange(1, column.rows) !=
                                           column.rowRange(0, column.rows - 1)),
                          5)
                    << "plane " << plane;
            }
            cv::Mat luma;
            cv::cvtColor(large.plane_bytes(0), luma, cv::COLOR_GRAY2BGR);
            EXPECT_EQ(faces_still_found(luma(cv::Rect(0, 0, 1920, 1080)), filled.faces), 0);
        }

        // Rows too short for their pixels: never read past, the frame is dropped.
        for (const video_format format : {VIDEO_FORMAT_I420, VIDEO_FORMAT_V210}) {
            TestFrame short_rows = test::make_frame(photo.image, format);
            short_rows.frame.linesize[0] = 4;
            EXPECT_EQ(filter.run(short_rows), nullptr) << format;
        }
        // A format the filter does not know goes out only when nothing is to be hidden.
        frame = original;
        frame.frame.format = test::kUnknownFormat;
        EXPECT_EQ(filter.run(frame) != nullptr, !hide_all);
    }
    EXPECT_EQ(log.count("[veilcam] filter_video failed: ", LOG_ERROR), 2) << "once per instance";
}

TEST(FailClosed, AModelPathToNoModelFileNeitherHoldsUpTheVideoNorFloodsTheLog) {
    namespace fs = std::filesystem;
    const fs::path folder =
        fs::temp_directory_path() / ("veilcam-model-" + std::to_string(getpid()));
    fs::create_directories(folder);
    const fs::path fifo = folder / "fifo.onnx", huge = folder / "huge.onnx";
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    std::ofstream(huge).close();
    fs::resize_file(huge, 300ull << 20); // sparse: nothing is written
    const test::LabelledPhoto& photo = test::labelled_photos()[3];
    const TestFrame original = test::make_frame(photo.image, VIDEO_FORMAT_I420);
    const std::pair<fs::path, const char*> models[] = {{fifo, "not a regular file"},
                                                       {huge, "is larger than 64 MB"}};
    for (const auto& [model, why] : models) {
        test::LogCapture log;
        TestFilter filter([&](obs_data_t* s) {
            obs_data_set_int(s, "detection_interval", 1);
            obs_data_set_string(s, "model_path", model.c_str());
        });
        auto frames = std::async(std::launch::async, [&] {
            int visible = 0;
            for (int pass = 0; pass < 5; ++pass) {
                TestFrame frame = original;
                filter.run(frame);
                visible += test::faces_left_visible(original, frame, photo.faces);
            }
            return visible;
        });
        if (frames.wait_for(std::chrono::seconds(30)) != std::future_status::ready) {
            ADD_FAILURE() << model << " held the video thread up";
            const int writer = open(fifo.c_str(), O_WRONLY | O_NONBLOCK); // lets a reader go on
            close(writer);
            if (frames.wait_for(std::chrono::seconds(30)) != std::future_status::ready) {
                // Waiting for the frame would hang the test until CTest's limit.
                std::fprintf(stderr, "%s still holds the video thread up\n", model.c_str());
                std::_Exit(1);
            }
        }
        EXPECT_EQ(frames.get(), 0) << model;
        EXPECT_EQ(log.count("[veilcam] YuNet CPU load failed: ", LOG_ERROR), 1) << model;
        EXPECT_EQ(log.count(why), 1) << model;
    }
    fs::remove_all(folder);
}

TEST(FailClosed, DetectorBoxesThatAreNoNumbersAreDropped) {
    // clang-format off
    const std::pair<cv::Rect2f, bool> boxes[] = {
        {{10, 20, 30, 40}, true}, {{NAN, 20, 30, 40}, false}, {{10, kInf, 30, 40}, false},
        {{10, 20, -kInf, 40}, false}, {{1e30f, 20, 30, 40}, false}, {{10, 20, 30, 3e9f}, false},
        {{-2e9f, -2e9f, 4e9f, 4e9f}, false},
        // Boxes 6 and 8 pixels high in the frame: faces of about 10 and 13.
        {{10, 20, 30, 3}, false}, {{10, 20, 30, 4}, true},
    };
    // clang-format on
    for (const auto& [box, kept] : boxes) {
        std::vector<FaceDetection> out;
        add_detector_box({box}, 0.5, {ViewTurn::mirrored, {640, 360}}, 12, out);
        EXPECT_EQ(out.size(), kept ? 1u : 0u) << box;
    }
}

} // namespace
} // namespace veilcam
