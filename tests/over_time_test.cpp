// Faces stay hidden from frame to frame: at a cut, in a crowd, in fast motion.
#include "support/frames.hpp"
#include "support/log_capture.hpp"
#include "support/samples.hpp"
#include "support/test_filter.hpp"

#include <gtest/gtest.h>
#include <opencv2/imgproc.hpp>

namespace veilcam {
namespace {

using test::TestFrame;

// The share of a face's pixels (luma of a BGR3 frame) that came out as they went in.
double unchanged_share(const TestFrame& before, const TestFrame& after, const cv::Rect& face) {
    const cv::Rect inside = face & cv::Rect(0, 0, before.frame.width, before.frame.height);
    const cv::Mat same =
        before.plane_bytes(0).reshape(3)(inside) == after.plane_bytes(0).reshape(3)(inside);
    return cv::countNonZero(same.reshape(1)) / (3.0 * inside.area());
}

TEST(OverTime, ACutOnAFrameBetweenDetectionsIsDetectedOnThatFrame) {
    test::TestFilter filter([](obs_data_t* s) { obs_data_set_int(s, "detection_interval", 100); });
    const auto& photos = test::labelled_photos();
    TestFrame first =
        test::make_frame(test::scaled(photos[0], {640, 480}).image, VIDEO_FORMAT_BGR3);
    filter.run(first);
    for (const size_t next : {2, 3, 1}) {
        const test::LabelledPhoto shot = test::scaled(photos[next], {640, 480});
        const TestFrame before = test::make_frame(shot.image, VIDEO_FORMAT_BGR3);
        TestFrame frame = before;
        filter.run(frame);
        for (const cv::Rect& face : shot.faces) {
            EXPECT_LT(unchanged_share(before, frame, face), 0.05) << shot.file << " " << face;
        }
    }
}

TEST(OverTime, CrowdModeHidesTwentyFiveFacesAndTheLimitIsSaid) {
    // A 5 x 5 grid of the labelled faces with room around each.
    cv::Mat crowd(720, 1280, CV_8UC3, cv::Scalar(90, 90, 90));
    std::vector<cv::Rect> faces;
    int n = 0;
    for (const test::LabelledPhoto& photo : test::labelled_photos()) {
        for (const cv::Rect& face : photo.faces) {
            for (int copy = 0; copy < 2 && n < 25; ++copy, ++n) {
                const cv::Rect around = cv::Rect(face.x - face.width / 2, face.y - face.height / 2,
                                                 face.width * 2, face.height * 2) &
                                        cv::Rect(0, 0, photo.image.cols, photo.image.rows);
                const cv::Rect cell(256 * (n % 5) + 48, 144 * (n / 5) + 4, 160, 136);
                cv::resize(photo.image(around), crowd(cell), cell.size(), 0, 0, cv::INTER_AREA);
                const double sx = 160.0 / around.width, sy = 136.0 / around.height;
                faces.emplace_back(cv::Rect2d(cell.x + (face.x - around.x) * sx,
                                              cell.y + (face.y - around.y) * sy, face.width * sx,
                                              face.height * sy));
            }
        }
    }
    for (const bool crowd_mode : {false, true}) {
        test::LogCapture log;
        test::TestFilter filter(
            [&](obs_data_t* s) { obs_data_set_bool(s, "crowd_mode", crowd_mode); });
        const TestFrame before = test::make_frame(crowd, VIDEO_FORMAT_BGR3);
        TestFrame frame = before;
        filter.run(frame);
        int visible = 0;
        for (const cv::Rect& face : faces) {
            visible += unchanged_share(before, frame, face) > 0.05;
        }
        EXPECT_EQ(visible == 0, crowd_mode);
        EXPECT_EQ(log.count("faces found, only 20 hidden: raise 'Most faces' or turn on crowd mode",
                            LOG_WARNING),
                  crowd_mode ? 0 : 1);
    }
}

} // namespace
} // namespace veilcam
