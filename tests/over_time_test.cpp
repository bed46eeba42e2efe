// Faces stay hidden from frame to frame: at a cut, in a crowd, in fast motion.
#include "support/frames.hpp"
#include "support/log_capture.hpp"
#include "support/samples.hpp"
#include "support/test_filter.hpp"

#include <gtest/gtest.h>
#include <opencv2/imgproc.hpp>

#include <cmath>

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

TEST(OverTime, AStillFaceThatStartsToMoveStaysHiddenAtEveryInterval) {
    // A 48-pixel face with its surroundings, still for a second, then walking
    // right at 20 pixels a frame across a 1280x720 picture of dogs.
    const test::LabelledPhoto& photo = test::labelled_photos()[2];
    const cv::Rect face = photo.faces[0];
    cv::Mat patch;
    cv::resize(photo.image(cv::Rect(face.tl() - cv::Point(face.width / 2, face.height / 2),
                                    face.size() * 2)),
               patch, {96, 96}, 0, 0, cv::INTER_AREA);
    cv::Mat dogs;
    cv::resize(test::load_sample("dogs.jpg"), dogs, {1280, 720}, 0, 0, cv::INTER_AREA);
    for (const int interval : {2, 6, 15}) {
        test::TestFilter filter(
            [&](obs_data_t* s) { obs_data_set_int(s, "detection_interval", interval); });
        int visible = 0;
        for (int n = 0; n < 80; ++n) {
            const cv::Point at(60 + 20 * std::max(n - 30, 0), 300);
            cv::Mat picture = dogs.clone();
            patch.copyTo(picture(cv::Rect(at, patch.size())));
            const TestFrame before = test::make_frame(picture, VIDEO_FORMAT_I420);
            TestFrame frame = before;
            filter.run(frame);
            visible += test::unchanged_share(before, frame,
                                             {at + cv::Point(24, 24), cv::Size(48, 48)}) > 0.2;
        }
        EXPECT_EQ(visible, 0) << "every " << interval << " frames: frames visible";
    }
}

TEST(OverTime, SmallFacesMovingInAFullHdFrameStayHiddenOnceFound) {
    // Labelled faces of 24 to 32 pixels with their surroundings, each walking
    // 4 pixels a frame across a plain 1920x1080 picture: found when a tile
    // comes round, then found again on every pass wherever they went.
    const test::LabelledPhoto& photo = test::labelled_photos()[3];
    for (const int side : {24, 32}) {
        const cv::Rect face = photo.faces[0];
        cv::Mat patch;
        cv::resize(photo.image(cv::Rect(face.tl() - cv::Point(face.width / 2, face.height / 2),
                                        face.size() * 2)),
                   patch, {side * 2, side * 2}, 0, 0, cv::INTER_AREA);
        test::TestFilter filter;
        int found_at = -1, visible = 0;
        for (int n = 0; n < 160; ++n) {
            const cv::Point at(100 + 4 * n, 500 + n);
            cv::Mat picture(1080, 1920, CV_8UC3, cv::Scalar::all(90));
            patch.copyTo(picture(cv::Rect(at, patch.size())));
            const TestFrame before = test::make_frame(picture, VIDEO_FORMAT_I420);
            TestFrame frame = before;
            filter.run(frame);
            const bool hidden = test::unchanged_share(before, frame,
                                                      {at + cv::Point(side / 2, side / 2),
                                                       cv::Size(side, side)}) <= 0.2;
            found_at = found_at < 0 && hidden ? n : found_at;
            visible += found_at >= 0 && !hidden;
        }
        EXPECT_GE(found_at, 0) << side << " pixels";
        EXPECT_LE(found_at, 60) << side << " pixels: found late";
        EXPECT_EQ(visible, 0) << side << " pixels: frames visible after it was found";
    }
}

