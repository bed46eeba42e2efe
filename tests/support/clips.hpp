#pragma once

#include <opencv2/core.hpp>

#include <string>
#include <vector>

// Clips made and read with FFmpeg's own command-line tools, so that the video
// tool is checked against an independent reader and writer.
namespace veilcam::test {

struct CommandRun {
    int exit_code = -1;
    std::string output; // standard output and error together
};

CommandRun run_command(const std::string& command);
// Its output; throws with it when the command fails.
std::string run_checked(const std::string& command);

// Writes a NUT clip of `frames` frames as raw video in FFmpeg's
// `pixel_format`: `pictures` in turn, then the last again; with a 48 kHz PCM
// tone beside it when `with_audio`.
void make_clip(const std::string& path, const std::vector<cv::Mat>& pictures,
               const std::string& pixel_format, int frames, bool with_audio);

struct ClipInfo {
    int video_frames = 0;
    std::string video_codec;
    std::string audio_md5;               // of the audio packets as stored; empty without audio
    double video_end = 0, audio_end = 0; // seconds, where each stream's last packet ends
    cv::Mat frame;                       // BGR
};

// What a clip holds, with its frame number `frame`.
ClipInfo read_clip(const std::string& path, int frame = 0);

} // namespace veilcam::test
