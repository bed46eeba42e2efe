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

// How far the key points of `faces` lie from those YuNet puts on the same
// faces of `photo`, in face widths, appended to `misses`.
void key_point_misses(const std::vector<FaceDetection>& faces, const cv::Mat& photo,
                      std::vector<double>& misses) {
    YunetOpencvDetector yunet(test::yunet_model(), 0.5f);
    for (const FaceDetection& face : faces) {
        for (const FoundFace& other : yunet.detect(photo, 0.5f, 100)) {
            if ((face.box & cv::Rect(other.box)).area() >= 0.5 * face.box.area()) {
                for (size_t k = 0; k < face.points.size(); ++k) {
                    misses.push_back(cv::norm(face.points[k] - other.points[k]) / face.box.width);
                }
            }
        }
    }
}

// The labelled faces, with their key points where YuNet, another network
// trained apart, puts them on the picture itself (mostly within an eighth of
// the face): SCRFD's, and those of faces found in the mirror of a half-size
// copy or in the copy turned a quarter either way, taken back to the picture
// by the detection pass.
TEST(ScrfdDetector, FindsTheLabelledFacesAndTheirKeyPointsAsTheTurnedPassesDo) {
    ScrfdDetector detector(test::scrfd_any_size_model(), 0, OrtProvider::Cpu);
    YunetOpencvDetector yunet(test::yunet_model(), 0.5f);
    int found = 0;
    std::vector<double> scrfd_misses;
    // The mirrored look, on the photo itself; the turned looks, on the photo
    // rolled the other way, which they see upright. Turned with OpenCV's own
    // codes, and faces taken back to the photo by the test's own sums.
    struct Look {
        ViewTurn turn;
        int roll, turning; // OpenCV's codes; -1: none, and a mirror
        std::vector<double> misses;
    };
    Look looks[] = {
        {ViewTurn::mirrored, -1, -1, {}},
        {ViewTurn::clockwise, cv::ROTATE_90_COUNTERCLOCKWISE, cv::ROTATE_90_CLOCKWISE, {}},
        {ViewTurn::counter_clockwise, cv::ROTATE_90_CLOCKWISE, cv::ROTATE_90_COUNTERCLOCKWISE, {}}};
    for (const test::LabelledPhoto& photo : test::labelled_photos()) {
        std::vector<FaceDetection> scrfd;
        for (const FoundFace& face : detector.detect(photo.image, 0.5f, 20)) {
            add_detector_box(face, 1.0, {}, 12, scrfd);
        }
        std::vector<cv::Rect> boxes(scrfd.size());
        std::transform(scrfd.begin(), scrfd.end(), boxes.begin(), [](auto& f) { return f.box; });
        found += test::labels_found(photo.faces, boxes);
        key_point_misses(scrfd, photo.image, scrfd_misses);
        const float width = static_cast<float>(photo.image.cols);
        const float height = static_cast<float>(photo.image.rows);
        for (Look& look : looks) {
            cv::Mat frame = photo.image, half, searched;
            if (look.roll >= 0) {
                cv::rotate(photo.image, frame, look.roll);
            }
            cv::resize(frame, half, {}, 0.5, 0.5, cv::INTER_AREA);
            look.turning < 0 ? cv::flip(half, searched, 1)
                             : cv::rotate(half, searched, look.turning);
            std::vector<FaceDetection> faces;
            for (const FoundFace& face : yunet.detect(searched, 0.5f, 100)) {
                add_detector_box(face, 0.5, {look.turn, searched.size()}, 12, faces);
            }
            const auto to_photo = [&](cv::Point2f p) {
                return look.roll == cv::ROTATE_90_COUNTERCLOCKWISE ? cv::Point2f(width - p.y, p.x)
                       : look.roll == cv::ROTATE_90_CLOCKWISE      ? cv::Point2f(p.y, height - p.x)
                                                                   : p;
            };
            for (FaceDetection& face : faces) {
                face.box = cv::Rect(to_photo(face.box.tl()), to_photo(face.box.br()));
                for (cv::Point2f& point : face.points) {
                    point = to_photo(point);
                }
            }
            key_point_misses(faces, photo.image, look.misses);
        }
    }
    EXPECT_GE(found, 16);
    for (std::vector<double>* misses :
         {&scrfd_misses, &looks[0].misses, &looks[1].misses, &looks[2].misses}) {
        ASSERT_GE(misses->size(), 50u);
        std::sort(misses->begin(), misses->end());
        EXPECT_LT((*misses)[misses->size() / 2], 0.12);
        EXPECT_LT((*misses)[misses->size() * 9 / 10], 0.25);
    }
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
        EXPECT_EQ(log.count("[veilcam] YuNet detector ready on CPU: ", LOG_INFO), 1);
    }
}

} // namespace
} // namespace veilcam
