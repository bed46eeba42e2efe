#include "settings/device_choice.hpp"
#include "settings/filter_settings.hpp"
#include "settings/settings_schema.hpp"
#include "support/frames.hpp"
#include "support/log_capture.hpp"
#include "support/samples.hpp"
#include "support/test_filter.hpp"

#include <gtest/gtest.h>
#include <opencv2/core/utility.hpp>

#include <atomic>
#include <cmath>
#include <functional>
#include <memory>
#include <thread>

namespace veilcam {
namespace {

using Data = std::unique_ptr<obs_data_t, void (*)(obs_data_t*)>;

// What the host hands `update`: the defaults under the stored values.
FilterSettings read_with(const std::function<void(obs_data_t*)>& store) {
    Data data(obs_data_create(), obs_data_release);
    set_setting_defaults(data.get());
    store(data.get());
    return read_filter_settings(data.get());
}

TEST(Settings, DefaultsAndBoundsAsReadFromAStoredSettingsObject) {
    const FilterSettings defaults = read_with([](obs_data_t*) {});
    EXPECT_EQ(defaults.blur_radius, 71) << "stored 70, made odd";
    EXPECT_EQ(defaults.confidence, 0.5f);
    EXPECT_EQ(defaults.tracking_device, "cpu-ort") << "the same faces as 'cpu', in half the time";
    EXPECT_EQ(read_with([](obs_data_t* d) {
                  obs_data_set_string(d, "tracking_device", "cpu");
              }).tracking_device,
              "cpu")
        << "a filter saved with 'cpu' keeps it";

    struct IntCase {
        const char* key;
        long long stored;
        int32_t FilterSettings::*field;
        int32_t expected;
    };
    const IntCase int_cases[] = {
        {"blur_radius", 4, &FilterSettings::blur_radius, 5},
        {"blur_radius", 2, &FilterSettings::blur_radius, 3},
        {"detection_max_dimension", 100, &FilterSettings::detection_max_dimension, 320},
        {"detection_max_dimension", 5000, &FilterSettings::detection_max_dimension, 1280},
        {"minimum_face_size", 5, &FilterSettings::minimum_face_size, 12},
        // Past the panel's range, a number from a scene file stops nothing.
        {"minimum_face_size", 100000, &FilterSettings::minimum_face_size, 300},
        {"detection_interval", 2147483647, &FilterSettings::detection_interval, 15},
        // Integers are stored as 64 bits; only the low 32 count.
        {"pixel_size", (1LL << 32) + 40, &FilterSettings::pixel_size, 40},
        {"obscure_mode", 3, &FilterSettings::obscure_mode, 0},
        {"obscure_mode", -1, &FilterSettings::obscure_mode, 0},
    };
    for (const IntCase& c : int_cases) {
        EXPECT_EQ(read_with([&](obs_data_t* d) { obs_data_set_int(d, c.key, c.stored); }).*c.field,
                  c.expected)
            << c.key << " = " << c.stored;
    }
    // A choice that is none of its own is the default, which hides more, not
    // the nearest choice.
    EXPECT_EQ(read_with([](obs_data_t* d) {
                  obs_data_set_int(d, "face_selection_mode", 2);
              }).selection.mode,
              0);
    // Numbers no panel gives: NaN takes the default, the rest the nearest bound.
    struct FloatCase {
        const char* key;
        double stored;
        float FilterSettings::*field;
        float expected;
    };
    const FloatCase float_cases[] = {
        {"padding_percent", NAN, &FilterSettings::padding_percent, 35.0f},
        {"padding_percent", INFINITY, &FilterSettings::padding_percent, 100.0f},
        {"padding_percent", -50, &FilterSettings::padding_percent, 0.0f},
        {"smoothing", NAN, &FilterSettings::smoothing, 0.72f},
        {"smoothing", 1e300, &FilterSettings::smoothing, 0.98f},
    };
    for (const FloatCase& c : float_cases) {
        EXPECT_EQ(read_with([&](obs_data_t* d) { obs_data_set_double(d, c.key, c.stored); }).*
                      c.field,
                  c.expected)
            << c.key << " = " << c.stored;
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
        {true, 1280, 0.3, 1280, 0.3f}, {false, 640, NAN, 640, 0.5f},   {true, 100, NAN, 960, 0.42f},
    };
    for (const CrowdCase& c : crowd_cases) {
        const FilterSettings s = read_with([&](obs_data_t* d) {
            obs_data_set_bool(d, "crowd_mode", c.crowd);
            obs_data_set_int(d, "detection_max_dimension", c.dimension);
            obs_data_set_double(d, "confidence", c.confidence);
        });
        EXPECT_EQ(s.detection_max_dimension, c.expected_dimension) << c.confidence;
        EXPECT_EQ(s.confidence, c.expected_confidence) << c.confidence;
    }
}

TEST(Settings, DeviceChoicesAreNormalisedAndOnlyDmlWithAnInt32IsAGpu) {
    // clang-format off
    const std::pair<const char*, const char*> stored[] = {
        {"", "cpu"}, {"opencl:0:1", "dml:1"}, {"opencl::3", "dml:3"}, {"opencl:1", "opencl:1"},
        {"OpenCL:0:1", "OpenCL:0:1"}, {"opencl:2:3:4", "dml:3:4"}};
    // clang-format on
    for (const auto& [text, expected] : stored) {
        EXPECT_EQ(normalize_tracking_device(text), expected) << text;
    }
    const std::optional<int32_t> none;
    // clang-format off
    const std::pair<const char*, std::optional<int32_t>> devices[] = {
        {"dml:0", 0}, {"dml:007", 7}, {"dml:2147483647", 2147483647}, {"dml:", none},
        {"dml:1x", none}, {"dml:-1", none}, {"dml:+1", none}, {"DML:0", none},
        {"dml:2147483648", none}, {"cpu", none}};
    // clang-format on
    for (const auto& [device, index] : devices) {
        EXPECT_EQ(parse_dml_device_index(device), index) << device;
    }
}

// What a settings change does to a running filter, read from the log: a
// rebuilt detector says it is ready again, a fresh GPU attempt warns again.
TEST(SettingsUpdate, OnlyADeviceOrModelChangeRebuildsTheDetectorAndOnlyADeviceRetriesTheGpu) {
    test::LogCapture log;
    test::TestFilter filter([](obs_data_t* s) { obs_data_set_int(s, "detection_interval", 1); });
    const test::TestFrame frame =
        test::make_frame(test::load_sample("2008_001322.jpg"), VIDEO_FORMAT_BGR3);
    const std::string model = VEILCAM_MODELS_DIR "/./face_detection_yunet_2023mar.onnx";
    struct Step {
        const char* key;
        std::string text; // else the number
        double number;
        int ready_lines, gpu_warnings;
    };
    // clang-format off
    const Step steps[] = {
        {"excluded_face_ids", "", 0, 1, 0}, {"confidence", "", 0.9, 1, 0},
        {"max_faces", "", 3, 1, 0},         {"tracking_device", "dml:0", 0, 2, 1},
        {"model_path", model, 0, 3, 1},     {"tracking_device", "dml:0", 0, 3, 1},
        {"tracking_device", "dml:1", 0, 4, 2},
    };
    // clang-format on
    for (const Step& step : steps) {
        filter.update([&](obs_data_t* s) {
            if (step.number != 0) {
                obs_data_set_double(s, step.key, step.number);
            } else {
                obs_data_set_string(s, step.key, step.text.c_str());
            }
        });
        test::TestFrame copy = frame;
        filter.run(copy);
        EXPECT_EQ(log.count("[veilcam] YuNet detector ready on ", LOG_INFO), step.ready_lines)
            << step.key << " " << step.text << step.number;
        EXPECT_EQ(log.count("[veilcam] DirectML GPU 'dml:", LOG_WARNING), step.gpu_warnings)
            << step.key << " " << step.text;
        EXPECT_FALSE(filter.instance().tracker.tracks().empty()) << step.key;
    }
}

// The host calls update on its settings thread while frames flow on the video
// thread; run under ThreadSanitizer by the test command.
TEST(Concurrency, SettingsChangeWhileFramesFlow) {
    // OpenCV's own worker threads are not what this test is about.
    cv::setNumThreads(0);
    test::TestFilter filter([](obs_data_t* s) { obs_data_set_int(s, "detection_interval", 3); });
    const test::TestFrame original =
        test::make_frame(test::labelled_photos()[3].image, VIDEO_FORMAT_NV12);

    std::atomic<bool> done{false};
    std::atomic<int> updates{0};
    std::thread settings_thread([&] {
        for (int i = 0; !done; i = ++updates) {
            filter.update([&](obs_data_t* s) {
                obs_data_set_int(s, "pixel_size", 8 + i % 20);
                obs_data_set_int(s, "obscure_mode", i % 2);
                obs_data_set_bool(s, "show_boxes", i % 3 == 0);
                obs_data_set_string(s, "excluded_face_ids", i % 4 == 0 ? "1, 2" : "");
                obs_data_set_double(s, "confidence", 0.4 + (i % 5) * 0.1);
                obs_data_set_int(s, "detection_max_dimension", i % 2 ? 320 : 640);
                // Every eighth change of model path rebuilds the detector.
                obs_data_set_string(s, "model_path", i % 8 < 4 ? test::yunet_model().c_str() : "");
            });
        }
    });

    // Whatever settings a frame meets, at most the two listed faces show.
    const std::vector<cv::Rect>& faces = test::labelled_photos()[3].faces;
    for (int i = 0; i < 60; ++i) {
        test::TestFrame frame = original;
        filter.run(frame);
        EXPECT_LE(test::faces_left_visible(original, frame, faces), 2) << "frame " << i;
    }
    done = true;
    settings_thread.join();
    EXPECT_GT(updates, 0) << "the two threads never overlapped";
}

} // namespace
} // namespace veilcam
