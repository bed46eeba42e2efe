#include "filter/filter_callbacks.hpp"
#include "settings/keys.hpp"
#include "support/frames.hpp"
#include "support/log_capture.hpp"
#include "support/samples.hpp"
#include "support/test_filter.hpp"

#include <gtest/gtest.h>

namespace veilcam {
namespace {

using test::TestFilter;

TEST(Settings, UntouchedSettingsGiveTheDocumentedFilter) {
    TestFilter filter;
    const FilterInstance& f = filter.instance();
    EXPECT_TRUE(f.enabled);
    EXPECT_EQ(f.obscure_mode, 0);
    EXPECT_EQ(f.pixel_size, 20);
    EXPECT_EQ(f.blur_radius, 71);
    EXPECT_FALSE(f.show_boxes);
    EXPECT_EQ(f.face_selection_mode, 0);
    EXPECT_TRUE(f.face_ids.empty());
    EXPECT_EQ(f.tracking_device, "cpu");
    EXPECT_TRUE(f.mirrored_profile_pass);
    EXPECT_FALSE(f.crowd_mode);
    EXPECT_EQ(f.detection_max_dimension, 640);
    EXPECT_EQ(f.confidence, 0.5f);
    EXPECT_EQ(f.detection_interval, 2);
    EXPECT_EQ(f.minimum_face_size, 20);
    EXPECT_EQ(f.max_faces, 20);
    EXPECT_EQ(f.hold_frames, 24);
    EXPECT_EQ(f.tracker.hold_frames(), 24);
    EXPECT_EQ(f.padding_percent, 35.0f);
    EXPECT_EQ(f.smoothing, 0.72f);
    EXPECT_EQ(f.model_path, test::yunet_model());
    EXPECT_FALSE(f.yunet) << "no detector before the first detection frame";
    EXPECT_FALSE(f.detector_ready);
}

TEST(Settings, BoundsAreAppliedToStoredValues) {
    struct IntCase {
        const char* key;
        long long stored;
        int32_t FilterInstance::*member;
        int32_t expected;
    };
    const IntCase int_cases[] = {
        {"blur_radius", 4, &FilterInstance::blur_radius, 5},
        {"blur_radius", 2, &FilterInstance::blur_radius, 3},
        {"blur_radius", 151, &FilterInstance::blur_radius, 151},
        {"blur_radius", 152, &FilterInstance::blur_radius, 153},
        {"detection_max_dimension", 100, &FilterInstance::detection_max_dimension, 320},
        {"detection_max_dimension", 5000, &FilterInstance::detection_max_dimension, 1280},
        {"pixel_size", 0, &FilterInstance::pixel_size, 2},
        {"pixel_size", -7, &FilterInstance::pixel_size, 2},
        {"detection_interval", 0, &FilterInstance::detection_interval, 1},
        {"hold_frames", -5, &FilterInstance::hold_frames, 0},
        {"max_faces", 0, &FilterInstance::max_faces, 1},
        {"minimum_face_size", 5, &FilterInstance::minimum_face_size, 12},
        {"max_faces", (1LL << 32) + 1, &FilterInstance::max_faces, 1},
        {"pixel_size", (1LL << 32) + 40, &FilterInstance::pixel_size, 40},
        {"obscure_mode", 7, &FilterInstance::obscure_mode, 7},
    };
    for (const IntCase& c : int_cases) {
        TestFilter filter([&](obs_data_t* s) { obs_data_set_int(s, c.key, c.stored); });
        EXPECT_EQ(filter.instance().*c.member, c.expected) << c.key << " = " << c.stored;
    }

    struct CrowdCase {
        bool crowd;
        long long dimension;
        double confidence;
        int32_t expected_dimension;
        float expected_confidence;
    };
    const CrowdCase crowd_cases[] = {
        {false, 640, 0.1, 640, 0.25f}, {false, 640, 0.99, 640, 0.95f}, {true, 640, 0.5, 960, 0.42f},
        {true, 1280, 0.3, 1280, 0.3f}, {true, 100, 0.99, 960, 0.42f},
    };
    for (const CrowdCase& c : crowd_cases) {
        TestFilter filter([&](obs_data_t* s) {
            obs_data_set_bool(s, "crowd_mode", c.crowd);
            obs_data_set_int(s, "detection_max_dimension", c.dimension);
            obs_data_set_double(s, "confidence", c.confidence);
        });
        EXPECT_EQ(filter.instance().detection_max_dimension, c.expected_dimension);
        EXPECT_EQ(filter.instance().confidence, c.expected_confidence);
    }
}

TEST(Settings, SmoothingIsKeptAsStoredWhileTheTrackerClampsItsCopy) {
    const std::tuple<double, float, float> cases[] = {{1.5, 1.5f, 0.98f}, {-1.0, -1.0f, 0.0f}};
    for (const auto& [stored, member, tracker] : cases) {
        TestFilter filter([&](obs_data_t* s) { obs_data_set_double(s, "smoothing", stored); });
        EXPECT_EQ(filter.instance().smoothing, member);
        EXPECT_EQ(filter.instance().tracker.smoothing(), tracker);
        EXPECT_EQ(filter.instance().tracker.match_threshold(), 0.12f);
    }
}

TEST(Settings, EmptyOrLegacyDeviceIsNormalised) {
    TestFilter empty([](obs_data_t* s) { obs_data_set_string(s, "tracking_device", ""); });
    EXPECT_EQ(empty.instance().tracking_device, "cpu");
    TestFilter legacy(
        [](obs_data_t* s) { obs_data_set_string(s, "tracking_device", "opencl:0:1"); });
    EXPECT_EQ(legacy.instance().tracking_device, "dml:1");
}

class SettingsWithDetector : public ::testing::Test {
  protected:
    // Builds the detector by running one detection frame.
    void SetUp() override {
        frame_ = test::make_frame(test::load_sample("2008_001322.jpg"), VIDEO_FORMAT_BGR3);
        filter_.run(frame_);
        ASSERT_TRUE(filter_.instance().yunet);
    }