TEST(OverTime, FacesOnTheirSideAreFoundWithinTwelveFramesAndStayHidden) {
    // Each labelled face of a sample photo, 72 pixels with its surroundings,
    // rolled a quarter either way and walking right at 2 pixels a frame
    // across a plain 1280x720 picture.
    const test::LabelledPhoto& photo = test::labelled_photos()[3];
    for (const cv::Rect& face : photo.faces) {
        for (const int roll : {cv::ROTATE_90_CLOCKWISE, cv::ROTATE_90_COUNTERCLOCKWISE}) {
            cv::Mat patch;
            cv::resize(photo.image(cv::Rect(face.tl() - cv::Point(face.width / 2, face.height / 2),
                                            face.size() * 2) &
                                   cv::Rect(0, 0, photo.image.cols, photo.image.rows)),
                       patch, {144, 144}, 0, 0, cv::INTER_AREA);
            cv::rotate(patch, patch, roll);
            test::TestFilter filter;
            int found_at = -1, visible = 0;
            for (int n = 0; n < 60; ++n) {
                const cv::Point at(300 + 2 * n, 300);
                cv::Mat picture(720, 1280, CV_8UC3, cv::Scalar::all(90));
                patch.copyTo(picture(cv::Rect(at, patch.size())));
                const TestFrame before = test::make_frame(picture, VIDEO_FORMAT_I420);
                TestFrame frame = before;
                filter.run(frame);
                const bool hidden =
                    test::unchanged_share(before, frame,
                                          {at + cv::Point(36, 36), cv::Size(72, 72)}) <= 0.2;
                found_at = found_at < 0 && hidden ? n : found_at;
                visible += found_at >= 0 && !hidden;
            }
            const std::string what = "face at " + std::to_string(face.x) + ", rolled " +
                                     (roll == cv::ROTATE_90_CLOCKWISE ? "clockwise" : "back");
            EXPECT_GE(found_at, 0) << what;
            EXPECT_LE(found_at, 12) << what << ": found late";
            EXPECT_EQ(visible, 0) << what << ": frames visible after it was found";
        }
    }
}

TEST(OverTime, AFaceComingInAtASideOrTheBottomIsHiddenBeforeHalfOfItIsInside) {
    // A labelled face of 72 pixels with its surroundings sliding into a
    // plain 1280x720 picture at 3 pixels a frame, from each edge in turn.
    // Mirrored at the picture's edge, half a face is a face again across a
    // side and, forehead first, across the bottom: one coming in chin first
    // at the top is found later.
    const test::LabelledPhoto& photo = test::labelled_photos()[3];
    const cv::Rect face = photo.faces[2];
    cv::Mat patch;
    cv::resize(photo.image(cv::Rect(face.tl() - cv::Point(face.width / 2, face.height / 2),
                                    face.size() * 2)),
               patch, {144, 144}, 0, 0, cv::INTER_AREA);
    const cv::Rect frame_rect(0, 0, 1280, 720);
    const std::pair<const char*, int> edges[] = {
        {"left", 36}, {"right", 36}, {"top", 66}, {"bottom", 30}};
    for (int edge = 0; edge < 4; ++edge) {
        test::TestFilter filter;
        int hidden_at = -1, visible = 0;
        // How far the face is inside, in pixels.
        for (int inside = 3; inside <= 108; inside += 3) {
            const cv::Point at[] = {
                {inside - 72, 300}, {1280 - inside, 300}, {600, inside - 72}, {600, 720 - inside}};
            const cv::Rect face_at(at[edge], cv::Size(72, 72));
            const cv::Rect patch_at = cv::Rect(at[edge] - cv::Point(36, 36), patch.size());
            const cv::Rect shown = patch_at & frame_rect;
            cv::Mat picture(720, 1280, CV_8UC3, cv::Scalar::all(90));
            patch(shown - patch_at.tl()).copyTo(picture(shown));
            const TestFrame before = test::make_frame(picture, VIDEO_FORMAT_I420);
            TestFrame frame = before;
            filter.run(frame);
            const bool hidden = test::unchanged_share(before, frame, face_at & frame_rect) <= 0.2;
            hidden_at = hidden_at < 0 && hidden ? inside : hidden_at;
            visible += hidden_at >= 0 && !hidden;
        }
        const auto& [name, latest] = edges[edge];
        EXPECT_GE(hidden_at, 0) << name;
        EXPECT_LT(hidden_at, latest) << name << ": pixels inside when first hidden";
        EXPECT_EQ(visible, 0) << name << ": frames visible after it was hidden";
    }
}

