// A stand-in for OBS Studio's obs.dll that also holds the checks of the
// plug-in under Wine: the real OBS cannot run on this machine. It gives
// obs-veilcam.dll the libobs functions it imports (those obs.def lists) with
// just enough behaviour (settings with defaults, properties whose list items
// can be read back, a log to search, the one source the module registers),
// then drives the filter as OBS would, printing one line per check.
// `veilcam-test-host.exe WORK_DIR` (launcher.cpp) runs the checks on a work
// folder as tests/windows/run.sh prepares it: the plug-in laid out as the zip
// lays it out (obs-veilcam), a copy of its data (données), the photo
// (photo.bgra, and photo.txt: width, height, then x y w h of each face) and
// onnxruntime.dll, which the checks put in place half-way.
#include <obs-module.h>
#include <windows.h>
// after windows.h, which it needs
#include <tlhelp32.h>

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <map>
#include <memory>
#include <string>
#include <variant>
#include <vector>

using Value = std::variant<bool, long long, double, std::string>;

struct obs_data {
    std::map<std::string, Value> values;
    std::map<std::string, Value> defaults;
};

struct obs_property {
    std::string name;
};

struct obs_properties {
    std::vector<std::unique_ptr<obs_property>> properties;
};

namespace {

std::string g_log;
std::string g_list_items;
std::string g_data_dir;
obs_source_info g_source = {};

// The stored value, else the default, else null.
template <typename T> const T* get(obs_data_t* data, const char* name) {
    for (const auto* values : {&data->values, &data->defaults}) {
        const auto found = values->find(name);
        if (found != values->end() && std::holds_alternative<T>(found->second)) {
            return &std::get<T>(found->second);
        }
    }
    return nullptr;
}

} // namespace

extern "C" {

void blog(int level, const char* format, ...) {
    char line[4096];
    va_list args;
    va_start(args, format);
    std::vsnprintf(line, sizeof(line), format, args);
    va_end(args);
    std::printf("[%d] %s\n", level, line);
    std::fflush(stdout);
    g_log += std::to_string(level) + " " + line + "\n";
}

void bfree(void* memory) {
    std::free(memory);
}

bool obs_data_get_bool(obs_data_t* data, const char* name) {
    return get<bool>(data, name) && *get<bool>(data, name);
}
long long obs_data_get_int(obs_data_t* data, const char* name) {
    return get<long long>(data, name) ? *get<long long>(data, name) : 0;
}
double obs_data_get_double(obs_data_t* data, const char* name) {
    return get<double>(data, name) ? *get<double>(data, name) : 0.0;
}
const char* obs_data_get_string(obs_data_t* data, const char* name) {
    return get<std::string>(data, name) ? get<std::string>(data, name)->c_str() : "";
}
void obs_data_set_default_bool(obs_data_t* data, const char* name, bool value) {
    data->defaults[name] = value;
}
void obs_data_set_default_int(obs_data_t* data, const char* name, long long value) {
    data->defaults[name] = value;
}
void obs_data_set_default_double(obs_data_t* data, const char* name, double value) {
    data->defaults[name] = value;
}
void obs_data_set_default_string(obs_data_t* data, const char* name, const char* value) {
    data->defaults[name] = std::string(value);
}

// What the checks do not need: obs.def exports obs_filter_get_parent,
// obs_source_release_frame, the locale's functions (no translations: the
// module then shows its keys), the source's signals, obs_data_set_int and
// the remembered faces' saving (data objects and arrays: none, of no items)
// as this, which answers null, false, zero or nothing.
void* stand_in_nothing(void) {
    return nullptr;
}

// libobs gives paths in UTF-8, as here.
char* obs_find_module_file(obs_module_t*, const char* file) {
    const std::string path = g_data_dir + "/" + file;
    wchar_t wide[MAX_PATH];
    if (MultiByteToWideChar(CP_UTF8, 0, path.c_str(), -1, wide, MAX_PATH) == 0 ||
        GetFileAttributesW(wide) == INVALID_FILE_ATTRIBUTES) {
        return nullptr;
    }
    return strdup(path.c_str());
}

void obs_register_source_s(const obs_source_info* info, size_t size) {
    std::memcpy(&g_source, info, std::min(size, sizeof(g_source)));
}

obs_properties_t* obs_properties_create(void) {
    g_list_items.clear();
    return new obs_properties;
}
void obs_properties_destroy(obs_properties_t* props) {
    delete props;
}
// Every obs_properties_add_* is exported as this: on x64 the properties and
// the name come first in every one of them, and the rest is left unread.
obs_property_t* stand_in_add_property(obs_properties_t* props, const char* name) {
    props->properties.push_back(std::make_unique<obs_property>(obs_property{name}));
    return props->properties.back().get();
}
size_t obs_property_list_add_string(obs_property_t* p, const char* name, const char* value) {
    g_list_items += p->name + ": " + value + " = " + name + "\n";
    return 0;
}
size_t obs_property_list_add_int(obs_property_t* p, const char* name, long long value) {
    g_list_items += p->name + ": " + std::to_string(value) + " = " + name + "\n";
    return 0;
}

} // extern "C"

