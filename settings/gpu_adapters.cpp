#include "settings/gpu_adapters.hpp"

#ifdef _WIN32
#include <windows.h>

#include <dxgi.h>

#include <memory>
#endif

namespace veilcam {

#ifdef _WIN32

namespace {

struct ReleaseCom {
    void operator()(IUnknown* object) const { object->Release(); }
};
template <typename T> using ComOwner = std::unique_ptr<T, ReleaseCom>;

std::string utf8_name(const wchar_t* description) {
    if (description[0] == 0) {
        return {};
    }
    const int size = WideCharToMultiByte(CP_UTF8, 0, description, -1, nullptr, 0, nullptr, nullptr);
    if (size <= 0) {
        return {};
    }
    std::string name(static_cast<size_t>(size), '\0');
    WideCharToMultiByte(CP_UTF8, 0, description, -1, name.data(), size, nullptr, nullptr);
    name.resize(static_cast<size_t>(size) - 1);
    return name;
}

} // namespace

std::vector<GpuAdapter> list_gpu_adapters() {
    std::vector<GpuAdapter> adapters;
    IDXGIFactory1* raw_factory = nullptr;
    if (FAILED(
            CreateDXGIFactory1(__uuidof(IDXGIFactory1), reinterpret_cast<void**>(&raw_factory)))) {
        return adapters;
    }
    const ComOwner<IDXGIFactory1> factory(raw_factory);
    for (UINT position = 0;; ++position) {
        IDXGIAdapter1* raw_adapter = nullptr;
        if (FAILED(factory->EnumAdapters1(position, &raw_adapter))) {
            break; // DXGI_ERROR_NOT_FOUND ends the list; so does any other failure
        }
        const ComOwner<IDXGIAdapter1> adapter(raw_adapter);
        DXGI_ADAPTER_DESC1 desc = {};
        if (SUCCEEDED(adapter->GetDesc1(&desc)) && !(desc.Flags & DXGI_ADAPTER_FLAG_SOFTWARE)) {
            adapters.push_back(
                GpuAdapter{static_cast<int32_t>(position), utf8_name(desc.Description)});
        }
    }
    return adapters;
}

#else

std::vector<GpuAdapter> list_gpu_adapters() {
    return {};
}

#endif

} // namespace veilcam
