// veilcam-video run as a user runs it, on clips the tests make.
#include "support/clips.hpp"
#include "support/frames.hpp"
#include "support/samples.hpp"

#include <gtest/gtest.h>
#include <opencv2/core.hpp>

#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>

#include <sys/stat.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <set>
#include <tuple>

namespace veilcam {
namespace {

namespace fs = std::filesystem;

test::CommandRun run_tool(const std::string& arguments) {
    return test::run_command(std::string(VEILCAM_VIDEO_TOOL) + " --quiet " + arguments);
}

class VideoTool : public ::testing::Test {
  protected:
    void SetUp() override {
        folder_ = fs::temp_directory_path() /
                  ("veilcam-video-" + std::to_string(::getpid()) + "-" +
                   ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(folder_);
        fs::create_directories(folder_);
        cv::copyMakeBorder(test::labelled_photos()[3].image(cv::Rect(0, 0, 500, 360)), picture_, 0,
                           0, 0, 140, cv::BORDER_CONSTANT, {60, 60, 60});
    }
    void TearDown() override { fs::remove_all(folder_); }
    std::string path(const std::string& name) const { return (folder_ / name).string(); }
    // One of the faces comes into the picture on frame 1, with no cut.
    std::string clip(const std::string& format = "yuv420p", bool audio = true) {
        const std::string file = path("input-" + format + ".nut");
        cv::Mat before_the_face = picture_.clone();
        before_the_face(test::labelled_photos()[3].faces[1]).setTo(cv::Scalar(60, 60, 60));
        test::make_clip(file, {before_the_face, picture_}, format, 12, audio);
        return file;
    }
    // How many labelled faces show, or half of them.
    static int faces_left_visible(const cv::Mat& before, const cv::Mat& after) {
        int visible = 0;
        for (const cv::Rect& face : test::labelled_photos()[3].faces) {
            visible += test::face_shows(before, after, face);
        }
        return visible;
    }

    fs::path folder_;
    cv::Mat picture_;
};

TEST_F(VideoTool, HidesTheFacesInEveryFormatAndCopiesTheAudio) {
    for (const char* format :
         {"yuv420p", "yuyv422", "bgr24", "yuv422p", "rgb24", "yuv420p10le", "vuya"}) {
        const std::string input = clip(format);
        const std::string output = path(std::string("output-") + format + ".mkv");
        // The common camera format covered with orange instead.
        const bool solid = std::string(format) == "yuyv422";
        const test::CommandRun run = run_tool(
            (solid ? "--obscure_mode 2 --solid_colour '#FF8000' " : "") + input + " " + output);
        ASSERT_EQ(run.exit_code, 0) << run.output;
        EXPECT_NE(run.output.find("veilcam-video: 12 frames, 3 faces tracked"), std::string::npos)
            << run.output;

        const test::ClipInfo before = test::read_clip(input, 1);
        const test::ClipInfo after = test::read_clip(output, 1);
        EXPECT_EQ(after.video_codec, "h264");
        EXPECT_EQ(after.video_frames, 12);
        EXPECT_EQ(faces_left_visible(before.frame, after.frame), 0) << format;
        if (solid) {
            const cv::Scalar bgr = cv::mean(after.frame(test::labelled_photos()[3].faces[0]));
            EXPECT_LT(cv::norm(bgr - cv::Scalar(0, 128, 255)), 12.0) << bgr;
        }
        EXPECT_NE(before.audio_md5, "");
        EXPECT_EQ(after.audio_md5, before.audio_md5) << "audio is copied unchanged";
    }
}

TEST_F(VideoTool, CollateralToolMeasuresWhatHidingCostAndWhichFacesItLetThrough) {
    const std::string still = path("still.nut");
    test::make_clip(still, {picture_}, "yuv420p", 6, false);
    ASSERT_EQ(run_tool(still + " " + path("still.mkv")).exit_code, 0);
    const std::string measure = std::string(VEILCAM_COLLATERAL_TOOL) + " " + still + " ";
    const std::string itself = test::run_checked(measure + still);
    EXPECT_NE(itself.find("faces on the original: 18, found again on the copy: 18\nchanged "
                          "away from the faces: mean 0.0 %"),
              std::string::npos)
        << itself;
    const std::string hidden = test::run_checked(measure + path("still.mkv"));
    EXPECT_NE(hidden.find("faces on the original: 18, found again on the copy: 0\n"),
              std::string::npos)
        << hidden;
    EXPECT_NE(hidden.find("frames with over a third of the picture changed: 0"), std::string::npos)
        << hidden;
}

TEST_F(VideoTool, IdsFromAnEarlierRunNameTheSameFaces) {
    // The first run (every face hidden) numbers the three faces 1 to 3.
    const std::string input = clip("yuv420p", false);
    const test::ClipInfo before = test::read_clip(input, 1);
    for (const auto& [mode, shown] : {std::pair(0, 3), std::pair(1, 0)}) {
        const std::string output = path("listed-" + std::to_string(mode) + ".mkv");
        const test::CommandRun run = run_tool("--face_selection_mode " + std::to_string(mode) +
                                              " --excluded_face_ids 1,2,3 " + input + " " + output);
        ASSERT_EQ(run.exit_code, 0) << run.output;
        EXPECT_EQ(faces_left_visible(before.frame, test::read_clip(output, 1).frame), shown)
            << "mode " << mode;
    }
}

TEST_F(VideoTool, PhotosOfAFaceNameWhoIsShownOrHidden) {
    // The photo: the first face of the clip's picture turned, enlarged and
    // stored as a rough JPEG, as another photo of the same man would differ.
    const test::LabelledPhoto& photo = test::labelled_photos()[3];
    const cv::Rect face = photo.faces[0];
    cv::Mat turned;
    cv::warpAffine(photo.image(face + cv::Size(80, 80) - cv::Point(40, 40)), turned,
                   cv::getRotationMatrix2D({78, 78}, 8, 1.3), {156, 156}, cv::INTER_LINEAR,
                   cv::BORDER_REPLICATE);
    ASSERT_TRUE(cv::imwrite(path("him.jpg"), turned, {cv::IMWRITE_JPEG_QUALITY, 60}));
    ASSERT_TRUE(cv::imwrite(path("three.png"), photo.image));
    ASSERT_TRUE(cv::imwrite(path("wall.png"), cv::Mat(120, 120, CV_8UC3, cv::Scalar(60, 90, 120))));
    const std::string input = clip("yuv420p", false);
    const cv::Mat before = test::read_clip(input, 11).frame;
    for (const auto& [option, him_shown, others_shown] :
         {std::tuple("--visible-face", true, false), std::tuple("--hidden-face", false, true)}) {
        const std::string output = path(std::string(option + 2) + ".mkv");
        const test::CommandRun run =
            run_tool(std::string(option) + " " + path("him.jpg") + " " + input + " " + output);
        ASSERT_EQ(run.exit_code, 0) << run.output;
        const cv::Mat after = test::read_clip(output, 11).frame;
        for (size_t i = 0; i < photo.faces.size(); ++i) {
            const bool shown = test::face_shows(before, after, photo.faces[i]);
            EXPECT_EQ(shown, i == 0 ? him_shown : others_shown) << option << ", face " << i;
        }
    }
    const std::pair<std::string, std::string> refused[] = {
        {"--visible-face " + path("three.png"), "more than one face"},
        {"--hidden-face " + path("wall.png"), "no face was found in the photo"},
        {"--hidden-face " + path("none.jpg"), "cannot read the photo " + path("none.jpg")},
        {"--visible-face " + path("him.jpg") + " --hidden-face " + path("him.jpg"),
         "cannot be mixed"},
    };
    for (const auto& [arguments, message] : refused) {
        const test::CommandRun run = run_tool(arguments + " " + input + " " + path("no.mkv"));
        EXPECT_NE(run.exit_code, 0) << arguments;
        EXPECT_NE(run.output.find(message), std::string::npos) << run.output;
        EXPECT_FALSE(fs::exists(path("no.mkv"))) << arguments;
    }
}

TEST_F(VideoTool, SkipsDamagedPacketsAndFailsOnlyWhenNothingDecodes) {
    test::run_checked("ffmpeg -v error -i " + clip("yuv420p", false) + " -c:v mjpeg -q:v 3 " +
                      path("motion.nut"));
    // Each packet is one JPEG picture: break the headers of the third, or of all.
    std::ifstream in(path("motion.nut"), std::ios::binary);
    const std::string clean(std::istreambuf_iterator<char>(in), {});
    auto damaged = [&](size_t first, size_t last, const std::string& name) {
        std::string bytes = clean;
        size_t at = 0;
        for (size_t picture = 0; (at = bytes.find("\xFF\xD8\xFF", at + 1)) != std::string::npos;
             ++picture) {
            if (picture >= first && picture <= last) {
                std::fill_n(bytes.begin() + static_cast<long>(at), 600, '\0');
            }
        }
        std::ofstream(path(name), std::ios::binary) << bytes;
        return path(name);
    };
    const test::CommandRun one = run_tool(damaged(2, 2, "one.nut") + " " + path("one.mkv"));
    ASSERT_EQ(one.exit_code, 0) << one.output;
    EXPECT_NE(one.output.find("1 damaged video packets skipped"), std::string::npos) << one.output;
    EXPECT_EQ(test::read_clip(path("one.mkv")).video_frames, 11);

    const test::CommandRun all = run_tool(damaged(0, 99, "all.nut") + " " + path("all.mkv"));
    EXPECT_EQ(all.exit_code, 1) << all.output;
    EXPECT_NE(all.output.find("could be decoded"), std::string::npos) << all.output;
    EXPECT_FALSE(fs::exists(path("all.mkv")));
}

TEST_F(VideoTool, RefusesWhatItCannotDoAndSaysWhy) {
    const std::string input = clip("yuv420p", false);
    std::ofstream(path("existing.mkv")) << "keep me";
    const std::string long_clip = "--still " + path("s.png") + " --still-at 5 " + input + " ";
    // Matroska states the clip's length to its end: 12 frames, 0.4 s.
    const std::string matroska = path("input.mkv");
    test::run_checked("ffmpeg -v error -i " + input + " -c copy " + matroska);
    struct Case {
        std::string arguments;
        int exit_code;
        std::string message;
    };
    const Case cases[] = {
        {path("missing.mkv") + " " + path("a.mkv"), 1, "cannot open " + path("missing.mkv")},
        {input + " " + path("existing.mkv"), 1, "existing.mkv exists; give --overwrite"},
        {"--overwrite " + input + " " + folder_.string() + "/../" + folder_.filename().string() +
             "/input-yuv420p.nut",
         1, "refusing to write over the input"},
        {"--model_path /nonexistent/yunet.onnx " + input + " " + path("b.mkv"), 1,
         "missing model /nonexistent/yunet.onnx"},
        {input, 2, "give an input and an output file"},
        {"--solid_colour orange " + input + " " + path("c.mkv"), 2,
         "--solid_colour takes a colour as #RRGGBB, not 'orange'"},
        {long_clip + path("f.mkv"), 1, "the still at 5 s is past the end of the clip"},
        // Checked before a frame is decoded: no frame starts where the clip ends.
        {"--still-at 0.4 --still " + path("s.png") + " " + matroska + " " + path("g.mkv"), 1,
         "past the end of the clip (0.4 s)"},
        {"--still " + path("s.mkv") + " " + input + " " + path("h.mkv"), 1,
         "cannot write the still " + path("s.mkv") + " as a picture"},
        {"--still " + folder_.string() + "/./j.mkv " + input + " " + path("j.mkv"), 1,
         "the still and the output are both"},
        {input + " " + path("o6"), 1, "cannot choose an output format for " + path("o6") + " "},
        {"--still " + path("existing.mkv") + " " + input + " " + path("i.mkv"), 1,
         "existing.mkv exists; give --overwrite"},
        // A file that is no model: no face could be looked for, so no output.
        {"--model_path " + path("existing.mkv") + " " + input + " " + path("k.mkv"), 1,
         "faces could not be detected on frame 0"},
    };
    for (const Case& c : cases) {
        const test::CommandRun run = run_tool(c.arguments);
        EXPECT_EQ(run.exit_code, c.exit_code) << c.arguments << "\n" << run.output;
        EXPECT_NE(run.output.find(c.message), std::string::npos) << run.output;
    }
    std::ifstream kept(path("existing.mkv"));
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(kept), {}), "keep me");
    EXPECT_EQ(test::read_clip(input).video_frames, 12) << "the input is untouched";
    // Nothing but the files the test made.
    for (const auto& entry : fs::directory_iterator(folder_)) {
        const std::string name = entry.path().filename().string();
        EXPECT_TRUE(name == "existing.mkv" || entry.path() == input || entry.path() == matroska)
            << name;
    }
}

TEST_F(VideoTool, TurnsPhoneClipsUprightBothWaysAndKeepsTheirTiming) {
    // As phones record: stored sideways, six frames at 30 fps then six at 5,
    // with sound to the end.
    for (const auto& [display_rotation, stored] :
         {std::pair{90, cv::ROTATE_90_CLOCKWISE}, {-90, cv::ROTATE_90_COUNTERCLOCKWISE}}) {
        cv::Mat sideways;
        cv::rotate(picture_, sideways, stored);
        const std::string name = path("phone" + std::to_string(display_rotation));
        test::make_clip(name + ".nut", {sideways}, "uyvy422", 12, false);
        test::run_checked("ffmpeg -v error -i " + name +
                          ".nut -f lavfi -t 1.2333 -i sine=sample_rate=48000 -vf "
                          "'setpts=if(lt(N\\,6)\\,N/30\\,0.2+(N-6)/5)/TB' -fps_mode "
                          "passthrough -c:v rawvideo -c:a pcm_s16le " +
                          name + "-timed.nut && ffmpeg -v error -display_rotation " +
                          std::to_string(display_rotation) + " -i " + name + "-timed.nut -c copy " +
                          name + ".mov");
        const test::CommandRun run = run_tool(name + ".mov " + name + ".mkv");
        ASSERT_EQ(run.exit_code, 0) << run.output;
        const test::ClipInfo before = test::read_clip(name + ".mov"),
                             after = test::read_clip(name + ".mkv");
        ASSERT_EQ(after.frame.size(), picture_.size()) << display_rotation;
        // The grey border on the right, where it was, and the faces hidden.
        EXPECT_NEAR(cv::mean(after.frame(cv::Rect(520, 0, 120, 360)))[0], 60, 4);
        EXPECT_EQ(faces_left_visible(picture_, after.frame), 0) << display_rotation;
        ASSERT_NEAR(before.video_end, 1.2333, 0.002);
        EXPECT_NEAR(after.video_end, before.video_end, 1 / 30.0);
        EXPECT_NEAR(after.audio_end, after.video_end, 0.05);
    }
}

TEST_F(VideoTool, ABatchTakesFreeNamesAndClearsOnlyItsOwnStaleFiles) {
    for (const char* folder : {"a", "b", "out"}) {
        fs::create_directories(path(folder));
    }
    const std::string input = clip("yuv420p", false);
    fs::copy_file(input, path("a/talk.nut"));
    fs::copy_file(input, path("b/talk.nut"));
    std::ofstream(path("out/talk.mkv")) << "keep me";
    const auto two_days_ago = fs::file_time_type::clock::now() - std::chrono::hours(48);
    // Left by a killed run that was writing talk-2.mkv, and look-alikes.
    for (const char* name :
         {"talk-2.veilcam-Ab12Cd.mkv", "talk-2.veilcam-Fresh1.mkv", "walk-2.veilcam-Ab12Cd.mkv"}) {
        std::ofstream(path(std::string("out/") + name)) << "left by a killed run";
        if (std::string(name) != "talk-2.veilcam-Fresh1.mkv") {
            fs::last_write_time(path(std::string("out/") + name), two_days_ago);
        }
    }
    const test::CommandRun run =
        run_tool(path("a/talk.nut") + " " + path("b/talk.nut") + " --output-dir " + path("out"));
    ASSERT_EQ(run.exit_code, 0) << run.output;
    EXPECT_NE(run.output.find("removed " + path("out/talk-2.veilcam-Ab12Cd.mkv")),
              std::string::npos)
        << run.output;
    std::set<std::string> names;
    for (const auto& entry : fs::directory_iterator(path("out"))) {
        names.insert(entry.path().filename().string());
    }
    EXPECT_EQ(names,
              (std::set<std::string>{"talk.mkv", "talk-2.mkv", "talk-3.mkv",
                                     "talk-2.veilcam-Fresh1.mkv", "walk-2.veilcam-Ab12Cd.mkv"}));
    std::ifstream kept(path("out/talk.mkv"));
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(kept), {}), "keep me");
}

