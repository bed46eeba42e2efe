#include "support/clips.hpp"

#include <opencv2/imgcodecs.hpp>

#include <sys/wait.h>

#include <algorithm>
#include <cstdio>
#include <sstream>
#include <stdexcept>

namespace veilcam::test {
namespace {

double stream_end(const std::string& path, const std::string& stream) {
    std::istringstream packets(run_checked("ffprobe -v error -select_streams " + stream +
                                           " -show_entries packet=pts_time,duration_time -of "
                                           "csv=p=0 '" +
                                           path + "'"));
    double end = 0, start = 0, length = 0;
    char comma = 0;
    while (packets >> start >> comma >> length) {
        end = std::max(end, start + length);
    }
    return end;
}

} // namespace

CommandRun run_command(const std::string& command) {
    CommandRun run;
    FILE* pipe = popen((command + " 2>&1").c_str(), "r");
    if (!pipe) {
        return run;
    }
    char buffer[1024];
    while (fgets(buffer, sizeof(buffer), pipe)) {
        run.output += buffer;
    }
    const int status = pclose(pipe);
    run.exit_code = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    return run;
}

std::string run_checked(const std::string& command) {
    const CommandRun run = run_command(command);
    if (run.exit_code != 0) {
        throw std::runtime_error(command + " failed: " + run.output);
    }
    return run.output;
}

void make_clip(const std::string& path, const std::vector<cv::Mat>& pictures,
               const std::string& pixel_format, int frames, bool with_audio) {
    for (size_t i = 0; i < pictures.size(); ++i) {
        cv::imwrite(path + "." + std::to_string(i) + ".png", pictures[i]);
    }
    const std::string seconds = std::to_string(frames / 30.0);
    run_checked(
        "ffmpeg -v error -y -framerate 30 -i '" + path + ".%d.png'" +
        (with_audio ? " -f lavfi -i sine=frequency=440:sample_rate=48000 -c:a pcm_s16le" : "") +
        " -vf tpad=stop=-1:stop_mode=clone -t " + seconds + " -frames:v " + std::to_string(frames) +
        " -pix_fmt " + pixel_format + " -c:v rawvideo '" + path + "'");
    for (size_t i = 0; i < pictures.size(); ++i) {
        std::remove((path + "." + std::to_string(i) + ".png").c_str());
    }
}

ClipInfo read_clip(const std::string& path, int frame) {
    ClipInfo info;
    const std::string video =
        run_checked("ffprobe -v error -count_frames -select_streams v:0 -show_entries "
                    "stream=codec_name,nb_read_frames -of csv=p=0 '" +
                    path + "'");
    const size_t comma = video.find(',');
    info.video_codec = video.substr(0, comma);
    info.video_frames = std::stoi(video.substr(comma + 1));
    const CommandRun audio =
        run_command("ffmpeg -v error -i '" + path + "' -map 0:a -c copy -f md5 -");
    if (audio.exit_code == 0) {
        info.audio_md5 = audio.output;
    }
    info.video_end = stream_end(path, "v:0");
    info.audio_end = stream_end(path, "a:0");
    const std::string still = path + ".frame.png";
    run_checked("ffmpeg -v error -y -i '" + path + "' -vf 'select=eq(n\\," + std::to_string(frame) +
                ")' -frames:v 1 '" + still + "'");
    info.frame = cv::imread(still, cv::IMREAD_COLOR);
    std::remove(still.c_str());
    return info;
}

} // namespace veilcam::test
