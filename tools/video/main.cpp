// veilcam-video: hides the faces in a video file with the plug-in's own filter.
#include "detection/face_detector.hpp"
#include "plugin/filter_callbacks.hpp"
#include "tools/video/anonymize.hpp"
#include "tools/video/ffmpeg_owners.hpp"
#include "tools/video/options.hpp"
#include "tools/video/progress.hpp"
#include "tools/video/stop_signals.hpp"

#include <util/base.h>

#include <cstdarg>
#include <cstdio>
#include <filesystem>
#include <memory>

namespace {

namespace fs = std::filesystem;
using namespace veilcam;

struct SettingsRelease {
    void operator()(obs_data_t* settings) const { obs_data_release(settings); }
};

void print_log_line(int level, const char* format, va_list args, void*) {
    video::clear_progress_line();
    const char* prefix = level <= LOG_ERROR ? "error: " : level <= LOG_WARNING ? "warning: " : "";
    std::fputs(prefix, stderr);
    std::vfprintf(stderr, format, args);
    std::fputc('\n', stderr);
}

int fail(const std::string& message, int code = 1) {
    video::clear_progress_line();
    std::fprintf(stderr, "veilcam-video: %s\n", message.c_str());
    return code;
}

// The data folder beside the tool, in the layout of the build and of the plug-in.
fs::path data_beside_tool() {
    return fs::read_symlink("/proc/self/exe").parent_path() / "data";
}

// The output and the still alike: never the input, never an existing file
// unless --overwrite.
void check_writable(const fs::path& input, const std::string& path, bool overwrite) {
    std::error_code error;
    if (fs::exists(path, error)) {
        if (fs::exists(input, error) && fs::equivalent(input, path, error)) {
            throw video::VideoError("refusing to write over the input " + input.string());
        }
        if (!overwrite) {
            throw video::VideoError(path + " exists; give --overwrite to replace it");
        }
    }
}

void check_paths(const video::Options& options) {
    check_writable(options.input, options.output, options.overwrite);
    if (!options.still.empty()) {
        check_writable(options.input, options.still, options.overwrite);
    }
}

void check_model(const fs::path& model) {
    if (!fs::is_regular_file(model)) {
        throw video::VideoError("missing model " + model.string() +
                                " (see README: the build copies it from ../shared/models)");
    }
}

} // namespace

int main(int argc, char** argv) {
    av_log_set_level(AV_LOG_ERROR);
    base_set_log_handler(print_log_line, nullptr);
    const std::unique_ptr<obs_data_t, SettingsRelease> settings(obs_data_create());
    get_defaults(settings.get());

    video::Options options;
    try {
        options = video::parse_options(argc, argv, settings.get());
    } catch (const std::exception& e) {
        return fail(std::string(e.what()) + " (see --help)", 2);
    }
    if (options.help) {
        std::fputs(video::usage(settings.get()).c_str(), stdout);
        return 0;
    }

    video::catch_stop_signals();
    try {
        const fs::path data = data_beside_tool();
        if (*obs_data_get_string(settings.get(), "model_path") == '\0') {
            obs_data_set_string(settings.get(), "model_path", (data / kYunetModelFile).c_str());
        }
        check_model(obs_data_get_string(settings.get(), "model_path"));
        const fs::path scrfd_model = data / kScrfdModelFile;
        if (options.scrfd_cpu) {
            check_model(scrfd_model);
        }
        check_paths(options);
        const video::Summary summary =
            video::anonymize(options, settings.get(), scrfd_model.string());
        std::printf("veilcam-video: %lld frames, %llu faces tracked, %.1f s (%.1f fps) -> %s\n",
                    static_cast<long long>(summary.frames),
                    static_cast<unsigned long long>(summary.faces_tracked), summary.seconds,
                    summary.seconds > 0 ? summary.frames / summary.seconds : 0.0,
                    options.output.c_str());
        if (summary.damaged_packets > 0) {
            std::printf("veilcam-video: %lld damaged video packets skipped\n",
                        static_cast<long long>(summary.damaged_packets));
        }
        if (!options.still.empty()) {
            std::printf("veilcam-video: before/after still -> %s\n", options.still.c_str());
        }
        return 0;
    } catch (const video::Stopped& e) {
        return fail(e.what(), 128 + e.signal_number);
    } catch (const std::exception& e) {
        return fail(e.what());
    }
}
