#include "filter/face_photo.hpp"

#include "detection/face_alignment.hpp"
#include "filter/face_recognition.hpp"
#include "settings/device_choice.hpp"

#include <opencv2/imgproc.hpp>

#include <stdexcept>

namespace veilcam {
namespace {

// A photo picked to show someone's face shows it clearly: a face scored
// lower is a poster or a face in the crowd behind, and is not counted.
constexpr float kPhotoConfidence = 0.6f;

} // namespace

PhotoFace describe_photo_face(const cv::Mat& photo, const BundledModels& models) {
    if (photo.empty() || photo.type() != CV_8UC3) {
        throw std::invalid_argument("the photo is not an 8-bit colour picture");
    }
    const DetectorDevice& device = device_for(kCpuDevice);
    const std::string& model_path = bundled_model(models, device);
    const auto descriptor_model = models.find(kFaceDescriptorModel);
    if (model_path.empty() || descriptor_model == models.end() ||
        descriptor_model->second.empty()) {
        throw std::runtime_error("the bundled models are missing");
    }
    const auto detector = device.make({model_path, 0, kPhotoConfidence});
    const double shrink = std::min(1.0, static_cast<double>(detector->largest_side()) /
                                            std::max(photo.cols, photo.rows));
    cv::Mat searched;
    cv::resize(photo, searched, {}, shrink, shrink, cv::INTER_AREA);
    const std::vector<FoundFace>& found = detector->detect(searched, kPhotoConfidence, 2);
    PhotoFace result;
    result.faces = static_cast<int>(found.size());
    if (result.faces != 1) {
        return result;
    }
    // The face as a frame's face is described: with room around it, brought
    // to the same size.
    const auto to_photo = static_cast<float>(1.0 / shrink);
    const cv::Rect2f box(found[0].box.tl() * to_photo, found[0].box.size() * to_photo);
    const cv::Rect area = described_area(box, photo.size());
    const double scale = described_scale(area);
    cv::Mat face;
    cv::resize(photo(area), face, {}, scale, scale, cv::INTER_AREA);
    FaceKeyPoints points = found[0].points;
    for (cv::Point2f& point : points) {
        point = (point * to_photo - cv::Point2f(area.tl())) * static_cast<float>(scale);
    }
    cv::Mat chip;
    align_face(face, points, chip);
    FaceDescriptorNet net(descriptor_model->second);
    result.descriptor = net.describe(chip);
    return result;
}

std::string photo_face_problem(int faces) {
    if (faces == 1) {
        return "";
    }
    if (faces == 0) {
        return "no face was found in the photo: pick one where the face is clear, front on";
    }
    return "the photo shows more than one face: pick one that shows only the face to remember";
}

} // namespace veilcam