// A 1280x720 shot of a sample photo, fitted into `fit` and centred on
// `background` (grey where there is none), seen through a camera that has
// moved `shift` pixels and zoomed in `zoom` times about the picture's middle,
// at a mean level of 70 with its contrast times `contrast` (1: as it is).
// Labelled faces go along.
test::LabelledPhoto shot(const test::LabelledPhoto& photo, cv::Size fit, cv::Point2d shift,
                         double zoom, double contrast = 1.0, const cv::Mat& background = {}) {
    const double scale = std::min(static_cast<double>(fit.width) / photo.image.cols,
                                  static_cast<double>(fit.height) / photo.image.rows);
    const cv::Point2d middle(640, 360);
    const cv::Point2d at = middle - cv::Point2d(photo.image.cols, photo.image.rows) * scale / 2;
    // Photo pixel p lands at middle + zoom * (at + scale * p - middle - shift).
    const cv::Point2d origin = middle + (at - middle - shift) * zoom;
    const cv::Matx23d to_frame(zoom * scale, 0, origin.x, 0, zoom * scale, origin.y);
    test::LabelledPhoto out{photo.file, background.empty() ? cv::Mat() : background.clone(), {}};
    cv::warpAffine(photo.image, out.image, to_frame, {1280, 720}, cv::INTER_LINEAR,
                   background.empty() ? cv::BORDER_CONSTANT : cv::BORDER_TRANSPARENT,
                   cv::Scalar::all(90));
    if (contrast != 1.0) {
        const cv::Scalar m = cv::mean(out.image);
        out.image.convertTo(out.image, -1, contrast, 70 - contrast * (m[0] + m[1] + m[2]) / 3);
    }
    for (const cv::Rect& face : photo.faces) {
        out.faces.emplace_back(cv::Rect2d(origin + cv::Point2d(face.tl()) * zoom * scale,
                                          cv::Size2d(face.size()) * zoom * scale));
    }
    return out;
}

// The share of the picture changed away from the faces, their boxes grown
// by half their size on every side: what hiding cost the rest of it.
double collateral(const TestFrame& before, const TestFrame& after,
                  const std::vector<cv::Rect>& faces) {
    std::vector<cv::Rect> grown;
    for (const cv::Rect& f : faces) {
        grown.emplace_back(f.x - f.width / 2, f.y - f.height / 2, 2 * f.width, 2 * f.height);
    }
    return static_cast<double>(test::changed_bytes_outside(before, after, 0, grown)) /
           before.size().area();
}

