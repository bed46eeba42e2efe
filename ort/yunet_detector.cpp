#include "ort/yunet_detector.hpp"

#include <opencv2/core.hpp>

#include <algorithm>
#include <stdexcept>

namespace veilcam {
namespace {

constexpr const char* kWrongModel = "the YuNet model with an open input size is needed "
                                    "(face_detection_yunet_2023mar_any_size.onnx)";
// The largest side the detector is given: what cv::FaceDetectorYN is given
// by default too.
constexpr int kLargestSide = 1280;
// Output name prefixes in the order of kOutputCount's slots.
constexpr std::array<const char*, 3> kOutputKinds = {"cls_", "obj_", "bbox_"};
constexpr std::array<int, 3> kOutputWidths = {1, 1, 4};

} // namespace

YunetOrtDetector::YunetOrtDetector(const std::string& model_path)
    : session(make_session(model_path, OrtProvider::Cpu)) {
    const std::vector<std::string> inputs = input_names(session.get());
    const std::vector<int64_t> dimensions = input_dimensions(session.get(), 0);
    if (inputs.size() != 1 || dimensions.size() != 4 || dimensions[1] != 3 || dimensions[2] > 0 ||
        dimensions[3] > 0) {
        throw std::runtime_error(kWrongModel);
    }
    input_name = inputs.front();
    const std::vector<std::string> outputs = veilcam::output_names(session.get());
    for (size_t kind = 0; kind < kOutputKinds.size(); ++kind) {
        for (size_t level = 0; level < kYunetStrides.size(); ++level) {
            const std::string name = kOutputKinds[kind] + std::to_string(kYunetStrides[level]);
            if (std::find(outputs.begin(), outputs.end(), name) == outputs.end()) {
                throw std::runtime_error(kWrongModel);
            }
            output_names[kind * 3 + level] = name;
        }
    }
    for (size_t i = 0; i < kOutputCount; ++i) {
        output_name_ptrs[i] = output_names[i].c_str();
    }
    OrtMemoryInfo* raw_memory = nullptr;
    ort_check(
        OrtRuntime::api()->CreateCpuMemoryInfo(OrtArenaAllocator, OrtMemTypeDefault, &raw_memory));
    memory.reset(raw_memory);
}

int YunetOrtDetector::largest_side() const {
    return kLargestSide;
}

void YunetOrtDetector::bind(cv::Size padded) {
    const OrtApi* api = OrtRuntime::api();
    auto tensor = [&](std::vector<float>& data, std::array<int64_t, 4> shape, size_t rank) {
        size_t count = 1;
        for (size_t i = 0; i < rank; ++i) {
            count *= static_cast<size_t>(shape[i]);
        }
        data.assign(count, 0.0f);
        OrtValue* value = nullptr;
        ort_check(api->CreateTensorWithDataAsOrtValue(
            memory.get(), data.data(), data.size() * sizeof(float), shape.data(), rank,
            ONNX_TENSOR_ELEMENT_DATA_TYPE_FLOAT, &value));
        return OrtValueOwner(value);
    };
    bound = cv::Size();
    input_value = tensor(input, {1, 3, padded.height, padded.width}, 4);
    for (size_t kind = 0; kind < kOutputKinds.size(); ++kind) {
        for (size_t level = 0; level < kYunetStrides.size(); ++level) {
            const int stride = kYunetStrides[level];
            const int64_t cells =
                static_cast<int64_t>(padded.height / stride) * (padded.width / stride);
            output_values[kind * 3 + level] =
                tensor(output_data[kind * 3 + level], {1, cells, kOutputWidths[kind], 0}, 3);
        }
    }
    bound = padded;
    filled = cv::Size();
}

const std::vector<cv::Rect2f>& YunetOrtDetector::detect(const cv::Mat& image, float confidence,
                                                        int32_t limit) {
    if (image.empty() || image.type() != CV_8UC3 || image.cols > kLargestSide ||
        image.rows > kLargestSide) {
        throw std::runtime_error("YuNet takes 8-bit BGR images of at most 1280 pixels a side");
    }
    // Padded with black, as OpenCV pads it.
    const cv::Size padded(padded_side(image.cols), padded_side(image.rows));
    if (padded != bound) {
        bind(padded);
    }
    // The network reads planes of blue, green and red; the padding stays
    // black, so only a change of the image's size needs it cleared.
    if (image.size() != filled) {
        std::fill(input.begin(), input.end(), 0.0f);
        filled = image.size();
    }
    image.convertTo(as_float, CV_32F);
    cv::Mat planes[3];
    for (int c = 0; c < 3; ++c) {
        planes[c] =
            cv::Mat(padded, CV_32FC1, input.data() + static_cast<size_t>(c) * padded.area())(
                cv::Rect(cv::Point(), image.size()));
    }
    cv::split(as_float, planes);
    const char* input_names[] = {input_name.c_str()};
    const OrtValue* inputs[] = {input_value.get()};
    std::array<OrtValue*, kOutputCount> outputs{};
    for (size_t i = 0; i < kOutputCount; ++i) {
        outputs[i] = output_values[i].get();
    }
    ort_check(OrtRuntime::api()->Run(session.get(), nullptr, input_names, inputs, 1,
                                     output_name_ptrs.data(), kOutputCount, outputs.data()));
    YunetOutputs arrays;
    for (size_t level = 0; level < kYunetStrides.size(); ++level) {
        arrays.classes[level] = output_data[level].data();
        arrays.objectness[level] = output_data[3 + level].data();
        arrays.boxes[level] = output_data[6 + level].data();
    }
    decode_yunet(arrays, padded, confidence, limit, candidates, faces);
    return faces;
}

} // namespace veilcam
