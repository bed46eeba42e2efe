#include "ort/ort_session.hpp"

#include <functional>
#include <memory>
#include <stdexcept>

#ifdef _WIN32
#include <windows.h>
#endif

namespace veilcam {
namespace {

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

using NameGetter = OrtStatus*(ORT_API_CALL*)(const OrtSession*, size_t, OrtAllocator*, char**);
using CountGetter = OrtStatus*(ORT_API_CALL*)(const OrtSession*, size_t*);

std::vector<std::string> names(OrtSession* session, CountGetter count_of, NameGetter name_of) {
    OrtAllocator* allocator = nullptr;
    ort_check(OrtRuntime::api()->GetAllocatorWithDefaultOptions(&allocator));
    size_t count = 0;
    ort_check(count_of(session, &count));
    std::vector<std::string> result;
    for (size_t i = 0; i < count; ++i) {
        char* raw_name = nullptr;
        ort_check(name_of(session, i, allocator, &raw_name));
        result.emplace_back(take_runtime_string(allocator, raw_name).get());
    }
    return result;
}

using TypeInfoGetter = OrtStatus*(ORT_API_CALL*)(const OrtSession*, size_t, OrtTypeInfo**);

std::vector<int64_t> dimensions(OrtSession* session, size_t index, TypeInfoGetter type_of) {
    const OrtApi* api = OrtRuntime::api();
    OrtTypeInfo* raw_type = nullptr;
    ort_check(type_of(session, index, &raw_type));
    const OrtTypeInfoOwner type_info(raw_type);
    const OrtTensorTypeAndShapeInfo* tensor_info = nullptr;
    ort_check(api->CastTypeInfoToTensorInfo(type_info.get(), &tensor_info));
    size_t count = 0;
    ort_check(api->GetDimensionsCount(tensor_info, &count));
    std::vector<int64_t> result(count, -1);
    ort_check(api->GetDimensions(tensor_info, result.data(), count));
    return result;
}

} // namespace

OrtSessionOwner make_session(const std::string& model_path, OrtProvider provider,
                             int32_t device_index) {
    OrtEnvironment& environment = OrtRuntime::environment();
    const OrtApi* api = OrtRuntime::api();

    OrtSessionOptions* raw_options = nullptr;
    ort_check(api->CreateSessionOptions(&raw_options));
    const OrtSessionOptionsOwner options(raw_options);
    ort_check(api->SetSessionExecutionMode(options.get(), ORT_SEQUENTIAL));
    ort_check(api->SetIntraOpNumThreads(options.get(), 1));
    ort_check(api->SetInterOpNumThreads(options.get(), 1));
    ort_check(api->AddSessionConfigEntry(options.get(), "session.intra_op.allow_spinning", "0"));
    ort_check(api->AddSessionConfigEntry(options.get(), "session.inter_op.allow_spinning", "0"));
    ort_check(api->SetSessionGraphOptimizationLevel(options.get(), ORT_ENABLE_ALL));
    if (provider == OrtProvider::DirectML) {
        // DirectML runs without the runtime's memory planning.
        ort_check(api->DisableMemPattern(options.get()));
        append_directml(options.get(), device_index);
    }

    const auto runtime_path = model_path_for_runtime(model_path);
    OrtSession* raw_session = nullptr;
    ort_check(
        api->CreateSession(environment.env, runtime_path.c_str(), options.get(), &raw_session));
    return OrtSessionOwner(raw_session);
}

std::vector<std::string> input_names(OrtSession* session) {
    const OrtApi* api = OrtRuntime::api();
    return names(session, api->SessionGetInputCount, api->SessionGetInputName);
}

std::vector<std::string> output_names(OrtSession* session) {
    const OrtApi* api = OrtRuntime::api();
    return names(session, api->SessionGetOutputCount, api->SessionGetOutputName);
}

std::vector<int64_t> input_dimensions(OrtSession* session, size_t index) {
    return dimensions(session, index, OrtRuntime::api()->SessionGetInputTypeInfo);
}

std::vector<int64_t> output_dimensions(OrtSession* session, size_t index) {
    return dimensions(session, index, OrtRuntime::api()->SessionGetOutputTypeInfo);
}

} // namespace veilcam