TEST(OverTime, PansZoomsAndWalksHideEveryFaceAndLittleElseAndKeepTheirIds) {
    // Pans and zooms go one way for five frames, then back.
    auto there_and_back = [](int n) { return n % 10 < 5 ? n % 10 : 10 - n % 10; };
    // Where the walker walks: a still, textured picture with no face.
    cv::Mat park(720, 1280, CV_8UC3);
    cv::randu(park, cv::Scalar::all(40), cv::Scalar::all(200));
    cv::GaussianBlur(park, park, {9, 9}, 3);
    const auto& photos = test::labelled_photos();
    const test::LabelledPhoto walker{
        photos[2].file, photos[2].image(cv::Rect(100, 40, 160, 180)), {{45, 39, 76, 76}}};
    struct Move {
        const char* what;
        double pan, zoom; // a frame
        size_t photo;     // the walker when past the photos
    };
    const Move moves[] = {{"pan", 10, 1, 3},    {"pan", 25, 1, 1},    {"pan", 40, 1, 0},
                          {"pan", 40, 1, 2},    {"zoom", 0, 1.02, 1}, {"zoom", 0, 1.04, 0},
                          {"zoom", 0, 1.06, 3}, {"zoom", 0, 1.06, 2}, {"walk", 12, 1, 4}};
    for (const Move& move : moves) {
        // Listed as visible after the first frame, every face stays visible:
        // one id each all along (where no two faces' boxes touch, which
        // gives both new ids).
        for (const bool listed : {false, true}) {
            if (listed && move.photo < 2) {
                continue;
            }
            test::TestFilter filter;
            for (int n = 0; n < 16; ++n) {
                const int k = there_and_back(n);
                const test::LabelledPhoto view =
                    move.photo < photos.size()
                        ? shot(photos[move.photo], {880, 620}, {move.pan * k, 0},
                               std::pow(move.zoom, k))
                        : shot(walker, {160, 180}, {-move.pan * n + 300, 0}, 1.0, 1.0, park);
                const TestFrame before = test::make_frame(view.image, VIDEO_FORMAT_I420);
                TestFrame frame = before;
                filter.run(frame);
                const std::string where = std::string(move.what) + " " + view.file + ", frame " +
                                          std::to_string(n) + (listed ? ", listed" : "");
                if (listed && n == 0) {
                    std::string ids;
                    for (const FaceTrack& track : filter.instance().tracker.tracks()) {
                        ids += std::to_string(track.id) + ",";
                    }
                    filter.update([&](obs_data_t* s) {
                        obs_data_set_string(s, "excluded_face_ids", ids.c_str());
                    });
                } else {
                    // A fifth of a face's luma left as it was shows it.
                    for (const cv::Rect& face : view.faces) {
                        const cv::Rect inside = face & cv::Rect(cv::Point(), before.size());
                        const int same = cv::countNonZero(frame.plane_bytes(0)(inside) ==
                                                          before.plane_bytes(0)(inside));
                        ASSERT_EQ(same > 0.2 * inside.area(), listed)
                            << where << ", face at " << face;
                    }
                    ASSERT_TRUE(listed || collateral(before, frame, view.faces) < 0.05) << where;
                }
            }
        }
    }
}

TEST(OverTime, ACutLeavesNothingOfTheOldShotAfterItsSecondPass) {
    // After its second pass, a filter cut to a shot changes next to nothing
    // that one which has seen nothing else leaves as it is (both search the
    // whole picture alone).
    const auto& photos = test::labelled_photos();
    const test::SettingsEdit no_tiles = [](obs_data_t* s) {
        obs_data_set_int(s, "minimum_face_size", 48);
    };
    for (size_t from = 0; from < photos.size(); ++from) {
        for (size_t to = 0; to < photos.size(); ++to) {
            if (to == from) {
                continue;
            }
            test::TestFilter cut(no_tiles), fresh(no_tiles);
            TestFrame frame;
            // The first shot at half size in the top left quarter, so that its
            // faces are not where the next shot's are.
            for (int n = 0; n < 4; ++n) {
                frame = test::make_frame(shot(photos[from], {1400, 788}, {640, 360}, 0.5).image,
                                         VIDEO_FORMAT_I420);
                cut.run(frame);
            }
            const test::LabelledPhoto next = shot(photos[to], {1400, 788}, {}, 1.0);
            const TestFrame before = test::make_frame(next.image, VIDEO_FORMAT_I420);
            for (int n = 0; n < 4; ++n) {
                TestFrame seen_fresh = frame = before;
                cut.run(frame);
                fresh.run(seen_fresh);
                // The cut frame's pass and the next, two frames on.
                if (n >= 2) {
                    const cv::Mat original = before.plane_bytes(0);
                    const cv::Mat left = (frame.plane_bytes(0) != original) &
                                         (seen_fresh.plane_bytes(0) == original);
                    // A face's region a pixel larger is no region left over.
                    EXPECT_LT(cv::countNonZero(left), 0.005 * original.total())
                        << photos[from].file << " cut to " << next.file << ", frame " << n;
                }
            }
        }
    }
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
                TestFrame frame = test::make_frame(
                    shot(photos[from], {1400, 788}, {}, 1.0, contrast).image, VIDEO_FORMAT_I420);
                filter.run(frame);
                std::string ids;
                for (const FaceTrack& track : filter.instance().tracker.tracks()) {
                    ids += std::to_string(track.id) + ",";
                }
                filter.update([&](obs_data_t* s) {
                    obs_data_set_string(s, "excluded_face_ids", ids.c_str());
                });
                const test::LabelledPhoto next =
                    shot(photos[cut ? to : from], {1400, 788}, shift, zoom, contrast);
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
