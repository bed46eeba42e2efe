#include "ort/face_descriptor.hpp"

#include "ort/ort_session.hpp"

#include <opencv2/imgproc.hpp>

#include <cmath>
#include <stdexcept>

namespace veilcam {
namespace {

constexpr int64_t kSide = FaceDescriptorNet::kSide;
constexpr int64_t kValues = static_cast<int64_t>(std::tuple_size_v<FaceDescriptor>);

OrtValueOwner tensor_over(OrtMemoryInfo* memory, float* data, std::vector<int64_t> shape) {
    size_t count = 1;
    for (const int64_t dimension : shape) {
        count *= static_cast<size_t>(dimension);
    }
    OrtValue* value = nullptr;
    ort_check(OrtRuntime::api()->CreateTensorWithDataAsOrtValue(
        memory, data, count * sizeof(float), shape.data(), shape.size(),
        ONNX_TENSOR_ELEMENT_DATA_TYPE_FLOAT, &value));
    return OrtValueOwner(value);
}

} // namespace

float descriptor_distance(const FaceDescriptor& a, const FaceDescriptor& b) {
    float sum = 0.0f;
    for (size_t i = 0; i < a.size(); ++i) {
        sum += (a[i] - b[i]) * (a[i] - b[i]);
    }
    return std::sqrt(sum);
}

FaceDescriptorNet::FaceDescriptorNet(const std::string& model_path)
    : session(make_session(model_path, OrtProvider::Cpu)),
      input(static_cast<size_t>(kSide * kSide * 3)) {
    const std::vector<int64_t> in = input_dimensions(session.get(), 0);
    const std::vector<int64_t> out = output_dimensions(session.get(), 0);
    if (input_names(session.get()) != std::vector<std::string>{"face"} ||
        in != std::vector<int64_t>{1, kSide, kSide, 3} ||
        output_names(session.get()) != std::vector<std::string>{"descriptor"} ||
        out != std::vector<int64_t>{1, kValues}) {
        throw std::runtime_error("not the face-descriptor model (face_descriptor.onnx)");
    }
    OrtMemoryInfo* raw_memory = nullptr;
    ort_check(
        OrtRuntime::api()->CreateCpuMemoryInfo(OrtArenaAllocator, OrtMemTypeDefault, &raw_memory));
    memory.reset(raw_memory);
    input_value = tensor_over(memory.get(), input.data(), in);
    output_value = tensor_over(memory.get(), output.data(), out);
}

const FaceDescriptor& FaceDescriptorNet::describe(const cv::Mat& face) {
    if (face.type() != CV_8UC3 || face.cols != kSide || face.rows != kSide) {
        throw std::runtime_error("a face to describe is an aligned 150 x 150 BGR crop");
    }
    // The network was trained on red, green, blue samples from 0 to 255.
    cv::Mat rgb(static_cast<int>(kSide), static_cast<int>(kSide), CV_32FC3, input.data());
    face.convertTo(rgb, CV_32F);
    cv::cvtColor(rgb, rgb, cv::COLOR_BGR2RGB);
    const char* input_names[] = {"face"};
    const char* output_names[] = {"descriptor"};
    const OrtValue* inputs[] = {input_value.get()};
    OrtValue* outputs[] = {output_value.get()};
    ort_check(OrtRuntime::api()->Run(session.get(), nullptr, input_names, inputs, 1, output_names,
                                     1, outputs));
    return output;
}

} // namespace veilcam