TEST_F(VideoTool, AStopSignalEndsTheRunCleanlyEvenWhileTheInputBlocks) {
    // Half a clip, then a writer that goes quiet: the tool waits in its read.
    // The writer signals once the tool has read its part (a FIFO holds 64 KiB
    // of it at most), so the handlers, set before the input is opened, are in
    // place by then.
    const std::string input = clip("yuv420p", false), live = path("live.nut"),
                      pid = path("tool.pid");
    ASSERT_EQ(::mkfifo(live.c_str(), 0600), 0);
    for (const auto& [name, number] : {std::pair{"INT", 2}, {"TERM", 15}, {"HUP", 1}}) {
        const test::CommandRun run =
            test::run_command("{ head -c 2000000 " + input + "; kill -s " + name + " $(cat " + pid +
                              "); exec sleep 30; } >" + live +
                              " 2>/dev/null & timeout -k 5 --preserve-status 20 sh -c 'echo $$ >" +
                              pid + "; exec " + VEILCAM_VIDEO_TOOL + " --quiet " + live + " " +
                              path("out.mkv") + "' 2>&1; status=$?; kill $!; exit $status");
        EXPECT_EQ(run.exit_code, 128 + number) << run.output;
        EXPECT_NE(run.output.find("stopped by signal"), std::string::npos) << run.output;
        EXPECT_EQ(std::distance(fs::directory_iterator(folder_), {}), 3) << "nothing left behind";
    }
}

} // namespace
} // namespace veilcam
