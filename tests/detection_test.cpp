#include "detection/detection_pass.hpp"
#include "support/frames.hpp"
#include "support/log_capture.hpp"
#include "support/samples.hpp"
#include "support/test_filter.hpp"

#include <gtest/gtest.h>
#include <opencv2/imgproc.hpp>

namespace veilcam {
namespace {

using test::TestFilter;

std::vector<cv::Rect> detect(TestFilter& filter, const cv::Mat& bgr,
                             video_format format = VIDEO_FORMAT_BGR3) {
    test::TestFrame frame = test::make_frame(bgr, format);
    return detect_faces(filter.instance(), frame.frame);
}

TEST(YunetDetection, FindsTheLabelledFacesOfTheSamplePhotos) {
    for (const video_format format : {VIDEO_FORMAT_BGR3, VIDEO_FORMAT_I420}) {
        TestFilter filter;
        int found = 0, labels = 0;
        for (const test::LabelledPhoto& photo : test::labelled_photos()) {
            const std::vector<cv::Rect> boxes = detect(filter, photo.image, format);
            const int here = test::labels_found(photo.faces, boxes);
            found += here;
            labels += static_cast<int>(photo.faces.size());
            RecordProperty(photo.file + (format == VIDEO_FORMAT_BGR3 ? "_colour" : "_luma"), here);
        }
        EXPECT_EQ(labels, 18);
        EXPECT_GE(found, 16) << (format == VIDEO_FORMAT_BGR3 ? "colour" : "luma only");
    }
}

TEST(YunetDetection, FindsNoFaceAmongDogsAboveTheConfidenceOfRealFaces) {
    // YuNet scores the lower left dog's face at about 0.86, so a threshold
    // that keeps every labelled face (all above 0.86) also keeps that dog.
    TestFilter filter([](obs_data_t* s) { obs_data_set_double(s, "confidence", 0.9); });
    EXPECT_TRUE(detect(filter, test::load_sample("dogs.jpg")).empty());
}

TEST(YunetDetection, FindsFacesInALargeFrameThroughTheShrunkenImage) {
    TestFilter filter;
    const test::LabelledPhoto& photo = test::labelled_photos()[0];
    cv::Mat large;
    cv::resize(photo.image, large, cv::Size(), 3.0, 3.0, cv::INTER_CUBIC); // 1500 x 1125
    std::vector<cv::Rect> labels;
    for (const cv::Rect& face : photo.faces) {
        labels.emplace_back(face.x * 3, face.y * 3, face.width * 3, face.height * 3);
    }
    const std::vector<cv::Rect> boxes = detect(filter, large);
    EXPECT_EQ(filter.instance().detection_image.size(), cv::Size(640, 480));
    EXPECT_GE(test::labels_found(labels, boxes), static_cast<int>(labels.size()) - 1);
}

TEST(DetectionPass, ResultIsCutToMaxFacesAndTheFirstDetectionIsLoggedOnce) {
    test::LogCapture log;
    TestFilter filter([](obs_data_t* s) { obs_data_set_int(s, "max_faces", 2); });
    const cv::Mat crowd = test::labelled_photos()[0].image; // seven faces
    EXPECT_EQ(detect(filter, crowd).size(), 2u);
    EXPECT_EQ(detect(filter, crowd).size(), 2u);
    EXPECT_EQ(log.count("[veilcam] First face detection succeeded (2 face(s))", LOG_INFO), 1);
    EXPECT_EQ(log.count("[veilcam] YuNet detector ready on CPU: ", LOG_INFO), 1);
    EXPECT_EQ(log.count("[veilcam]", LOG_WARNING) + log.count("[veilcam]", LOG_ERROR), 0);
}

TEST(DetectionPass, SmallFacesAreDropped) {
    TestFilter filter([](obs_data_t* s) { obs_data_set_int(s, "minimum_face_size", 300); });
    EXPECT_TRUE(detect(filter, test::labelled_photos()[0].image).empty());
}

TEST(MapToFrame, ScalesBackAndMirrors) {
    struct Case {
        cv::Rect box;
        double scale;
        int mirror_width;
        cv::Rect expected;
    };
    const Case cases[] = {
        {{100, 50, 40, 40}, 640.0 / 1920.0, 0, {300, 150, 120, 120}},
        {{10, 20, 30, 40}, 1.0, 0, {10, 20, 30, 40}},
        {{10, 0, 50, 50}, 0.5, 640, {1160, 0, 100, 100}},
        {{1, 1, 5, 7}, 2.0, 0, {0, 0, 2, 4}}, // 0.5 -> 0, 0.5 -> 0, 2.5 -> 2, 3.5 -> 4
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
        {{}, {1, 2, 3, 4}, {{1, 2, 3, 4}}},
        {{{0, 0, 100, 100}}, {0, 0, 0, 0}, {{0, 0, 100, 100}, {0, 0, 0, 0}}},
    };
    for (const Case& c : cases) {
        std::vector<cv::Rect> list = c.list;
        merge_detection(list, c.box, 0.35f);
        EXPECT_EQ(list, c.expected) << c.box;
    }
}

} // namespace
} // namespace veilcam
