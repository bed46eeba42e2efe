#include "detection/face_alignment.hpp"

#include <opencv2/imgproc.hpp>

namespace veilcam {
namespace {

constexpr int kChipSide = 150;

// The average upright face's eye centres, nose tip and mouth corners in the
// chip: the face spans its middle 100 x 100, from the brows to the chin.
const std::array<cv::Point2f, 5> kChipPoints = {{
    {47.55f, 46.60f},
    {100.48f, 46.60f},
    {74.01f, 76.56f},
    {50.41f, 103.02f},
    {97.61f, 103.02f},
}};

// The least-squares similarity (turn, scale, move) from `from` to `to`.
cv::Matx23d similarity(const FaceKeyPoints& from, const std::array<cv::Point2f, 5>& to) {
    cv::Point2d from_mean, to_mean;
    for (size_t i = 0; i < from.size(); ++i) {
        from_mean += cv::Point2d(from[i]) / 5.0;
        to_mean += cv::Point2d(to[i]) / 5.0;
    }
    double dot = 0.0, cross = 0.0, spread = 0.0;
    for (size_t i = 0; i < from.size(); ++i) {
        const cv::Point2d p = cv::Point2d(from[i]) - from_mean;
        const cv::Point2d q = cv::Point2d(to[i]) - to_mean;
        dot += p.x * q.x + p.y * q.y;
        cross += p.x * q.y - p.y * q.x;
        spread += p.x * p.x + p.y * p.y;
    }
    // Key points all in one place give no size: the chip is then one sample.
    const double a = spread > 0.0 ? dot / spread : 0.0, b = spread > 0.0 ? cross / spread : 0.0;
    return {a, -b, to_mean.x - (a * from_mean.x - b * from_mean.y),
            b, a,  to_mean.y - (b * from_mean.x + a * from_mean.y)};
}

} // namespace

void align_face(const cv::Mat& image, const FaceKeyPoints& points, cv::Mat& crop) {
    cv::warpAffine(image, crop, similarity(points, kChipPoints), {kChipSide, kChipSide},
                   cv::INTER_LINEAR, cv::BORDER_REPLICATE);
}

} // namespace veilcam