namespace {

int g_failures = 0;

void check(bool ok, const std::string& what) {
    std::printf("%s: %s\n", ok ? "ok" : "FAILED", what.c_str());
    std::fflush(stdout);
    g_failures += ok ? 0 : 1;
}

struct Rect {
    int x, y, width, height;
};

struct Photo {
    std::vector<uint8_t> bgra;
    int width = 0;
    int height = 0;
    std::vector<Rect> faces;
};

// The mean step between neighbouring pixels of a face, in grey levels.
double detail(const std::vector<uint8_t>& bgra, int width, const Rect& r) {
    auto grey = [&](int x, int y) {
        const uint8_t* p = &bgra[(static_cast<size_t>(y) * width + x) * 4];
        return (p[0] + p[1] + p[2]) / 3.0;
    };
    double sum = 0;
    for (int y = r.y; y < r.y + r.height; ++y) {
        for (int x = r.x; x + 1 < r.x + r.width; ++x) {
            sum += std::abs(grey(x + 1, y) - grey(x, y));
        }
    }
    return sum / (static_cast<double>(r.height) * (r.width - 1));
}

size_t count_in_log(const std::string& text) {
    size_t count = 0;
    for (size_t at = g_log.find(text); at != std::string::npos; at = g_log.find(text, at + 1)) {
        ++count;
    }
    return count;
}

// A filter on `device` given two frames of the photo: true when every face
// came out with less than half its detail. The filter is destroyed after.
bool hides_faces(const obs_source_info& info, const Photo& photo, const char* device) {
    obs_data settings;
    info.get_defaults(&settings);
    settings.values["tracking_device"] = std::string(device);
    static int source_stand_in;
    void* filter = info.create(&settings, reinterpret_cast<obs_source_t*>(&source_stand_in));
    bool hidden = filter != nullptr;
    for (int pass = 0; pass < 2 && hidden; ++pass) {
        std::vector<uint8_t> pixels = photo.bgra;
        obs_source_frame frame = {};
        frame.data[0] = pixels.data();
        frame.linesize[0] = static_cast<uint32_t>(photo.width * 4);
        frame.width = static_cast<uint32_t>(photo.width);
        frame.height = static_cast<uint32_t>(photo.height);
        frame.format = VIDEO_FORMAT_BGRA;
        frame.full_range = true;
        hidden = info.filter_video(filter, &frame) == &frame;
        for (const Rect& face : photo.faces) {
            hidden = hidden && detail(pixels, photo.width, face) <
                                   0.5 * detail(photo.bgra, photo.width, face);
        }
    }
    if (filter) {
        info.destroy(filter);
    }
    return hidden;
}

// How many threads this process runs now.
int thread_count() {
    const HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0);
    THREADENTRY32 entry = {};
    entry.dwSize = sizeof entry;
    int count = 0;
    for (BOOL more = Thread32First(snapshot, &entry); more; more = Thread32Next(snapshot, &entry)) {
        count += entry.th32OwnerProcessID == GetCurrentProcessId();
    }
    CloseHandle(snapshot);
    return count;
}

