#include "detection/yunet_opencv.hpp"

#include "detection/model_file.hpp"

#include <opencv2/core/utils/logger.hpp>
#include <opencv2/imgproc.hpp>

#include <climits>
#include <stdexcept>

namespace veilcam {
namespace {

constexpr float kNmsThreshold = 0.3f;
// OpenCV applies top_k to the candidate boxes before suppression, and a face
// yields dozens of candidates: a top_k of `max_faces` (20) would keep only the
// five or so best-scored faces of a crowd. The face limit is applied to the
// pass's result instead; this is OpenCV's own default.
constexpr int kCandidateLimit = 5000;

// OpenCV writes its own error lines to the standard error, where no OBS user
// sees them, before it throws; what it throws is logged by the filter.
class QuietOpencv {
  public:
    QuietOpencv() : level_(cv::utils::logging::setLogLevel(cv::utils::logging::LOG_LEVEL_SILENT)) {}
    ~QuietOpencv() { cv::utils::logging::setLogLevel(level_); }
    QuietOpencv(const QuietOpencv&) = delete;
    QuietOpencv& operator=(const QuietOpencv&) = delete;

  private:
    cv::utils::logging::LogLevel level_;
};

cv::Ptr<cv::FaceDetectorYN> load_yunet(const std::string& model_path, float confidence) {
    const std::vector<uchar> model = read_model_file(model_path);
    const QuietOpencv quiet;
    return cv::FaceDetectorYN::create("onnx", model, {}, cv::Size(320, 320), confidence,
                                      kNmsThreshold, kCandidateLimit, 0, 0);
}

} // namespace

YunetOpencvDetector::YunetOpencvDetector(const std::string& model_path, float confidence)
    : yunet(load_yunet(model_path, confidence)) {
    if (yunet.empty()) {
        throw std::runtime_error("OpenCV made no detector of " + model_path);
    }
}

const std::vector<FoundFace>& YunetOpencvDetector::detect(const cv::Mat& image, float confidence,
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
        // x, y, width, height, then the key points' x and y.
        const float* face = rows.ptr<float>(row);
        FoundFace& found = faces.emplace_back();
        found.box = cv::Rect2f(face[0], face[1], face[2], face[3]);
        for (size_t k = 0; k < found.points.size(); ++k) {
            found.points[k] = {face[4 + 2 * k], face[5 + 2 * k]};
        }
    }
    return faces;
}

int YunetOpencvDetector::largest_side() const {
    return INT_MAX;
}

} // namespace veilcam
