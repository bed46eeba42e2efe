#include "ort/bound_tensors.hpp"

#include "ort/ort_session.hpp"

#include <opencv2/core.hpp>

#include <algorithm>
#include <stdexcept>

namespace veilcam {

BoundTensors::BoundTensors(OrtSession* session, std::string input_name,
                           std::vector<AnchorOutput> anchor_outputs)
    : input_name(std::move(input_name)) {
    const std::vector<std::string> names = veilcam::output_names(session);
    for (AnchorOutput& anchors : anchor_outputs) {
        const auto found = std::find(names.begin(), names.end(), anchors.name);
        if (found == names.end()) {
            throw std::runtime_error("the model has no output " + anchors.name);
        }
        std::vector<int64_t> dimensions =
            output_dimensions(session, static_cast<size_t>(found - names.begin()));
        // Anchor lists: [rows, width] or [1, rows, width].
        if (dimensions.size() < 2 || dimensions.size() > 3 || dimensions.back() <= 0 ||
            (dimensions.size() == 3 && dimensions[0] != 1)) {
            throw std::runtime_error("output " + anchors.name + " is not a list of anchors");
        }
        outputs.push_back({std::move(anchors), std::move(dimensions), {}, {}});
    }
    for (const Output& output : outputs) {
        output_names.push_back(output.anchors.name.c_str());
    }
    output_values.resize(outputs.size());
    OrtMemoryInfo* raw_memory = nullptr;
    ort_check(
        OrtRuntime::api()->CreateCpuMemoryInfo(OrtArenaAllocator, OrtMemTypeDefault, &raw_memory));
    memory.reset(raw_memory);
}

void BoundTensors::bind(cv::Size tensor, float fill) {
    const OrtApi* api = OrtRuntime::api();
    auto make_value = [&](std::vector<float>& data, const std::vector<int64_t>& shape) {
        size_t count = 1;
        for (const int64_t dimension : shape) {
            count *= static_cast<size_t>(dimension);
        }
        data.assign(count, fill);
        OrtValue* value = nullptr;
        ort_check(api->CreateTensorWithDataAsOrtValue(
            memory.get(), data.data(), data.size() * sizeof(float), shape.data(), shape.size(),
            ONNX_TENSOR_ELEMENT_DATA_TYPE_FLOAT, &value));
        return OrtValueOwner(value);
    };
    bound = cv::Size();
    input_value = make_value(input, {1, 3, tensor.height, tensor.width});
    for (size_t i = 0; i < outputs.size(); ++i) {
        Output& output = outputs[i];
        const int stride = output.anchors.stride;
        std::vector<int64_t> shape = output.dimensions;
        shape[shape.size() - 2] = static_cast<int64_t>(tensor.height / stride) *
                                  (tensor.width / stride) * output.anchors.anchors_per_cell;
        output.value = make_value(output.data, shape);
        output_values[i] = output.value.get();
    }
    bound = tensor;
    filled = cv::Size();
}

void BoundTensors::set_input(const cv::Mat& image, cv::Size tensor, float mean, float scale,
                             bool bgr_order) {
    if (image.depth() != CV_8U || (image.channels() != 1 && image.channels() != 3) ||
        image.cols > tensor.width || image.rows > tensor.height) {
        throw std::runtime_error(
            "a network takes 8-bit grey or BGR images no larger than its input");
    }
    const float black = (0.0f - mean) * scale;
    if (tensor != bound) {
        bind(tensor, black);
    }
    // Only a change of the image's size uncovers padding that needs clearing.
    if (image.size() != filled) {
        std::fill(input.begin(), input.end(), black);
        filled = image.size();
    }
    cv::Mat planes[3];
    for (int c = 0; c < 3; ++c) {
        planes[c] =
            cv::Mat(tensor, CV_32FC1, input.data() + static_cast<size_t>(c) * tensor.area())(
                cv::Rect(cv::Point(), image.size()));
    }
    if (image.channels() == 1) {
        image.convertTo(planes[0], CV_32F, scale, -mean * scale);
        planes[0].copyTo(planes[1]);
        planes[0].copyTo(planes[2]);
        return;
    }
    cv::split(image, channels);
    for (int c = 0; c < 3; ++c) {
        channels[c].convertTo(planes[bgr_order ? c : 2 - c], CV_32F, scale, -mean * scale);
    }
}

void BoundTensors::run(OrtSession* session) {
    const char* input_names[] = {input_name.c_str()};
    const OrtValue* inputs[] = {input_value.get()};
    ort_check(OrtRuntime::api()->Run(session, nullptr, input_names, inputs, 1, output_names.data(),
                                     output_names.size(), output_values.data()));
}

} // namespace veilcam
