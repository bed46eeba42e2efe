#include "ort/ort_runtime.hpp"

#include <atomic>
#include <memory>
#include <stdexcept>
#include <string>

#ifdef _WIN32
#include <windows.h>
#else
#include <dlfcn.h>
#endif

namespace veilcam {
namespace {

std::atomic<const OrtApi*> g_api{nullptr};

#ifdef _WIN32

void* load_library() {
    HMODULE self = nullptr;
    if (!GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS |
                                GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                            reinterpret_cast<LPCWSTR>(&OrtRuntime::library), &self)) {
        throw std::runtime_error("Could not locate plugin module");
    }
    std::wstring path(32768, L'\0');
    const DWORD length = GetModuleFileNameW(self, path.data(), 32768);
    if (length == 0 || length >= 32768) {
        throw std::runtime_error("Could not locate plugin directory");
    }
    path.resize(length);
    const size_t slash = path.find_last_of(L"\\/");
    std::wstring runtime_path = slash == std::wstring::npos ? L"" : path.substr(0, slash + 1);
    runtime_path += L"onnxruntime.dll";
    HMODULE runtime =
        LoadLibraryExW(runtime_path.c_str(), nullptr,
                       LOAD_LIBRARY_SEARCH_DLL_LOAD_DIR | LOAD_LIBRARY_SEARCH_DEFAULT_DIRS);
    if (!runtime) {
        throw std::runtime_error("Could not load bundled onnxruntime.dll");
    }
    return runtime;
}

void* find_symbol(void* library, const char* name) {
    return reinterpret_cast<void*>(GetProcAddress(static_cast<HMODULE>(library), name));
}

#else

// The runtime is taken from the folder of the module file, never from the
// library search path, so that another program's runtime is never picked up.
void* load_library() {
    Dl_info self{};
    if (!dladdr(reinterpret_cast<void*>(&OrtRuntime::library), &self) || !self.dli_fname) {
        throw std::runtime_error("Could not locate plugin module");
    }
    const std::string path = self.dli_fname;
    if (path.empty()) {
        throw std::runtime_error("Could not locate plugin directory");
    }
    const size_t slash = path.find_last_of('/');
    const std::string folder = slash == std::string::npos ? "./" : path.substr(0, slash + 1);
    void* runtime = dlopen((folder + "libonnxruntime.so.1").c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!runtime) {
        // dlerror says which file and why: missing, or a library it needs.
        const char* why = dlerror();
        throw std::runtime_error(std::string("Could not load bundled libonnxruntime.so.1: ") +
                                 (why ? why : "unknown error"));
    }
    return runtime;
}

void* find_symbol(void* library, const char* name) {
    return dlsym(library, name);
}

#endif

struct EnvironmentDeleter {
    void operator()(OrtEnvironment* holder) const {
        if (holder->env) {
            OrtRuntime::api()->ReleaseEnv(holder->env);
        }
        delete holder;
    }
};

OrtEnvironment* create_environment() {
    void* library = OrtRuntime::library();
    using GetApiBase = const OrtApiBase*(ORT_API_CALL*)();
    auto get_api_base = reinterpret_cast<GetApiBase>(find_symbol(library, "OrtGetApiBase"));
    if (!get_api_base) {
        throw std::runtime_error("Missing ONNX Runtime export: OrtGetApiBase");
    }
    const OrtApi* api = get_api_base()->GetApi(kOrtApiVersion);
    if (!api) {
        throw std::runtime_error("The bundled ONNX Runtime is too old: it lacks API version " +
                                 std::to_string(kOrtApiVersion));
    }
    g_api.store(api);
    Ort::InitApi(api);

    // Freed, with its OrtEnv, when creating or configuring the environment fails.
    std::unique_ptr<OrtEnvironment, EnvironmentDeleter> holder(new OrtEnvironment);
    ort_check(api->CreateEnv(ORT_LOGGING_LEVEL_WARNING, "obs-veilcam", &holder->env));
    ort_check(api->SetLanguageProjection(holder->env, ORT_PROJECTION_CPLUSPLUS));
    return holder.release();
}

} // namespace

void* OrtRuntime::library() {
    static void* const handle = load_library();
    return handle;
}

OrtEnvironment& OrtRuntime::environment() {
    static OrtEnvironment* const environment = create_environment();
    return *environment;
}

const OrtApi* OrtRuntime::api() {
    return g_api.load();
}

void* OrtRuntime::symbol(const char* name) {
    return find_symbol(library(), name);
}

void ort_check(OrtStatus* status) {
    if (!status) {
        return;
    }
    const OrtApi* api = OrtRuntime::api();
    std::string message = api->GetErrorMessage(status);
    const OrtErrorCode code = api->GetErrorCode(status);
    api->ReleaseStatus(status);
    throw Ort::Exception(std::move(message), code);
}

} // namespace veilcam
