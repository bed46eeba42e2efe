// The SCRFD detector on the real runtime (loaded from beside this program)
// with ONNX Runtime's CPU provider, and the GPU fall-back of a running filter.
#include "detection/detection_pass.hpp"
#include "detection/yunet_opencv.hpp"
#include "ort/scrfd_detector.hpp"
#include "support/frames.hpp"
#include "support/log_capture.hpp"
#include "support/samples.hpp"
#include "support/test_filter.hpp"

#include <gtest/gtest.h>
#include <opencv2/imgproc.hpp>

#include <algorithm>

namespace veilcam {
namespace {

// The labelled faces, with the key points YuNet puts on them (another
// network, trained apart): mostly within a tenth of the face.
TEST(ScrfdDetector, FindsTheLabelledFacesOfTheSamplePhotosAndTheirKeyPoints) {
    ScrfdDetector detector(test::scrfd_any_size_model(), 0, OrtProvider::Cpu);
    YunetOpencvDetector yunet(test::yunet_model(), 0.5f);
    int found = 0;
    std::vector<double> misses; // in face widths
    for (const test::LabelledPhoto& photo : test::labelled_photos()) {
        const std::vector<FoundFace>& scrfd_faces = detector.detect(photo.image, 0.5f, 20);
        std::vector<cv::Rect> boxes;
        for (const FoundFace& face : scrfd_faces) {
            boxes.emplace_back(face.box);
            for (const FoundFace& other : yunet.detect(photo.image, 0.5f, 20)) {
                if ((face.box & other.box).area() < 0.5f * face.box.area()) {
                    continue;
                }
                for (size_t k = 0; k < face.points.size(); ++k) {
                    misses.push_back(cv::norm(face.points[k] - other.points[k]) / face.box.width);
                }
            }
        }
        found += test::labels_found(photo.faces, boxes);
    }
    EXPECT_GE(found, 16);
    ASSERT_GE(misses.size(), 80u);
    std::sort(misses.begin(), misses.end());
    EXPECT_LT(misses[misses.size() / 2], 0.1);
    EXPECT_LT(misses[misses.size() * 9 / 10], 0.25);
}

// Every way a chosen detector can fail is said once and hands over to YuNet
// on OpenCV, which hides the faces from the next pass on.
TEST(GpuFallback, EachFailureIsSaidOnceAndYunetTakesOver) {
    struct Case {
        const char* device;
        bool inference_fails;
        std::string warning;
    };
    const Case cases[] = {
        {"dml:0", false,
         "[veilcam] DirectML GPU 'dml:0' failed (Missing ONNX Runtime export: "
         "OrtSessionOptionsAppendExecutionProvider_DML); using YuNet CPU fallback"},
        {"dml:x", false,
         "[veilcam] DirectML GPU 'dml:x' or bundled SCRFD model is unavailable; using YuNet CPU "
         "fallback"},
        // A session whose outputs are not the size SCRFD's are fails in the
        // runtime (the 500 x 374 picture makes a 512 x 384 input on the CPU).
        {"dml:0", true, "[veilcam] GPU inference failed (Got invalid dimensions for output: out0"},
        {"cpu-scrfd", true,
         "[veilcam] Inference on ONNX Runtime failed (Got invalid dimensions for output: out0"},
        // The SCRFD model stands in for YuNet's: it has no open input size.
        {"cpu-ort", false,
         "[veilcam] Detector 'cpu-ort' on ONNX Runtime cannot start (the YuNet model with an "
         "open input size is needed (face_detection_yunet_2023mar_any_size.onnx)); using YuNet "
         "on OpenCV"},
    };
    const test::TestFrame original =
        test::make_frame(test::load_sample("2008_001322.jpg"), VIDEO_FORMAT_NV12);
    for (const Case& c : cases) {
        test::LogCapture log;
        test::TestFilter filter([&](obs_data_t* s) {
            obs_data_set_string(s, "tracking_device", c.device);
            obs_data_set_int(s, "detection_interval", 1);
        });
        FilterInstance& f = filter.instance();
        f.detector_choice.bundled["models/face_detection_yunet_2023mar_any_size.onnx"] =
            test::scrfd_model();
        if (c.inference_fails) {
            f.detector.model = std::make_unique<ScrfdDetector>(
                VEILCAM_TEST_MODELS_DIR "/nine_outputs.onnx", 0, OrtProvider::Cpu);
            f.detector.active_device = c.device;
        }
        for (int pass = 0; pass < 3; ++pass) {
            test::TestFrame frame = original;
            filter.run(frame);
            EXPECT_NE(frame.storage[0], original.storage[0]) << c.warning << ", pass " << pass;
        }
        EXPECT_EQ(log.count(c.warning, LOG_WARNING), 1);
        EXPECT_EQ(log.count("[veilcam]", LOG_WARNING) -
                      log.count("[veilcam] Starting the detector on ", LOG_WARNING),
                  1)
            << c.warning;
        EXPECT_EQ(log.count("[veilcam] YuNet detector ready on CPU: " + test::yunet_model()), 1);
    }
}

} // namespace
} // namespace veilcam
