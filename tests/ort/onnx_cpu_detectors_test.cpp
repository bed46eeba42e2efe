// YuNet and SCRFD on ONNX Runtime's CPU provider, as "cpu-ort" and
// "cpu-scrfd" run them, on the real runtime beside this program.
#include "detection/yunet_opencv.hpp"
#include "ort/scrfd_detector.hpp"
#include "ort/yunet_detector.hpp"
#include "support/samples.hpp"
#include "support/thread_starts.hpp"

#include <gtest/gtest.h>
#include <opencv2/imgproc.hpp>

namespace veilcam {
namespace {

// In colour, and in grey as the formats detected on luma hand it over.
TEST(YunetOnOnnxRuntime, FindsWhatOpenCvFindsOnEverySamplePhoto) {
    YunetOrtDetector ort(test::yunet_any_size_model());
    YunetOpencvDetector opencv(test::yunet_model(), 0.5f);
    size_t compared = 0;
    for (const char* file : {"2007_007763.jpg", "2008_001009.jpg", "2008_001322.jpg",
                             "2008_002079.jpg", "bald_guys.jpg", "dogs.jpg"}) {
        cv::Mat colour = test::load_sample(file), grey;
        const double shrink = 1280.0 / std::max(colour.cols, colour.rows);
        if (shrink < 1.0) {
            cv::resize(colour, colour, cv::Size(), shrink, shrink, cv::INTER_AREA);
        }
        cv::cvtColor(colour, grey, cv::COLOR_BGR2GRAY);
        for (const cv::Mat& image : {colour, grey}) {
            const std::vector<FoundFace> expected = opencv.detect(image, 0.5f, 1000);
            const std::vector<FoundFace>& found = ort.detect(image, 0.5f, 1000);
            ASSERT_EQ(found.size(), expected.size()) << file << ", channels " << image.channels();
            for (size_t i = 0; i < found.size(); ++i) {
                const cv::Rect2f& a = found[i].box;
                const cv::Rect2f& b = expected[i].box;
                EXPECT_LE(std::max({std::abs(a.x - b.x), std::abs(a.y - b.y),
                                    std::abs(a.width - b.width), std::abs(a.height - b.height)}),
                          1.0f)
                    << file << ": " << a << " against " << b;
                for (size_t k = 0; k < found[i].points.size(); ++k) {
                    EXPECT_LE(cv::norm(found[i].points[k] - expected[i].points[k]), 1.0)
                        << file << ": key point " << k << " of " << a;
                }
            }
            compared += found.size();
        }
    }
    EXPECT_GE(compared, 40u);
}

// The detector pads each image to its network's multiple of 32 with black.
// A face in the corner of a 96-pixel picture lies wholly in the padding of a
// 65-pixel picture of the same padded size: searched after it, that
// picture (a plain grey) must show no face, as a fresh detector sees it.
TEST(YunetOnOnnxRuntime, APictureSearchedAfterALargerOneHasNothingOfItInItsPadding) {
    const test::LabelledPhoto& photo = test::labelled_photos()[0];
    cv::Mat with_face(96, 96, CV_8UC3, cv::Scalar::all(128));
    const cv::Rect face = photo.faces[0];
    const int side = std::max(face.width, face.height) * 3 / 2;
    const cv::Rect around = cv::Rect(face.x + face.width / 2 - side / 2,
                                     face.y + face.height / 2 - side / 2, side, side) &
                            cv::Rect(cv::Point(), photo.image.size());
    cv::resize(photo.image(around), with_face(cv::Rect(64, 64, 32, 32)), cv::Size(32, 32), 0, 0,
               cv::INTER_AREA);
    const cv::Mat plain(65, 65, CV_8UC3, cv::Scalar::all(128));
    YunetOrtDetector yunet(test::yunet_any_size_model());
    ASSERT_EQ(yunet.detect(with_face, 0.5f, 10).size(), 1u);
    EXPECT_EQ(yunet.detect(plain, 0.5f, 10).size(), 0u);
}

// OBS renders on threads of its own: the detectors must add none, and no
// pool may spin on a core between frames.
TEST(OnnxCpuDetectors, RunOnTheCallingThreadAlone) {
    const cv::Mat image = test::labelled_photos()[0].image;
    const test::ThreadStarts starts;
    YunetOrtDetector yunet(test::yunet_any_size_model());
    ScrfdDetector scrfd(test::scrfd_any_size_model(), 0, OrtProvider::Cpu);
    YunetOrtDetector second(test::yunet_any_size_model());
    EXPECT_FALSE(yunet.detect(image, 0.5f, 100).empty());
    EXPECT_FALSE(second.detect(image, 0.5f, 100).empty());
    EXPECT_FALSE(scrfd.detect(image, 0.5f, 100).empty());
    EXPECT_EQ(starts.through({"libonnxruntime.so", "libopencv_", "libtbb"}),
              std::vector<std::string>{});
}

} // namespace
} // namespace veilcam
