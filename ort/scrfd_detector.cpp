#include "ort/scrfd_detector.hpp"

#include "ort/ort_session.hpp"

#include <algorithm>
#include <array>
#include <stdexcept>

namespace veilcam {
namespace {

constexpr size_t kOutputCount = 9;
constexpr size_t kChannels = 3;
// On the CPU the input follows the image, in multiples of the coarsest
// stride, up to this; DirectML takes the model's 640 x 640.
constexpr int kLargestCpuSide = 1280;
constexpr float kZeroByte = (0.0f - 127.5f) * 0.0078125f;
constexpr const char* kWrongModel = "DirectML requires the bundled 640x640 SCRFD model";
} // namespace

ScrfdDetector::ScrfdDetector(const std::string& model_path, int32_t device_index,
                             OrtProvider provider)
    : provider(provider) {
    session = make_session(model_path, provider, device_index);
    const std::vector<std::string> inputs = input_names(session.get());
    const std::vector<int64_t> dimensions = input_dimensions(session.get(), 0);
    output_names = veilcam::output_names(session.get());
    if (inputs.size() != 1 || dimensions.size() != 4 ||
        dimensions[1] != static_cast<int64_t>(kChannels) || output_names.size() != kOutputCount) {
        throw std::runtime_error(kWrongModel);
    }
    input_name = inputs.front();
    for (const std::string& name : output_names) {
        output_name_ptrs.push_back(name.c_str());
    }
}

int ScrfdDetector::largest_side() const {
    return provider == OrtProvider::Cpu ? kLargestCpuSide : kScrfdInputSide;
}

void ScrfdDetector::fill_input(const cv::Mat& image, cv::Size tensor) {
    const size_t plane = static_cast<size_t>(tensor.area());
    input_tensor.resize(kChannels * plane);
    std::fill(input_tensor.begin(), input_tensor.end(), kZeroByte);
    float* red = input_tensor.data();
    float* green = red + plane;
    float* blue = green + plane;
    for (int y = 0; y < image.rows; ++y) {
        const uint8_t* pixel = image.ptr<uint8_t>(y);
        const size_t row = static_cast<size_t>(y) * tensor.width;
        for (int x = 0; x < image.cols; ++x, pixel += 3) {
            blue[row + x] = (static_cast<float>(pixel[0]) - 127.5f) * 0.0078125f;
            green[row + x] = (static_cast<float>(pixel[1]) - 127.5f) * 0.0078125f;
            red[row + x] = (static_cast<float>(pixel[2]) - 127.5f) * 0.0078125f;
        }
    }
}

const std::vector<cv::Rect2f>& ScrfdDetector::detect(const cv::Mat& image, float score_threshold,
                                                     int32_t max_faces) {
    if (image.empty() || image.type() != CV_8UC3 || image.cols > largest_side() ||
        image.rows > largest_side()) {
        throw std::runtime_error(provider == OrtProvider::DirectML
                                     ? "Invalid DirectML SCRFD input image"
                                     : "Invalid SCRFD input image");
    }
    const cv::Size tensor = provider == OrtProvider::Cpu
                                ? cv::Size(padded_side(image.cols), padded_side(image.rows))
                                : cv::Size(kScrfdInputSide, kScrfdInputSide);
    fill_input(image, tensor);
    const OrtApi* api = OrtRuntime::api();

    OrtMemoryInfo* raw_memory = nullptr;
    ort_check(api->CreateCpuMemoryInfo(OrtArenaAllocator, OrtMemTypeDefault, &raw_memory));
    const OrtMemoryInfoOwner memory(raw_memory);
    const std::array<int64_t, 4> shape = {1, static_cast<int64_t>(kChannels), tensor.height,
                                          tensor.width};
    OrtValue* raw_input = nullptr;
    ort_check(api->CreateTensorWithDataAsOrtValue(
        memory.get(), input_tensor.data(), input_tensor.size() * sizeof(float), shape.data(),
        shape.size(), ONNX_TENSOR_ELEMENT_DATA_TYPE_FLOAT, &raw_input));
    const OrtValueOwner input(raw_input);

    std::array<OrtValue*, kOutputCount> raw_outputs{};
    const char* input_names[] = {input_name.c_str()};
    const OrtValue* inputs[] = {input.get()};
    OrtStatus* run_status = api->Run(session.get(), nullptr, input_names, inputs, 1,
                                     output_name_ptrs.data(), kOutputCount, raw_outputs.data());
    std::array<OrtValueOwner, kOutputCount> outputs;
    for (size_t i = 0; i < kOutputCount; ++i) {
        outputs[i].reset(raw_outputs[i]);
    }
    ort_check(run_status);

    ScrfdOutputs arrays;
    arrays.tensor = tensor;
    for (size_t k = 0; k < 3; ++k) {
        for (const bool scores : {true, false}) {
            OrtValue* value = outputs[scores ? k : k + 3].get();
            float* data = nullptr;
            ort_check(api->GetTensorMutableData(value, reinterpret_cast<void**>(&data)));
            OrtTensorTypeAndShapeInfo* raw_shape = nullptr;
            ort_check(api->GetTensorTypeAndShape(value, &raw_shape));
            const OrtShapeInfoOwner shape_info(raw_shape);
            size_t count = 0;
            ort_check(api->GetTensorShapeElementCount(shape_info.get(), &count));
            (scores ? arrays.scores : arrays.boxes)[k] = data;
            (scores ? arrays.score_counts : arrays.box_counts)[k] = count;
        }
    }
    decode_scrfd(arrays, image.size(), score_threshold, max_faces, candidates, faces);
    found.assign(faces.begin(), faces.end());
    return found;
}

} // namespace veilcam
