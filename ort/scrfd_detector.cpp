#include "ort/scrfd_detector.hpp"

#include "detection/detector_devices.hpp"

#include "ort/ort_session.hpp"

#include <algorithm>
#include <array>
#include <stdexcept>

namespace veilcam {
namespace {

constexpr size_t kChannels = 3;
// On the CPU the input follows the image, in multiples of the coarsest
// stride, up to this; DirectML takes the model's 640 x 640.
constexpr int kLargestCpuSide = 1280;
constexpr const char* kWrongModel = "DirectML requires the bundled 640x640 SCRFD model";

// The one input, three channels; nine outputs: scores, boxes and landmarks of
// the three strides.
std::string checked_input(OrtSession* session) {
    const std::vector<std::string> inputs = input_names(session);
    const std::vector<int64_t> dimensions = input_dimensions(session, 0);
    if (inputs.size() != 1 || dimensions.size() != 4 ||
        dimensions[1] != static_cast<int64_t>(kChannels) || output_names(session).size() != 9) {
        throw std::runtime_error(kWrongModel);
    }
    return inputs.front();
}

// Scores, boxes and key points of the three strides: the model's outputs in
// its order.
std::vector<AnchorOutput> scrfd_outputs(OrtSession* session) {
    const std::vector<std::string> names = output_names(session);
    std::vector<AnchorOutput> outputs;
    for (size_t i = 0; i < 3 * kScrfdStrides.size(); ++i) {
        outputs.push_back(
            {names[i], kScrfdStrides[i % kScrfdStrides.size()], kScrfdAnchorsPerCell});
    }
    return outputs;
}

} // namespace

ScrfdDetector::ScrfdDetector(const std::string& model_path, int32_t device_index,
                             OrtProvider provider)
    : provider(provider), session(make_session(model_path, provider, device_index)),
      tensors(session.get(), checked_input(session.get()), scrfd_outputs(session.get())) {}

int ScrfdDetector::largest_side() const {
    return provider == OrtProvider::Cpu ? kLargestCpuSide : kScrfdInputSide;
}

const std::vector<FoundFace>& ScrfdDetector::detect(const cv::Mat& image, float score_threshold,
                                                    int32_t max_faces) {
    if (image.empty() || image.cols > largest_side() || image.rows > largest_side()) {
        throw std::runtime_error(provider == OrtProvider::DirectML
                                     ? "Invalid DirectML SCRFD input image"
                                     : "Invalid SCRFD input image");
    }
    const cv::Size tensor = provider == OrtProvider::Cpu
                                ? cv::Size(padded_side(image.cols), padded_side(image.rows))
                                : cv::Size(kScrfdInputSide, kScrfdInputSide);
    // Red first, samples centred on 127.5 and scaled by 1/128.
    tensors.set_input(image, tensor, 127.5f, 0.0078125f, false);
    tensors.run(session.get());
    ScrfdOutputs arrays;
    arrays.tensor = tensor;
    const size_t levels = kScrfdStrides.size();
    for (size_t level = 0; level < levels; ++level) {
        arrays.scores[level] = tensors.output(level);
        arrays.score_counts[level] = tensors.output_size(level);
        arrays.boxes[level] = tensors.output(levels + level);
        arrays.box_counts[level] = tensors.output_size(levels + level);
        arrays.key_points[level] = tensors.output(2 * levels + level);
        arrays.key_point_counts[level] = tensors.output_size(2 * levels + level);
    }
    decode_scrfd(arrays, image.size(), score_threshold, max_faces, candidates, faces);
    return faces;
}

std::unique_ptr<FaceModel> make_scrfd_on_onnx_cpu(const ModelStart& start) {
    return std::make_unique<ScrfdDetector>(start.model_path, 0, OrtProvider::Cpu);
}

std::unique_ptr<FaceModel> make_scrfd_on_directml(const ModelStart& start) {
    return std::make_unique<ScrfdDetector>(start.model_path, start.adapter, OrtProvider::DirectML);
}

} // namespace veilcam
