#include "bench/scene.hpp"

#include "support/samples.hpp"

#include <opencv2/imgproc.hpp>

#include <cmath>

namespace veilcam::bench {

Scene make_scene(cv::Size size, int faces) {
    Scene scene{cv::Mat(size, CV_8UC3, cv::Scalar(70, 80, 90)), {}};
    if (faces == 0) {
        return scene; // a wall: what a pass that finds nothing costs
    }
    std::vector<std::pair<cv::Mat, cv::Rect>> crops; // a face with its surroundings
    for (const test::LabelledPhoto& photo : test::labelled_photos()) {
        for (const cv::Rect& face : photo.faces) {
            const cv::Rect around = cv::Rect(face.x - face.width, face.y - face.height / 2,
                                             face.width * 3, face.height * 2) &
                                    cv::Rect(0, 0, photo.image.cols, photo.image.rows);
            crops.emplace_back(photo.image(around), face - around.tl());
        }
    }
    const int columns = static_cast<int>(std::ceil(std::sqrt(faces * 16.0 / 9.0)));
    const int rows = (faces + columns - 1) / columns;
    const cv::Size cell(size.width / columns, size.height / rows);
    for (int i = 0; i < faces; ++i) {
        const auto& [crop, face] = crops[static_cast<size_t>(i) % crops.size()];
        const double scale = std::min(static_cast<double>(cell.width) / crop.cols,
                                      static_cast<double>(cell.height) / crop.rows);
        cv::Mat resized;
        cv::resize(crop, resized, cv::Size(), scale, scale, cv::INTER_LINEAR);
        const cv::Point corner((i % columns) * cell.width, (i / columns) * cell.height);
        resized.copyTo(scene.picture(cv::Rect(corner, resized.size())));
        scene.faces.emplace_back(corner.x + static_cast<int>(face.x * scale),
                                 corner.y + static_cast<int>(face.y * scale),
                                 static_cast<int>(face.width * scale),
                                 static_cast<int>(face.height * scale));
    }
    return scene;
}

} // namespace veilcam::bench
