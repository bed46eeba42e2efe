#include "detection/detection_pass.hpp"
#include "support/frames.hpp"
#include "support/log_capture.hpp"
#include "support/samples.hpp"
#include "support/test_filter.hpp"

#include <obs.h>

#include <gtest/gtest.h>
#include <opencv2/imgproc.hpp>

namespace veilcam {
namespace {

// What each pass looks at besides the upright picture: '.' nothing, 'm' the
// mirror image, 't' the picture turned a quarter.
TEST(SecondLook, TurnedEveryThirdPassAndAfterARolledFaceMirroredWhenFewFacesNeverBoth) {
    const cv::Mat two_faces = test::labelled_photos()[2].image;
    const cv::Mat three_faces = test::labelled_photos()[3].image;
    const cv::Mat no_face(240, 320, CV_8UC3, cv::Scalar(90, 100, 110));
    cv::Mat on_their_side;
    cv::rotate(three_faces, on_their_side, cv::ROTATE_90_CLOCKWISE);
    struct Case {
        const char* what;
        bool setting, crowd;
        cv::Mat image;
        std::string looks;
    };
    const Case cases[] = {
        {"two faces", true, false, two_faces, "..t.mt..t"},
        {"three faces", true, false, three_faces, "..t..t..t"},
        {"no face", true, false, no_face, "mmtmmtmmt"},
        {"no face, crowd mode", true, true, no_face, "mmtmmtmmt"},
        {"two faces, crowd mode", true, true, two_faces, "..t..t..t"},
        {"setting off, no face", false, false, no_face, "..t..t..t"},
        {"faces on their side", true, false, on_their_side, "..ttttttt"},
    };
    for (const Case& c : cases) {
        test::TestFilter filter([&](obs_data_t* s) {
            obs_data_set_int(s, "detection_interval", 1);
            obs_data_set_bool(s, "mirrored_profile_pass", c.setting);
            obs_data_set_bool(s, "crowd_mode", c.crowd);
        });
        DetectionState& state = filter.instance().detection;
        std::string looks;
        for (int pass = 0; pass < 9; ++pass) {
            state.mirror_image.release();
            state.turned_image.release();
            test::TestFrame frame = test::make_frame(c.image, VIDEO_FORMAT_BGR3);
            filter.run(frame);
            looks +=
                std::string(".mt?")[!state.mirror_image.empty() + 2 * !state.turned_image.empty()];
        }
        EXPECT_EQ(looks, c.looks) << c.what;
    }
}

// Faces a detector can find are hidden: small ones at the minimum (and
// small ones SCRFD misses in grey, on a frame whose detection image is grey),
// and those of a frame that arrives bottom-up.
TEST(DetectorStart, AStartUpLongerThanAFrameIsSaidOnce) {
    test::LogCapture log;
    test::TestFilter filter([](obs_data_t* s) { obs_data_set_bool(s, "enabled", false); });
    const test::TestFrame original =
        test::make_frame(test::labelled_photos()[0].image, VIDEO_FORMAT_I420);
    // A source at a billion frames a second, whose frame no start-up fits in;
    // the filter is turned on after its first.
    for (uint64_t n = 1; n <= 4; ++n) {
        test::TestFrame frame = original;
        frame.frame.timestamp = n;
        filter.run(frame);
        filter.update([](obs_data_t* s) { obs_data_set_bool(s, "enabled", true); });
    }
    EXPECT_EQ(log.count("[veilcam] Starting the detector on 'cpu-ort' took ", LOG_WARNING), 1);
}

TEST(FoundFaces, AreHiddenWhenSmallAndWhenTheFrameIsFlipped) {
    struct Case {
        video_format format;
        const char* device;
        int minimum_face_size;
        double scale; // of the photos, whose smallest faces are 37 to 76 pixels wide
        bool flipped;
        cv::Size frame_size;
    };
    // The minimum is counted in frame pixels, also where the detector sees a
    // third of them.
    const Case cases[] = {{VIDEO_FORMAT_I420, "cpu", 20, 0.65, false, {640, 480}},
                          // The photo alone, which SCRFD sees enlarged: in grey it
                          // misses a face there that it finds in colour.
                          {VIDEO_FORMAT_I420, "cpu-scrfd", 12, 0.4, false, {}},
                          {VIDEO_FORMAT_I420, "cpu", 20, 1.0, true, {640, 480}},
                          {VIDEO_FORMAT_YUY2, "cpu", 20, 1.0, true, {640, 480}},
                          {VIDEO_FORMAT_BGRA, "cpu", 20, 1.0, true, {640, 480}},
                          {VIDEO_FORMAT_NV12, "cpu", 60, 2.0, false, {1920, 1080}}};
    for (const Case& c : cases) {
        for (const test::LabelledPhoto& photo : test::labelled_photos()) {
            test::LabelledPhoto shown = test::scaled(
                photo, {cvRound(photo.image.cols * c.scale), cvRound(photo.image.rows * c.scale)});
            if (c.flipped) {
                cv::flip(shown.image, shown.image, 0);
                for (cv::Rect& face : shown.faces) {
                    face.y = shown.image.rows - face.y - face.height;
                }
            }
            if (!c.frame_size.empty()) {
                cv::copyMakeBorder(shown.image, shown.image, 0,
                                   c.frame_size.height - shown.image.rows, 0,
                                   c.frame_size.width - shown.image.cols, cv::BORDER_CONSTANT,
                                   cv::Scalar::all(90));
            }
            test::TestFilter filter([&](obs_data_t* s) {
                obs_data_set_string(s, "tracking_device", c.device);
                obs_data_set_int(s, "minimum_face_size", c.minimum_face_size);
            });
            const test::TestFrame original = test::make_frame(shown.image, c.format);
            test::TestFrame frame = original;
            frame.frame.flip = c.flipped;
            filter.run(frame);
            EXPECT_EQ(test::faces_left_visible(original, frame, shown.faces), 0)
                << c.device << " " << c.format << (c.flipped ? " flipped " : " ") << photo.file;
        }
    }
}

TEST(FoundFaces, AreHiddenWhenSmallInAFullHdFrame) {
    // Twelve photos on a 1920x1080 frame, scaled so that their smallest faces
    // are 14 to 24 pixels wide (where the photo fits its cell).
    cv::Mat picture(1080, 1920, CV_8UC3, cv::Scalar::all(90));
    std::vector<cv::Rect> faces;
    const auto& photos = test::labelled_photos();
    for (int cell = 0; cell < 12; ++cell) {
        const test::LabelledPhoto& photo = photos[cell % photos.size()];
        int smallest = photo.image.cols;
        for (const cv::Rect& face : photo.faces) {
            smallest = std::min(smallest, face.width);
        }
        const double scale = std::min({(14.0 + 10.0 * cell / 11) / smallest,
                                       476.0 / photo.image.cols, 356.0 / photo.image.rows});
        const test::LabelledPhoto shown = test::scaled(
            photo, {cvRound(photo.image.cols * scale), cvRound(photo.image.rows * scale)});
        const cv::Point at(cell % 4 * 480, cell / 4 * 360);
        shown.image.copyTo(picture(cv::Rect(at, shown.image.size())));
        for (const cv::Rect& face : shown.faces) {
            faces.push_back(face + at);
        }
    }
    struct Case {
        video_format format;
        const char* device;
        bool flipped;
        int hold_frames; // a face looked for in another part is not missed
    };
    const Case cases[] = {{VIDEO_FORMAT_I420, "cpu", false, 24},
                          {VIDEO_FORMAT_YUY2, "cpu", true, 24},
                          {VIDEO_FORMAT_NV12, "cpu-scrfd", false, 24},
                          {VIDEO_FORMAT_I420, "cpu", false, 2}};
    for (const Case& c : cases) {
        cv::Mat shown = picture.clone();
        std::vector<cv::Rect> shown_faces = faces;
        if (c.flipped) {
            cv::flip(shown, shown, 0);
            for (cv::Rect& face : shown_faces) {
                face.y = shown.rows - face.y - face.height;
            }
        }
        test::TestFilter filter([&](obs_data_t* s) {
            obs_data_set_string(s, "tracking_device", c.device);
            obs_data_set_int(s, "hold_frames", c.hold_frames);
        });
        const test::TestFrame original = test::make_frame(shown, c.format);
        // Fifty frames: 25 detection passes, one for each tile of the frame.
        test::TestFrame frame = original;
        for (int i = 0; i < 50; ++i) {
            frame = original;
            frame.frame.flip = c.flipped;
            filter.run(frame);
        }
        EXPECT_EQ(test::faces_left_visible(original, frame, shown_faces), 0)
            << c.device << " " << c.format << (c.flipped ? " flipped" : "") << " hold "
            << c.hold_frames;
    }
}

} // namespace
} // namespace veilcam