// An export of the module as the function it is (through void*, which the
// compiler lets any function pointer pass).
template <typename Function> Function module_function(HMODULE module, const char* name) {
    return reinterpret_cast<Function>(reinterpret_cast<void*>(GetProcAddress(module, name)));
}

} // namespace

// The checks, called by the launcher; returns how many failed.
extern "C" int run_checks(const char* work_dir) {
    const std::string work = std::string(work_dir) + "\\";
    const std::string plugin = work + "obs-veilcam", binaries = plugin + "\\bin\\64bit\\";
    // libobs passes paths in UTF-8, as this literal is.
    const std::string data_copy = work + "données";
    Photo photo;
    std::ifstream pixels(work + "photo.bgra", std::ios::binary), labels(work + "photo.txt");
    photo.bgra.assign(std::istreambuf_iterator<char>(pixels), {});
    labels >> photo.width >> photo.height;
    for (Rect r{}; labels >> r.x >> r.y >> r.width >> r.height;) {
        photo.faces.push_back(r);
    }
    if (photo.faces.empty() || photo.bgra.size() != size_t{4} * photo.width * photo.height) {
        std::fprintf(stderr, "%s holds no labelled BGRA photo\n", work.c_str());
        return 100;
    }

    HMODULE module = LoadLibraryA((binaries + "obs-veilcam.dll").c_str());
    check(module != nullptr, "obs-veilcam.dll loads with the stand-in obs.dll");
    if (!module) {
        return g_failures;
    }
    g_data_dir = plugin + "\\data";
    static int module_stand_in;
    module_function<void (*)(obs_module_t*)>(module, "obs_module_set_pointer")(
        reinterpret_cast<obs_module_t*>(&module_stand_in));
    module_function<void (*)(const char*)>(module, "obs_module_set_locale")("en-US");
    const bool loaded = module_function<bool (*)()>(module, "obs_module_load")();
    const obs_source_info& info = g_source;
    check(loaded && info.id && std::strcmp(info.id, "veilcam_filter") == 0,
          "the module registers veilcam_filter");
    if (!loaded || !info.id) {
        return g_failures;
    }

    const int threads = thread_count();
    check(hides_faces(info, photo, "cpu"), "the CPU detector hides the faces");
    check(thread_count() == threads,
          "and starts no thread: the DLL's own OpenCV runs on the calling thread (" +
              std::to_string(threads) + " threads before, " + std::to_string(thread_count()) +
              " after)");
    g_data_dir = data_copy;
    check(hides_faces(info, photo, "cpu") && count_in_log("YuNet CPU load failed") == 0,
          "so it does with the data in " + data_copy);
    g_data_dir = plugin + "\\data";
    obs_properties_destroy(info.get_properties(nullptr));
    const std::string items = g_list_items;
    std::printf("%s", items.c_str());
    check(items.find("tracking_device: dml:0 = ") != std::string::npos,
          "the GPU list holds Wine's adapter as dml:0");

    const std::string missing = "Could not load bundled onnxruntime.dll";
    check(hides_faces(info, photo, "cpu-ort") && count_in_log(missing) == 1,
          "without onnxruntime.dll: \"" + missing + "\", and YuNet on OpenCV hides the faces");
    check(CopyFileA((work + "onnxruntime.dll").c_str(), (binaries + "onnxruntime.dll").c_str(),
                    TRUE) != 0,
          "onnxruntime.dll put in place");
    check(hides_faces(info, photo, "cpu-ort") &&
              count_in_log("YuNet detector ready on ONNX Runtime's CPU provider") == 1,
          "a later start-up loads it: YuNet on ONNX Runtime hides the faces");
    check(hides_faces(info, photo, "dml:7") && count_in_log("DirectML GPU 'dml:7' failed (") == 1,
          "dml:7 falls back with the runtime's message, and the faces are hidden");
    return g_failures;
}
