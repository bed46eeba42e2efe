#pragma once

#include "detection/face_key_points.hpp"

#include <opencv2/core/mat.hpp>

#include <cstdint>
#include <vector>

namespace veilcam {

// A face as a detector finds it, in the pixels of the image it searched.
struct FoundFace {
    cv::Rect2f box;
    FaceKeyPoints points{};
};

// A face-finding network, whichever library runs it: YuNet on OpenCV, YuNet
// or SCRFD on ONNX Runtime's CPU provider, SCRFD on DirectML.
class FaceModel {
  public:
    virtual ~FaceModel() = default;

    // Faces in `image` (8-bit grey or BGR, no larger than largest_side()) scored
    // `confidence` or more, at most `limit`, best first, in the image's
    // pixels; rewritten by the next call. Throws when the network cannot run.
    virtual const std::vector<FoundFace>& detect(const cv::Mat& image, float confidence,
                                                 int32_t limit) = 0;

    // The longest image side the network takes; frames are shrunk to it.
    virtual int largest_side() const = 0;

    // Whether the network finds faces better in colour than in grey.
    virtual bool wants_colour() const { return false; }
};

} // namespace veilcam
