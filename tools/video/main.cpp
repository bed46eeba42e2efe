// veilcam-video: hides the faces in a video file with the plug-in's own filter.
#include "detection/face_detector.hpp"
#include "plugin/filter_callbacks.hpp"
#include "settings/filter_settings.hpp"
#include "tools/video/anonymize.hpp"
#include "tools/video/ffmpeg_owners.hpp"
#include "tools/video/frame_convert.hpp"
#include "tools/video/options.hpp"
#include "tools/video/photo_faces.hpp"
#include "tools/video/progress.hpp"
#include "tools/video/stop_signals.hpp"

#include <opencv2/imgcodecs.hpp>
#include <util/base.h>

#include <cstdarg>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <set>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;
using namespace veilcam;

struct SettingsRelease {
    void operator()(obs_data_t* settings) const { obs_data_release(settings); }
};
struct LocaleRelease {
    void operator()(lookup_t* locale) const { text_lookup_destroy(locale); }
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
// Whether a name is in use, also by a link that leads nowhere.
bool name_taken(const fs::path& path) {
    std::error_code error;
    return fs::exists(fs::symlink_status(path, error));
}

// Through links and other spellings, whether the files exist or not yet.
bool same_file(const fs::path& a, const fs::path& b) {
    std::error_code error, a_error, b_error;
    const fs::path real_a = fs::weakly_canonical(a, a_error);
    const fs::path real_b = fs::weakly_canonical(b, b_error);
    return fs::equivalent(a, b, error) || (!a_error && !b_error && real_a == real_b);
}

// The output and the still alike: never the input, never an existing file
// unless --overwrite.
void check_writable(const fs::path& input, const std::string& path, bool overwrite) {
    if (same_file(input, path)) {
        throw video::VideoError("refusing to write over the input " + input.string());
    }
    if (name_taken(path) && !overwrite) {
        throw video::VideoError(path + " exists; give --overwrite to replace it");
    }
}

// Everything that would otherwise fail only once frames are being written.
void check_paths(const video::Options& options) {
    check_writable(options.input, options.output, options.overwrite);
    const AVOutputFormat* container = av_guess_format(nullptr, options.output.c_str(), nullptr);
    if (!container) {
        throw video::VideoError("cannot choose an output format for " + options.output +
                                " (name it NAME.mkv or NAME.mp4)");
    }
    if (avformat_query_codec(container, AV_CODEC_ID_H264, FF_COMPLIANCE_NORMAL) == 0) {
        throw video::VideoError(options.output + ": the " + container->name +
                                " format cannot hold H.264 video (name it NAME.mkv or NAME.mp4)");
    }
    if (options.still.empty()) {
        return;
    }
    check_writable(options.input, options.still, options.overwrite);
    if (same_file(options.still, options.output)) {
        throw video::VideoError("the still and the output are both " + options.output);
    }
    if (!cv::haveImageWriter(options.still)) {
        throw video::VideoError("cannot write the still " + options.still +
                                " as a picture (name it NAME.png or NAME.jpg)");
    }
}

struct Job {
    std::string input, output;
};

// One output per input: DIR/NAME.mkv, numbered where two inputs share a name
// or the name is taken in DIR (unless --overwrite), never the name of an input.
std::vector<Job> jobs_of(const video::Options& options) {
    if (options.output_dir.empty()) {
        return {{options.inputs.front(), options.output}};
    }
    std::vector<Job> jobs;
    std::set<std::string> taken;
    for (const std::string& input : options.inputs) {
        taken.insert(fs::absolute(input).lexically_normal().string());
    }
    for (const std::string& input : options.inputs) {
        const std::string stem = fs::path(input).stem().string();
        fs::path output;
        for (int n = 1; output.empty() || taken.count(output.string()) ||
                        (!options.overwrite && name_taken(output));
             ++n) {
            const std::string name = n == 1 ? stem : stem + "-" + std::to_string(n);
            output =
                fs::absolute(fs::path(options.output_dir) / (name + ".mkv")).lexically_normal();
        }
        taken.insert(output.string());
        jobs.push_back({input, output.string()});
    }
    return jobs;
}

void report(const video::Summary& summary, const video::Options& options) {
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
}

struct Row {
    std::string file;
    video::Summary summary;
    std::string result;
};

void print_table(const std::vector<Row>& rows) {
    std::printf("\n%-40s %8s %6s %7s  %s\n", "file", "frames", "faces", "fps", "result");
    for (const Row& row : rows) {
        const video::Summary& s = row.summary;
        std::printf("%-40s %8lld %6llu %7.1f  %s\n", row.file.c_str(),
                    static_cast<long long>(s.frames),
                    static_cast<unsigned long long>(s.faces_tracked),
                    s.seconds > 0 ? s.frames / s.seconds : 0.0, row.result.c_str());
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
    video::catch_stop_signals();
    av_log_set_level(AV_LOG_ERROR);
    base_set_log_handler(print_log_line, nullptr);
    const std::unique_ptr<obs_data_t, SettingsRelease> settings(obs_data_create());
    get_defaults(settings.get());
    // A file has no frame deadline: every frame is searched, so that a face
    // coming into the picture is hidden on its first frame.
    obs_data_set_default_int(settings.get(), "detection_interval", 1);

    video::Options options;
    try {
        options = video::parse_options(argc, argv, settings.get());
    } catch (const std::exception& e) {
        return fail(std::string(e.what()) + " (see --help)", 2);
    }
    if (options.help) {
        const std::unique_ptr<lookup_t, LocaleRelease> locale(
            text_lookup_create((video::data_beside_tool() / "locale/en-US.ini").c_str()));
        std::fputs(video::usage(settings.get(), locale.get(), named_device_choices()).c_str(),
                   stdout);
        return 0;
    }

    try {
        const fs::path data = video::data_beside_tool();
        const BundledModels models =
            find_bundled_models([&](const char* file) { return (data / file).string(); });
        const std::string model_path = read_filter_settings(settings.get()).model_path;
        check_model(!model_path.empty() ? model_path
                                        : bundled_model(models, device_for(kCpuDevice)));
        video::remember_photo_faces(options, settings.get(), models);
        const std::vector<Job> jobs = jobs_of(options);
        const bool batch = !options.output_dir.empty();
        if (batch) {
            fs::create_directories(options.output_dir);
        }
        std::vector<Row> rows;
        double seconds = 0.0;
        for (size_t i = 0; i < jobs.size(); ++i) {
            video::Options one = options;
            one.input = jobs[i].input;
            one.output = jobs[i].output;
            const video::BatchPlace place{static_cast<int>(i + 1), static_cast<int>(jobs.size()),
                                          i > 0 ? seconds / static_cast<double>(i) : 0.0};
            try {
                check_paths(one);
                const video::Summary summary = video::anonymize(one, settings.get(), models, place);
                seconds += summary.seconds;
                report(summary, one);
                rows.push_back({one.input, summary, "ok -> " + one.output});
            } catch (const std::exception& e) {
                video::throw_if_stopped();
                if (!batch) {
                    throw;
                }
                fail(one.input + ": " + e.what());
                rows.push_back({one.input, {}, std::string("failed: ") + e.what()});
            }
        }
        if (batch) {
            print_table(rows);
            for (const Row& row : rows) {
                if (row.result.rfind("ok", 0) != 0) {
                    return 1;
                }
            }
        }
        return 0;
    } catch (const std::exception& e) {
        // Stopped, or a read that a stop signal cut short and that failed
        // with FFmpeg's words: either way the stop is what the user is told.
        if (const int signal_number = video::stop_signal()) {
            return fail(video::Stopped(signal_number).what(), 128 + signal_number);
        }
        return fail(e.what());
    }
}