    TestFilter filter_;
    test::TestFrame frame_;
};

TEST_F(SettingsWithDetector, ConfidenceAloneKeepsTheDetectorAndRetunesIt) {
    const cv::FaceDetectorYN* before = filter_.instance().yunet.get();
    filter_.update([](obs_data_t* s) {
        obs_data_set_double(s, "confidence", 0.9);
        obs_data_set_int(s, "max_faces", 3);
    });
    EXPECT_EQ(filter_.instance().yunet.get(), before);
    EXPECT_TRUE(filter_.instance().ready_logged);
    EXPECT_TRUE(filter_.instance().first_detection_logged);
    EXPECT_FALSE(filter_.instance().tracker.tracks().empty());
}

TEST_F(SettingsWithDetector, AnUnchangedUpdateKeepsDetectorTracksAndLogFlags) {
    const cv::FaceDetectorYN* before = filter_.instance().yunet.get();
    const size_t tracks = filter_.instance().tracker.tracks().size();
    filter_.update([](obs_data_t*) {});
    EXPECT_EQ(filter_.instance().yunet.get(), before);
    EXPECT_EQ(filter_.instance().tracker.tracks().size(), tracks);
    EXPECT_TRUE(filter_.instance().first_detection_logged);
}

TEST_F(SettingsWithDetector, DeviceOrModelChangeDropsTheDetectorButNotTheTracks) {
    const size_t tracks = filter_.instance().tracker.tracks().size();
    const test::SettingsEdit edits[] = {
        [](obs_data_t* s) { obs_data_set_string(s, "tracking_device", "dml:0"); },
        [](obs_data_t* s) { obs_data_set_string(s, "tracking_device", "cpu"); },
        [](obs_data_t* s) { obs_data_set_string(s, "model_path", ""); },
        [](obs_data_t* s) { obs_data_set_string(s, "model_path", test::yunet_model().c_str()); },
    };
    for (const auto& edit : edits) {
        filter_.instance().gpu_failed = true;
        filter_.run(frame_); // rebuilds the detector when the last edit dropped it
        filter_.update(edit);
        const FilterInstance& f = filter_.instance();
        EXPECT_FALSE(f.yunet);
        EXPECT_FALSE(f.detector_ready);
        EXPECT_FALSE(f.ready_logged);
        EXPECT_FALSE(f.first_detection_logged);
        EXPECT_EQ(f.active_device, "cpu");
        EXPECT_EQ(f.active_device_name, "CPU");
        EXPECT_EQ(f.tracker.tracks().size(), tracks);
    }
    // Only a device change clears the GPU latch.
    EXPECT_TRUE(filter_.instance().gpu_failed);
}

TEST_F(SettingsWithDetector, ChoosingTheSameDeviceAgainKeepsTheGpuLatch) {
    filter_.update([](obs_data_t* s) { obs_data_set_string(s, "tracking_device", "dml:0"); });
    EXPECT_FALSE(filter_.instance().gpu_failed);
    filter_.instance().gpu_failed = true;
    filter_.update([](obs_data_t* s) { obs_data_set_string(s, "tracking_device", "dml:0"); });
    EXPECT_TRUE(filter_.instance().gpu_failed);
}

TEST(SettingsLog, MissingModelIsReportedAtEveryDetectionPassUntilItAppears) {
    test::LogCapture log;
    TestFilter filter([](obs_data_t* s) {
        obs_data_set_string(s, "model_path", "/nonexistent/yunet.onnx");
        obs_data_set_int(s, "detection_interval", 1);
    });
    test::TestFrame frame =
        test::make_frame(test::load_sample("2008_001322.jpg"), VIDEO_FORMAT_BGR3);
    filter.run(frame);
    filter.run(frame);
    EXPECT_EQ(
        log.count("[veilcam] Bundled YuNet model is missing: /nonexistent/yunet.onnx", LOG_ERROR),
        2);
    EXPECT_TRUE(filter.instance().tracker.tracks().empty());

    filter.update(
        [](obs_data_t* s) { obs_data_set_string(s, "model_path", test::yunet_model().c_str()); });
    filter.run(frame);
    EXPECT_EQ(log.count("[veilcam] YuNet detector ready on CPU: " + test::yunet_model(), LOG_INFO),
              1);
    EXPECT_EQ(log.count("[veilcam] First face detection succeeded (3 face(s))", LOG_INFO), 1);
}

TEST(SettingsLog, ACorruptModelIsAYunetLoadFailure) {
    test::LogCapture log;
    TestFilter filter([](obs_data_t* s) {
        obs_data_set_string(s, "model_path", VEILCAM_SAMPLES_DIR "/faces.csv");
    });
    test::TestFrame frame =
        test::make_frame(test::load_sample("2008_001322.jpg"), VIDEO_FORMAT_BGR3);
    EXPECT_EQ(filter.run(frame), &frame.frame);
    EXPECT_EQ(log.count("[veilcam] YuNet CPU load failed: ", LOG_ERROR), 1);
    EXPECT_FALSE(filter.instance().detector_ready);
}

} // namespace
} // namespace veilcam
