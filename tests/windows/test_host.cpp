// A small Windows host for the plug-in under Wine: it loads the real
// obs-veilcam.dll beside the stand-in obs.dll (OBS itself cannot run here)
// and drives the filter as OBS would, printing one line per check and
// returning the number of failed checks.
//   veilcam-test-host.exe WORK_DIR
// WORK_DIR, as tests/windows/run.sh prepares it, holds the plug-in laid out as
// the zip lays it out (obs-veilcam), a copy of its data (données), the photo
// (photo.bgra, and photo.txt: width, height, then x y w h of each face) and
// onnxruntime.dll, which the host puts in place half-way.
#include "tests/windows/obs_stand_in.hpp"

#include <windows.h>

#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

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
    const std::string log = stand_in_log();
    size_t count = 0;
    for (size_t at = log.find(text); at != std::string::npos; at = log.find(text, at + 1)) {
        ++count;
    }
    return count;
}

// A filter on `device` given two frames of the photo: true when every face
// came out with less than half its detail. The filter is destroyed after.
bool hides_faces(const obs_source_info& info, const Photo& photo, const char* device) {
    obs_data_t* settings = stand_in_data_create();
    info.get_defaults(settings);
    stand_in_data_set_string(settings, "tracking_device", device);
    static int source_stand_in;
    void* filter = info.create(settings, reinterpret_cast<obs_source_t*>(&source_stand_in));
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
    stand_in_data_destroy(settings);
    return hidden;
}

// An export of the module as the function it is (through void*, which the
// compiler lets any function pointer pass).
template <typename Function> Function module_function(HMODULE module, const char* name) {
    return reinterpret_cast<Function>(reinterpret_cast<void*>(GetProcAddress(module, name)));
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: veilcam-test-host WORK_DIR\n");
        return 100;
    }
    const std::string work = std::string(argv[1]) + "\\";
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
    stand_in_set_data_dir((plugin + "\\data").c_str());
    static int module_stand_in;
    module_function<void (*)(obs_module_t*)>(module, "obs_module_set_pointer")(
        reinterpret_cast<obs_module_t*>(&module_stand_in));
    module_function<void (*)(const char*)>(module, "obs_module_set_locale")("en-US");
    const bool loaded = module_function<bool (*)()>(module, "obs_module_load")();
    const obs_source_info& info = *stand_in_registered_source();
    check(loaded && info.id && std::strcmp(info.id, "veilcam_filter") == 0,
          "the module registers veilcam_filter");
    if (!loaded || !info.id) {
        return g_failures;
    }

    check(hides_faces(info, photo, "cpu"), "the CPU detector hides the faces");
    stand_in_set_data_dir(data_copy.c_str());
    check(hides_faces(info, photo, "cpu") && count_in_log("YuNet CPU load failed") == 0,
          "so it does with the data in " + data_copy);
    stand_in_set_data_dir((plugin + "\\data").c_str());
    obs_properties_destroy(info.get_properties(nullptr));
    const std::string items = stand_in_list_items();
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
