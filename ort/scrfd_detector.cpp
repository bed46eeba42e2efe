#include "ort/scrfd_detector.hpp"

#include <algorithm>
#include <array>
#include <functional>
#include <stdexcept>

#ifdef _WIN32
#include <windows.h>
#endif

namespace veilcam {
namespace {

constexpr size_t kOutputCount = 9;
constexpr size_t kChannels = 3;
constexpr size_t kPlaneSize = static_cast<size_t>(kScrfdInputSide) * kScrfdInputSide;
constexpr float kZeroByte = (0.0f - 127.5f) * 0.0078125f;
constexpr const char* kWrongModel = "DirectML requires the bundled 640x640 SCRFD model";
constexpr const char* kDmlExport = "OrtSessionOptionsAppendExecutionProvider_DML";

using RuntimeString = std::unique_ptr<char, std::function<void(char*)>>;

RuntimeString take_runtime_string(OrtAllocator* allocator, char* text) {
    return RuntimeString(text, [allocator](char* p) { allocator->Free(allocator, p); });
}

#ifdef _WIN32

std::wstring model_path_for_runtime(const std::string& path) {
    if (path.empty()) {
        return std::wstring();
    }
    const int length =
        MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, path.c_str(), -1, nullptr, 0);
    if (length < 1) {
        throw std::runtime_error("Invalid UTF-8 model path");
    }
    std::wstring wide(static_cast<size_t>(length), L'\0');
    MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, path.c_str(), -1, wide.data(), length);
    wide.resize(static_cast<size_t>(length) - 1);
    return wide;
}

#else

bool is_valid_utf8(const std::string& text) {
    size_t i = 0;
    while (i < text.size()) {
        const auto lead = static_cast<unsigned char>(text[i]);
        size_t extra = 0;
        uint32_t code = 0;
        if (lead < 0x80) {
            ++i;
            continue;
        } else if ((lead & 0xE0) == 0xC0) {
            extra = 1;
            code = lead & 0x1F;
        } else if ((lead & 0xF0) == 0xE0) {
            extra = 2;
            code = lead & 0x0F;
        } else if ((lead & 0xF8) == 0xF0) {
            extra = 3;
            code = lead & 0x07;
        } else {
            return false;
        }
        if (i + extra >= text.size()) {
            return false;
        }
        for (size_t k = 1; k <= extra; ++k) {
            const auto next = static_cast<unsigned char>(text[i + k]);
            if ((next & 0xC0) != 0x80) {
                return false;
            }
            code = (code << 6) | (next & 0x3F);
        }
        static constexpr uint32_t kSmallest[] = {0, 0x80, 0x800, 0x10000};
        if (code < kSmallest[extra] || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF)) {
            return false;
        }
        i += extra + 1;
    }
    return true;
}

std::string model_path_for_runtime(const std::string& path) {
    if (!is_valid_utf8(path)) {
        throw std::runtime_error("Invalid UTF-8 model path");
    }
    return path;
}

#endif

void append_directml(OrtSessionOptions* options, int32_t device_index) {
    using AppendDml = OrtStatus*(ORT_API_CALL*)(OrtSessionOptions*, int);
    auto append = reinterpret_cast<AppendDml>(OrtRuntime::symbol(kDmlExport));
    if (!append) {
        throw std::runtime_error(std::string("Missing ONNX Runtime export: ") + kDmlExport);
    }
    ort_check(append(options, device_index));
}

} // namespace

