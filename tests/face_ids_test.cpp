// A face listed as visible is never shown in another face's place: not after
// a restart, a cut or a crossing.
#include "plugin/filter_callbacks.hpp"
#include "support/frames.hpp"
#include "support/log_capture.hpp"
#include "support/samples.hpp"
#include "support/test_filter.hpp"

#include <gtest/gtest.h>
#include <opencv2/imgproc.hpp>

namespace veilcam {
namespace {

using test::TestFrame;

// A 640 x 480 frame of one grey level showing, at each place, the first face
// of a photo (76 pixels wide) with a margin, enlarged to 150 pixels square.
TestFrame scene(int grey, const std::vector<std::pair<int, cv::Point>>& faces) {
    cv::Mat picture(480, 640, CV_8UC3, cv::Scalar::all(grey));
    for (const auto& [photo, at] : faces) {
        const test::LabelledPhoto& p = test::labelled_photos()[photo];
        cv::Mat place = picture(cv::Rect(at, cv::Size(150, 150)));
        cv::resize(p.image(cv::Rect(p.faces[0].tl() - cv::Point(19, 19), cv::Size(114, 114))),
                   place, place.size());
    }
    return test::make_frame(picture, VIDEO_FORMAT_BGR3);
}

// Where the face of a scene placed at `at` is.
cv::Rect face_at(cv::Point at) {
    return {at + cv::Point(25, 25), cv::Size(100, 100)};
}

int visible(test::TestFilter& filter, const TestFrame& original,
            const std::vector<cv::Rect>& faces) {
    TestFrame frame = original;
    filter.run(frame);
    return test::faces_left_visible(original, frame, faces);
}

// Lists the face at `face` under the id the overlay shows, as a user does.
void list_face(test::TestFilter& filter, const cv::Rect& face) {
    for (const FaceTrack& track : filter.instance().tracker.tracks()) {
        if ((track.box & cv::Rect2f(face)).area() > 0.5f * face.area()) {
            const std::string id = std::to_string(track.id);
            filter.update(
                [&](obs_data_t* s) { obs_data_set_string(s, "excluded_face_ids", id.c_str()); });
        }
    }
}

TEST(FaceIds, ASavedIdNamesNobodyInARestartedOrCopiedFilter) {
    const test::LabelledPhoto& photo = test::labelled_photos()[3]; // faces 1 to 3
    const TestFrame original = test::make_frame(photo.image, VIDEO_FORMAT_BGR3);
    test::TestFilter first;
    visible(first, original, photo.faces);
    first.update([](obs_data_t* s) { obs_data_set_string(s, "excluded_face_ids", "1"); });
    ASSERT_EQ(visible(first, original, photo.faces), 1);
    // With what OBS saved, and with settings an older version saved.
    for (const bool older : {false, true}) {
        test::TestFilter restarted([&](obs_data_t* s) {
            obs_data_apply(s, first.settings());
            if (older) {
                obs_data_erase(s, "next_face_id");
            }
        });
        EXPECT_EQ(visible(restarted, original, photo.faces), 0) << older;
        for (const FaceTrack& track : restarted.instance().tracker.tracks()) {
            EXPECT_TRUE(older || track.id > 3) << track.id << " was handed out before";
        }
    }
}

TEST(FaceIds, IdsAtTheEndOfTheirRangeAreRefusedNeverHandedOutAndSavedAsTheyAre) {
    const test::LabelledPhoto& photo = test::labelled_photos()[3]; // three faces
    const TestFrame original = test::make_frame(photo.image, VIDEO_FORMAT_BGR3);
    constexpr long long kHighest = 9223372036854775807LL;
    const std::pair<long long, const char*> cases[] = {
        {0, "18446744073709551615"},
        {kHighest - 1, "9223372036854775807"},
        {kHighest - 1, "99999999999999999999999; 9223372036854775808"},
    };
    for (const auto& [saved_next, listed] : cases) {
        test::LogCapture log;
        test::TestFilter filter([&](obs_data_t* s) {
            obs_data_set_int(s, "next_face_id", saved_next);
            obs_data_set_string(s, "excluded_face_ids", listed);
        });
        filter.update([](obs_data_t*) {});
        EXPECT_EQ(log.count("name no face and are ignored", LOG_WARNING), 1) << listed;
        EXPECT_EQ(visible(filter, original, photo.faces), 0) << listed;
        save(&filter.instance(), filter.settings());
        const long long saved = obs_data_get_int(filter.settings(), "next_face_id");
        EXPECT_GE(saved, std::max(saved_next, 4LL)) << listed;
        test::TestFilter restarted([&](obs_data_t* s) { obs_data_apply(s, filter.settings()); });
        visible(restarted, original, photo.faces);
        for (const FaceTrack& track : restarted.instance().tracker.tracks()) {
            EXPECT_GE(track.id, static_cast<uint64_t>(saved)) << listed;
        }
    }
}

TEST(FaceIds, AListedFaceIsNotHandedOnAtACut) {
    const cv::Point place(240, 150);
    const TestFrame host = scene(40, {{2, place}}), guest = scene(200, {{3, place}});
    test::TestFilter filter([](obs_data_t* s) { obs_data_set_int(s, "detection_interval", 15); });
    visible(filter, host, {face_at(place)});
    list_face(filter, face_at(place));
    ASSERT_EQ(visible(filter, host, {face_at(place)}), 1);
    EXPECT_EQ(visible(filter, guest, {face_at(place)}), 0);
}

TEST(FaceIds, FacesThatCrossDoNotSwapWhoIsShown) {
    for (const bool include : {false, true}) {
        const char* mode = include ? "include" : "exclude";
        test::TestFilter filter([&](obs_data_t* s) {
            obs_data_set_int(s, "detection_interval", 1);
            obs_data_set_int(s, "face_selection_mode", include ? 1 : 0);
        });
        // The host walks right past the guest, who walks left. The guest is
        // hidden on every frame (the host listed as visible, or the guest
        // listed as hidden). The host shows while the two are apart: before
        // they meet, and afterwards once listed again under the new id.
        bool relisted = false;
        for (int step = 0; step <= 12; ++step) {
            const cv::Point host(40 + 35 * step, 150), guest(460 - 35 * step, 150);
            TestFrame original = scene(90, {{2, host}, {3, guest}}), frame = original;
            filter.run(frame);
            const int guest_visible = test::faces_left_visible(original, frame, {face_at(guest)});
            const int host_visible = test::faces_left_visible(original, frame, {face_at(host)});
            const bool apart = std::abs(host.x - guest.x) > 150;
            if (step == 0) {
                list_face(filter, face_at(include ? guest : host));
                continue;
            }
            EXPECT_EQ(guest_visible, 0) << mode << ", step " << step;
            if (apart && (host.x < guest.x || relisted)) {
                EXPECT_EQ(host_visible, 1) << mode << ", step " << step;
            }
            if (apart && host.x > guest.x && !include && !relisted) {
                EXPECT_EQ(host_visible, 0) << "a face that crossed another is not the listed one";
                list_face(filter, face_at(host));
                relisted = true;
            }
        }
        EXPECT_EQ(relisted, !include) << mode;
    }
}

} // namespace
} // namespace veilcam
