#include "ort/yunet_decoding.hpp"

#include <opencv2/dnn.hpp>

#include <algorithm>
#include <cmath>

namespace veilcam {
namespace {

constexpr float kNmsThreshold = 0.3f;

float unit(float value) {
    return std::clamp(value, 0.0f, 1.0f);
}

} // namespace

void decode_yunet(const YunetOutputs& outputs, cv::Size padded, float confidence, int32_t limit,
                  YunetCandidates& c, std::vector<FoundFace>& faces) {
    c.boxes.clear();
    c.exact.clear();
    c.scores.clear();
    for (size_t level = 0; level < kYunetStrides.size(); ++level) {
        const int stride = kYunetStrides[level];
        const int columns = padded.width / stride;
        const int rows = padded.height / stride;
        for (int row = 0; row < rows; ++row) {
            for (int column = 0; column < columns; ++column) {
                const size_t cell = static_cast<size_t>(row) * columns + column;
                const float score = std::sqrt(unit(outputs.classes[level][cell]) *
                                              unit(outputs.objectness[level][cell]));
                if (score < confidence) {
                    continue;
                }
                // A centre offset from the cell and a size on a log scale, in strides.
                const float* box = outputs.boxes[level] + cell * 4;
                const float width = std::exp(box[2]) * stride;
                const float height = std::exp(box[3]) * stride;
                const float x = (column + box[0]) * stride - width / 2.0f;
                const float y = (row + box[1]) * stride - height / 2.0f;
                // Key points: offsets from the cell, in strides.
                FoundFace& found = c.exact.emplace_back();
                found.box = cv::Rect2f(x, y, width, height);
                const float* points = outputs.key_points[level] + cell * 10;
                for (size_t k = 0; k < found.points.size(); ++k) {
                    found.points[k] = {(column + points[2 * k]) * stride,
                                       (row + points[2 * k + 1]) * stride};
                }
                c.boxes.emplace_back(static_cast<int>(x), static_cast<int>(y),
                                     static_cast<int>(width), static_cast<int>(height));
                c.scores.push_back(score);
            }
        }
    }
    c.kept.clear();
    cv::dnn::NMSBoxes(c.boxes, c.scores, confidence, kNmsThreshold, c.kept);
    faces.clear();
    for (const int index : c.kept) {
        if (static_cast<int32_t>(faces.size()) == limit) {
            break;
        }
        faces.push_back(c.exact[index]);
    }
}

} // namespace veilcam