ScrfdDetector::ScrfdDetector(const std::string& model_path, int32_t device_index,
                             ScrfdProvider provider)
    : input_tensor(kChannels * kPlaneSize, 0.0f) {
    OrtEnvironment& environment = OrtRuntime::environment();
    const OrtApi* api = OrtRuntime::api();

    OrtSessionOptions* raw_options = nullptr;
    ort_check(api->CreateSessionOptions(&raw_options));
    const OrtSessionOptionsOwner options(raw_options);
    ort_check(api->SetSessionExecutionMode(options.get(), ORT_SEQUENTIAL));
    ort_check(api->DisableMemPattern(options.get()));
    ort_check(api->SetSessionGraphOptimizationLevel(options.get(), ORT_ENABLE_ALL));
    if (provider == ScrfdProvider::DirectML) {
        append_directml(options.get(), device_index);
    }

    const auto runtime_path = model_path_for_runtime(model_path);
    OrtSession* raw_session = nullptr;
    ort_check(
        api->CreateSession(environment.env, runtime_path.c_str(), options.get(), &raw_session));
    session.reset(raw_session);

    OrtAllocator* allocator = nullptr;
    ort_check(api->GetAllocatorWithDefaultOptions(&allocator));
    char* raw_name = nullptr;
    ort_check(api->SessionGetInputName(session.get(), 0, allocator, &raw_name));
    const RuntimeString runtime_input_name = take_runtime_string(allocator, raw_name);
    input_name = runtime_input_name.get();

    OrtTypeInfo* raw_type = nullptr;
    ort_check(api->SessionGetInputTypeInfo(session.get(), 0, &raw_type));
    const OrtTypeInfoOwner type_info(raw_type);
    const OrtTensorTypeAndShapeInfo* tensor_info = nullptr;
    ort_check(api->CastTypeInfoToTensorInfo(type_info.get(), &tensor_info));
    size_t dimension_count = 0;
    ort_check(api->GetDimensionsCount(tensor_info, &dimension_count));
    std::vector<int64_t> dimensions(dimension_count, -1);
    ort_check(api->GetDimensions(tensor_info, dimensions.data(), dimension_count));
    if (dimension_count != 4 || dimensions[1] != static_cast<int64_t>(kChannels)) {
        throw std::runtime_error(kWrongModel);
    }

    size_t output_count = 0;
    ort_check(api->SessionGetOutputCount(session.get(), &output_count));
    if (output_count != kOutputCount) {
        throw std::runtime_error(kWrongModel);
    }
    output_names.reserve(kOutputCount);
    output_name_ptrs.reserve(kOutputCount);
    for (size_t i = 0; i < kOutputCount; ++i) {
        ort_check(api->SessionGetOutputName(session.get(), i, allocator, &raw_name));
        output_names.emplace_back(take_runtime_string(allocator, raw_name).get());
    }
    for (const std::string& name : output_names) {
        output_name_ptrs.push_back(name.c_str());
    }
}

void ScrfdDetector::fill_input(const cv::Mat& image) {
    std::fill(input_tensor.begin(), input_tensor.end(), kZeroByte);
    float* red = input_tensor.data();
    float* green = red + kPlaneSize;
    float* blue = green + kPlaneSize;
    for (int y = 0; y < image.rows; ++y) {
        const uint8_t* pixel = image.ptr<uint8_t>(y);
        const size_t row = static_cast<size_t>(y) * kScrfdInputSide;
        for (int x = 0; x < image.cols; ++x, pixel += 3) {
            blue[row + x] = (static_cast<float>(pixel[0]) - 127.5f) * 0.0078125f;
            green[row + x] = (static_cast<float>(pixel[1]) - 127.5f) * 0.0078125f;
            red[row + x] = (static_cast<float>(pixel[2]) - 127.5f) * 0.0078125f;
        }
    }
}

const std::vector<cv::Rect>& ScrfdDetector::detect(const cv::Mat& image, float score_threshold,
                                                   int32_t max_faces) {
    if (image.empty() || image.type() != CV_8UC3 || image.cols > kScrfdInputSide ||
        image.rows > kScrfdInputSide) {
        throw std::runtime_error("Invalid DirectML SCRFD input image");
    }
    fill_input(image);
    const OrtApi* api = OrtRuntime::api();

    OrtMemoryInfo* raw_memory = nullptr;
    ort_check(api->CreateCpuMemoryInfo(OrtArenaAllocator, OrtMemTypeDefault, &raw_memory));
    const OrtMemoryInfoOwner memory(raw_memory);
    const std::array<int64_t, 4> shape = {1, static_cast<int64_t>(kChannels), kScrfdInputSide,
                                          kScrfdInputSide};
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
    return faces;
}

} // namespace veilcam
