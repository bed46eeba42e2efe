// A face listed as visible is never shown in another face's place: not after
// a restart, a cut or a crossing.
#include "support/frames.hpp"
#include "support/samples.hpp"
#include "support/test_filter.hpp"

#include <gtest/gtest.h>
#include <opencv2/imgproc.hpp>

namespace veilcam {
namespace {

using test::TestFrame;

// The first face of photo `photo` (76 pixels wide) with a margin, 150 square.
cv::Mat face_crop(int photo) {
    const test::LabelledPhoto& p = test::labelled_photos()[photo];
    cv::Mat crop;
    cv::resize(p.image(cv::Rect(p.faces[0].tl() - cv::Point(19, 19), cv::Size(114, 114))), crop,
               {150, 150});
    return crop;
}

// A 640 x 480 frame of one grey level with the crops at their places.
TestFrame scene(int grey, const std::vector<std::pair<cv::Mat, cv::Point>>& faces) {
    cv::Mat picture(480, 640, CV_8UC3, cv::Scalar::all(grey));
    for (const auto& [crop, at] : faces) {
        crop.copyTo(picture(cv::Rect(at, crop.size())));
    }
    return test::make_frame(picture, VIDEO_FORMAT_BGR3);
}

int visible(test::TestFilter& filter, const TestFrame& original,
            const std::vector<cv::Rect>& faces) {
    TestFrame frame = original;
    filter.run(frame);
    return test::faces_left_visible(original, frame, faces);
}

// Lists the face at `face` as the overlay shows its id, as a user does.
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

TEST(FaceIds, AListedFaceIsNotHandedOnAtACut) {
    const cv::Point place(240, 150);
    const TestFrame host = scene(40, {{face_crop(2), place}});
    const TestFrame guest = scene(200, {{face_crop(3), place}});
    const cv::Rect face(place.x + 25, place.y + 25, 100, 100);
    test::TestFilter filter([](obs_data_t* s) { obs_data_set_int(s, "detection_interval", 15); });
    visible(filter, host, {face});
    list_face(filter, face);
    ASSERT_EQ(visible(filter, host, {face}), 1);
    EXPECT_EQ(visible(filter, guest, {face}), 0);
}

TEST(FaceIds, FacesThatCrossDoNotSwapWhoIsShown) {
    const cv::Mat host = face_crop(2), guest = face_crop(3);
    for (const char* mode : {"exclude", "include"}) {
        const bool include = mode[0] == 'i';
        test::TestFilter filter([&](obs_data_t* s) {
            obs_data_set_int(s, "detection_interval", 1);
            obs_data_set_int(s, "face_selection_mode", include ? 1 : 0);
        });
        // The host walks right past the guest, who walks left; the guest is
        // hidden (by exclusion of the host, or listed to be hidden).
        for (int step = 0; step <= 12; ++step) {
            const cv::Point host_at(40 + 35 * step, 150), guest_at(460 - 35 * step, 150);
            const TestFrame frame = scene(90, {{host, host_at}, {guest, guest_at}});
            const cv::Rect host_face(host_at + cv::Point(25, 25), cv::Size(100, 100));
            const cv::Rect guest_face(guest_at + cv::Point(25, 25), cv::Size(100, 100));
            const int guest_visible = visible(filter, frame, {guest_face});
            if (step == 0) {
                list_face(filter, include ? guest_face : host_face);
            } else if (std::abs(host_at.x - guest_at.x) > 150) {
                EXPECT_EQ(guest_visible, 0) << mode << ", step " << step;
            }
        }
    }
}

} // namespace
} // namespace veilcam
