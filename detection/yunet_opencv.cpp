#include "detection/yunet_opencv.hpp"

#include <opencv2/imgproc.hpp>

#include <climits>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <stdexcept>

namespace veilcam {
namespace {

constexpr float kNmsThreshold = 0.3f;
// OpenCV applies top_k to the candidate boxes before suppression, and a face
// yields dozens of candidates: a top_k of `max_faces` (20) would keep only the
// five or so best-scored faces of a crowd. The face limit is applied to the
// pass's result instead; this is OpenCV's own default.
constexpr int kCandidateLimit = 5000;

// Read here rather than by OpenCV, which opens a path as narrow text: on
// Windows a data folder under an account name with accents would not load.
std::vector<uchar> read_model(const std::string& path) {
    std::ifstream file(std::filesystem::u8path(path), std::ios::binary);
    std::vector<uchar> model{std::istreambuf_iterator<char>(file),
                             std::istreambuf_iterator<char>()};
    if (!file.good() && !file.eof()) {
        throw std::runtime_error("cannot read " + path);
    }
    return model;
}

} // namespace

YunetOpencvDetector::YunetOpencvDetector(const std::string& model_path, float confidence)
    : yunet(cv::FaceDetectorYN::create("onnx", read_model(model_path), {}, cv::Size(320, 320),
                                       confidence, kNmsThreshold, kCandidateLimit, 0, 0)) {
    if (yunet.empty()) {
        throw std::runtime_error("OpenCV made no detector of " + model_path);
    }
}

const std::vector<cv::Rect2f>& YunetOpencvDetector::detect(const cv::Mat& image, float confidence,
                                                           int32_t limit) {
    const cv::Mat* bgr = &image;
    if (image.channels() == 1) {
        cv::cvtColor(image, grey_as_bgr, cv::COLOR_GRAY2BGR);
        bgr = &grey_as_bgr;
    }
    yunet->setInputSize(image.size());
    yunet->setScoreThreshold(confidence);
    yunet->detect(*bgr, rows);
    faces.clear();
    for (int row = 0; row < rows.rows && static_cast<int32_t>(faces.size()) < limit; ++row) {
        const float* face = rows.ptr<float>(row);
        faces.emplace_back(face[0], face[1], face[2], face[3]);
    }
    return faces;
}

int YunetOpencvDetector::largest_side() const {
    return INT_MAX;
}

} // namespace veilcam
