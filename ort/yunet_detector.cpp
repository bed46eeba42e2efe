#include "ort/yunet_detector.hpp"

#include "detection/detector_devices.hpp"

#include <algorithm>
#include <stdexcept>

namespace veilcam {
namespace {

constexpr const char* kWrongModel = "the YuNet model with an open input size is needed "
                                    "(face_detection_yunet_2023mar_any_size.onnx)";
// The largest side the detector is given: what cv::FaceDetectorYN is given
// by default too.
constexpr int kLargestSide = 1280;

// Class scores, objectness, boxes and key points of the three strides, in
// that order.
std::vector<AnchorOutput> yunet_outputs() {
    std::vector<AnchorOutput> outputs;
    for (const char* kind : {"cls_", "obj_", "bbox_", "kps_"}) {
        for (const int stride : kYunetStrides) {
            outputs.push_back({kind + std::to_string(stride), stride, 1});
        }
    }
    return outputs;
}

// The one input, three channels of open height and width; YuNet's outputs.
std::string checked_input(OrtSession* session) {
    const std::vector<std::string> inputs = input_names(session);
    const std::vector<int64_t> dimensions = input_dimensions(session, 0);
    const std::vector<std::string> outputs = output_names(session);
    const auto has = [&](const AnchorOutput& output) {
        return std::find(outputs.begin(), outputs.end(), output.name) != outputs.end();
    };
    const std::vector<AnchorOutput> wanted = yunet_outputs();
    if (inputs.size() != 1 || dimensions.size() != 4 || dimensions[1] != 3 || dimensions[2] > 0 ||
        dimensions[3] > 0 || !std::all_of(wanted.begin(), wanted.end(), has)) {
        throw std::runtime_error(kWrongModel);
    }
    return inputs.front();
}

} // namespace

YunetOrtDetector::YunetOrtDetector(const std::string& model_path)
    : session(make_session(model_path, OrtProvider::Cpu)),
      tensors(session.get(), checked_input(session.get()), yunet_outputs()) {}

int YunetOrtDetector::largest_side() const {
    return kLargestSide;
}

const std::vector<FoundFace>& YunetOrtDetector::detect(const cv::Mat& image, float confidence,
                                                       int32_t limit) {
    if (image.empty() || image.cols > kLargestSide || image.rows > kLargestSide) {
        throw std::runtime_error("YuNet takes images of at most 1280 pixels a side");
    }
    // Samples as they are, blue first, padded with black as OpenCV pads them.
    const cv::Size padded(padded_side(image.cols), padded_side(image.rows));
    tensors.set_input(image, padded, 0.0f, 1.0f, true);
    tensors.run(session.get());
    YunetOutputs arrays;
    const size_t levels = kYunetStrides.size();
    for (size_t level = 0; level < levels; ++level) {
        arrays.classes[level] = tensors.output(level);
        arrays.objectness[level] = tensors.output(levels + level);
        arrays.boxes[level] = tensors.output(2 * levels + level);
        arrays.key_points[level] = tensors.output(3 * levels + level);
    }
    decode_yunet(arrays, padded, confidence, limit, candidates, faces);
    return faces;
}

std::unique_ptr<FaceModel> make_yunet_on_onnx_cpu(const ModelStart& start) {
    return std::make_unique<YunetOrtDetector>(start.model_path);
}

} // namespace veilcam
