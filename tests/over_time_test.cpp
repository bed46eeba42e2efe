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

TEST(OverTime, CrowdsAreHiddenInCrowdModeAndPastTheFaceLimit) {
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
    // How many faces stay visible, and how often the face limit is said.
    auto run = [&](bool crowd_mode, int max_faces) {
        test::LogCapture log;
        test::TestFilter filter([&](obs_data_t* s) {
            obs_data_set_bool(s, "crowd_mode", crowd_mode);
            obs_data_set_int(s, "max_faces", max_faces);
        });
        const TestFrame before = test::make_frame(crowd, VIDEO_FORMAT_BGR3);
        TestFrame frame = before;
        filter.run(frame);
        int visible = 0;
        for (const cv::Rect& face : faces) {
            visible += test::unchanged_share(before, frame, face) > 0.05;
        }
        return std::pair{visible,
                         log.count("[veilcam] A pass found more faces than 'Most faces': ")};
    };
    EXPECT_EQ(run(true, 20), std::pair(0, 0)) << "crowd mode";
    EXPECT_EQ(run(false, 5), std::pair(run(false, 50).first, 1)) << "the limit hides no face less";
}

TEST(OverTime, TheFirstFrameAfterTheFilterIsTurnedOnAgainIsDetected) {
    const test::LabelledPhoto& photo = test::labelled_photos()[2];
    cv::Mat no_faces = photo.image.clone();
    for (const cv::Rect& face : photo.faces) {
        no_faces(face).setTo(cv::Scalar(90, 90, 90));
    }
    test::TestFilter filter([](obs_data_t* s) { obs_data_set_int(s, "detection_interval", 15); });
    TestFrame frame = test::make_frame(no_faces, VIDEO_FORMAT_BGR3);
    filter.run(frame);
    filter.update([](obs_data_t* s) { obs_data_set_bool(s, "enabled", false); });
    filter.run(frame);
    filter.update([](obs_data_t* s) { obs_data_set_bool(s, "enabled", true); });
    // Meanwhile the faces came into view, too small a change to be a cut.
    const TestFrame before = test::make_frame(photo.image, VIDEO_FORMAT_BGR3);
    frame = before;
    filter.run(frame);
    EXPECT_EQ(test::faces_left_visible(before, frame, photo.faces), 0);
}

TEST(OverTime, FastFacesStayInsideTheirRegionOnEveryFrame) {
    // A labelled face with a margin, 150 pixels square (the face 100), moving
    // right across a plain 1280x720 picture.
    const test::LabelledPhoto& photo = test::labelled_photos()[2];
    cv::Mat face;
    cv::resize(photo.image(cv::Rect(photo.faces[0].tl() - cv::Point(19, 19), cv::Size(114, 114))),
               face, {150, 150});
    // Listed as visible after its first frame, it stays visible: followed
    // under one id, however fast.
    for (const bool listed : {false, true}) {
        for (const int speed : {30, 50, 80}) {
            test::TestFilter filter;
            for (int x = 10, n = 0; x + 150 <= 1280; x += speed, ++n) {
                cv::Mat picture(720, 1280, CV_8UC3, cv::Scalar::all(90));
                face.copyTo(picture(cv::Rect(x, 300, 150, 150)));
                const TestFrame before = test::make_frame(picture, VIDEO_FORMAT_I420);
                TestFrame frame = before;
                filter.run(frame);
                if (listed && n == 0) {
                    filter.update(
                        [](obs_data_t* s) { obs_data_set_string(s, "excluded_face_ids", "1"); });
                } else {
                    EXPECT_EQ(test::faces_left_visible(before, frame, {{x + 25, 325, 100, 100}}),
                              listed ? 1 : 0)
                        << speed << " pixels a frame, frame " << n << (listed ? ", listed" : "");
                }
            }
        }
    }
}

// A 1280x720 shot of a sample photo (on grey, its shape kept): seen through a
// camera that has moved `shift` pixels and zoomed in `zoom` times, at a mean
// level of 70 with its contrast times `contrast` (1: as it is). Labelled
// faces go along.
test::LabelledPhoto shot(const test::LabelledPhoto& photo, cv::Point shift, double zoom,
                         double contrast) {
    const double fit = std::min(1400.0 / photo.image.cols, 788.0 / photo.image.rows);
    const test::LabelledPhoto fitted =
        test::scaled(photo, {cvRound(photo.image.cols * fit), cvRound(photo.image.rows * fit)});
    cv::Mat large(788, 1400, CV_8UC3, cv::Scalar::all(90));
    const cv::Point at((1400 - fitted.image.cols) / 2, (788 - fitted.image.rows) / 2);
    fitted.image.copyTo(large(cv::Rect(at, fitted.image.size())));
    const cv::Rect seen(cv::Point(60, 34) + shift,
                        cv::Size(cvRound(1280 / zoom), cvRound(720 / zoom)));
    test::LabelledPhoto out{photo.file, {}, {}};
    cv::resize(large(seen), out.image, {1280, 720}, 0, 0, cv::INTER_AREA);
    if (contrast != 1.0) {
        const cv::Scalar m = cv::mean(out.image);
        out.image.convertTo(out.image, -1, contrast, 70 - contrast * (m[0] + m[1] + m[2]) / 3);
    }
    for (const cv::Rect& face : fitted.faces) {
        out.faces.emplace_back(cv::Rect2d((face.x + at.x - seen.x) * zoom,
                                          (face.y + at.y - seen.y) * zoom, face.width * zoom,
                                          face.height * zoom));
    }
    return out;
}

TEST(OverTime, CutsAreFoundInAnyLightAndCameraMovesAreNot) {
    // The faces of the first shot are listed as visible. After a cut to
    // another photo, its faces are hidden on its first frame, long before the
    // next detection frame; after a camera move, the listed faces stay visible.
    const auto& photos = test::labelled_photos();
    const std::pair<cv::Point, double> moves[] = {
        {{60, 0}, 1.0}, {{-60, 0}, 1.0}, {{0, 30}, 1.0}, {{-20, 0}, 1.06}};
    for (const double contrast : {1.0, 0.4}) {
        for (size_t from = 0; from < photos.size(); ++from) {
            for (size_t to = 0; to < photos.size() + 4; ++to) {
                const bool cut = to < photos.size();
                const auto [shift, zoom] = cut ? std::pair(cv::Point(), 1.0) : moves[to - 4];
                if (to == from) {
                    continue;
                }
                test::TestFilter filter(
                    [](obs_data_t* s) { obs_data_set_int(s, "detection_interval", 30); });
                TestFrame frame = test::make_frame(shot(photos[from], {}, 1.0, contrast).image,
                                                   VIDEO_FORMAT_I420);
                filter.run(frame);
                std::string ids;
                for (const FaceTrack& track : filter.instance().tracker.tracks()) {
                    ids += std::to_string(track.id) + ",";
                }
                filter.update([&](obs_data_t* s) {
                    obs_data_set_string(s, "excluded_face_ids", ids.c_str());
                });
                const test::LabelledPhoto next =
                    shot(photos[cut ? to : from], shift, zoom, contrast);
                const TestFrame before = test::make_frame(next.image, VIDEO_FORMAT_I420);
                frame = before;
                filter.run(frame);
                EXPECT_EQ(test::faces_left_visible(before, frame, next.faces),
                          cut ? 0 : static_cast<int>(next.faces.size()))
                    << photos[from].file << (cut ? " cut to " + photos[to].file : " moved") << shift
                    << " x" << zoom << ", contrast " << contrast;
            }
        }
    }
}

} // namespace
} // namespace veilcam
