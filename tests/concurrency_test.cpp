// The host calls update on its settings thread while frames flow on the video
// thread; run under ThreadSanitizer by the test command.
#include "support/frames.hpp"
#include "support/samples.hpp"
#include "support/test_filter.hpp"

#include <gtest/gtest.h>
#include <opencv2/core/utility.hpp>

#include <atomic>
#include <thread>

namespace veilcam {
namespace {

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

    for (int i = 0; i < 60; ++i) {
        test::TestFrame frame = original;
        filter.run(frame);
    }
    done = true;
    settings_thread.join();
    EXPECT_GT(updates, 0) << "the two threads never overlapped";
}

} // namespace
} // namespace veilcam
