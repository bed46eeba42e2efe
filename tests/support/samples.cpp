#include "support/samples.hpp"

#include "tracking/box_geometry.hpp"

#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>

#include <algorithm>
#include <fstream>
#include <sstream>
#include <stdexcept>

namespace veilcam::test {

namespace {

std::string sample_path(const std::string& file) {
    return std::string(VEILCAM_SAMPLES_DIR "/") + file;
}

} // namespace

cv::Mat load_sample(const std::string& file) {
    const std::string path = sample_path(file);
    cv::Mat image = cv::imread(path, cv::IMREAD_COLOR);
    if (image.empty()) {
        throw std::runtime_error("cannot read image " + path);
    }
    return image;
}

const std::vector<LabelledPhoto>& labelled_photos() {
    static const std::vector<LabelledPhoto> photos = [] {
        std::ifstream csv(sample_path("faces.csv"));
        if (!csv) {
            throw std::runtime_error("cannot read " + sample_path("faces.csv"));
        }
        // One row a face, the rows of a photo together.
        std::vector<LabelledPhoto> result;
        for (std::string line; std::getline(csv, line);) {
            std::replace(line.begin(), line.end(), ',', ' ');
            std::istringstream fields(line);
            std::string file;
            int width, height;
            cv::Rect face;
            if (fields >> file >> width >> height >> face.x >> face.y >> face.width >>
                face.height) {
                if (result.empty() || result.back().file != file) {
                    result.push_back({file, load_sample(file), {}});
                }
                result.back().faces.push_back(face);
            }
        }
        return result;
    }();
    return photos;
}

LabelledPhoto scaled(const LabelledPhoto& photo, cv::Size size) {
    LabelledPhoto result{photo.file, {}, {}};
    cv::resize(photo.image, result.image, size, 0, 0, cv::INTER_AREA);
    const double sx = static_cast<double>(size.width) / photo.image.cols;
    const double sy = static_cast<double>(size.height) / photo.image.rows;
    for (const cv::Rect& face : photo.faces) {
        result.faces.emplace_back(
            cv::Rect2d(face.x * sx, face.y * sy, face.width * sx, face.height * sy));
    }
    return result;
}

double grey_detail(const cv::Mat& bgr, const cv::Rect& r) {
    cv::Mat grey, dx;
    cv::cvtColor(bgr(r), grey, cv::COLOR_BGR2GRAY);
    cv::absdiff(grey.colRange(1, grey.cols), grey.colRange(0, grey.cols - 1), dx);
    return cv::mean(dx)[0];
}

bool face_shows(const cv::Mat& before, const cv::Mat& after, const cv::Rect& face) {
    const cv::Size half(face.width / 2, face.height / 2);
    const cv::Rect parts[] = {
        face,
        {face.tl(), cv::Size(half.width, face.height)},
        {face.x + half.width, face.y, face.width - half.width, face.height},
        {face.tl(), cv::Size(face.width, half.height)},
        {face.x, face.y + half.height, face.width, face.height - half.height}};
    for (const cv::Rect& part : parts) {
        if (grey_detail(after, part) > 0.5 * grey_detail(before, part)) {
            return true;
        }
    }
    return false;
}

int labels_found(const std::vector<cv::Rect>& labels, const std::vector<cv::Rect>& boxes,
                 float min_iou) {
    int found = 0;
    for (const cv::Rect& label : labels) {
        for (const cv::Rect& box : boxes) {
            if (box_iou(label, box) >= min_iou) {
                ++found;
                break;
            }
        }
    }
    return found;
}

} // namespace veilcam::test
