#include "ort/bound_tensors.hpp"

#include "ort/ort_session.hpp"

#include <opencv2/core.hpp>

#include <algorithm>
#include <stdexcept>

namespace veilcam {

namespace {

// More input sizes than a pass searches (the whole picture, upright or
// turned, the tile, the look where small faces were, three edge strips): the
// least recently used binding gives way beyond it.
constexpr size_t kMostBindings = 8;

} // namespace

BoundTensors::BoundTensors(OrtSession* session, std::string input_name,
                           std::vector<AnchorOutput> anchor_outputs)
    : input_name(std::move(input_name)), anchors(std::move(anchor_outputs)) {
    const std::vector<std::string> names = veilcam::output_names(session);
    for (const AnchorOutput& output : anchors) {
        const auto found = std::find(names.begin(), names.end(), output.name);
        if (found == names.end()) {
            throw std::runtime_error("the model has no output " + output.name);
        }
        std::vector<int64_t> shape =
            output_dimensions(session, static_cast<size_t>(found - names.begin()));
        // Anchor lists: [rows, width] or [1, rows, width].
        if (shape.size() < 2 || shape.size() > 3 || shape.back() <= 0 ||
            (shape.size() == 3 && shape[0] != 1)) {
            throw std::runtime_error("output " + output.name + " is not a list of anchors");
        }
        dimensions.push_back(std::move(shape));
        output_names.push_back(output.name.c_str());
    }
    OrtMemoryInfo* raw_memory = nullptr;
    ort_check(
        OrtRuntime::api()->CreateCpuMemoryInfo(OrtArenaAllocator, OrtMemTypeDefault, &raw_memory));
    memory.reset(raw_memory);
    bindings.reserve(kMostBindings);
}

void BoundTensors::bind(Binding& binding, cv::Size tensor, float fill) const {
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
    binding.tensor = cv::Size();
    binding.input_value = make_value(binding.input, {1, 3, tensor.height, tensor.width});
    binding.outputs.resize(anchors.size());
    binding.output_owners.resize(anchors.size());
    binding.output_values.resize(anchors.size());
    for (size_t i = 0; i < anchors.size(); ++i) {
        const int stride = anchors[i].stride;
        std::vector<int64_t> shape = dimensions[i];
        shape[shape.size() - 2] = static_cast<int64_t>(tensor.height / stride) *
                                  (tensor.width / stride) * anchors[i].anchors_per_cell;
        binding.output_owners[i] = make_value(binding.outputs[i], shape);
        binding.output_values[i] = binding.output_owners[i].get();
    }
    binding.tensor = tensor;
    binding.filled = cv::Size();
}

BoundTensors::Binding& BoundTensors::binding_for(cv::Size tensor, float fill) {
    const auto found = std::find_if(bindings.begin(), bindings.end(),
                                    [&](const Binding& b) { return b.tensor == tensor; });
    Binding* binding = nullptr;
    if (found != bindings.end()) {
        binding = &*found;
    } else if (bindings.size() < kMostBindings) {
        binding = &bindings.emplace_back();
    } else {
        binding = &*std::min_element(
            bindings.begin(), bindings.end(),
            [](const Binding& a, const Binding& b) { return a.last_use < b.last_use; });
    }
    if (binding->tensor != tensor) {
        bind(*binding, tensor, fill);
    }
    binding->last_use = ++uses;
    return *binding;
}

void BoundTensors::set_input(const cv::Mat& image, cv::Size tensor, float mean, float scale,
                             bool bgr_order) {
    if (image.depth() != CV_8U || (image.channels() != 1 && image.channels() != 3) ||
        image.cols > tensor.width || image.rows > tensor.height) {
        throw std::runtime_error(
            "a network takes 8-bit grey or BGR images no larger than its input");
    }
    const float black = (0.0f - mean) * scale;
    current = nullptr; // a failed binding leaves no run
    Binding& binding = binding_for(tensor, black);
    // Only a change of the image's size uncovers padding that needs clearing
    // (a binding starts out black).
    if (binding.filled != cv::Size() && image.size() != binding.filled) {
        std::fill(binding.input.begin(), binding.input.end(), black);
    }
    binding.filled = image.size();
    current = &binding;
    cv::Mat planes[3];
    for (int c = 0; c < 3; ++c) {
        planes[c] = cv::Mat(tensor, CV_32FC1,
                            binding.input.data() + static_cast<size_t>(c) * tensor.area())(
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
    if (current == nullptr) {
        throw std::logic_error("a network run without its input");
    }
    const OrtValue* inputs[] = {current->input_value.get()};
    ort_check(OrtRuntime::api()->Run(session, nullptr, input_names, inputs, 1, output_names.data(),
                                     output_names.size(), current->output_values.data()));
}

} // namespace veilcam
