#pragma once

extern "C" {
#include <libavutil/pixfmt.h>
}

#include <opencv2/core.hpp>

#include <string>

namespace veilcam::test {

// Writes a short NUT clip of `picture` as raw video in `format`, with
// a 48 kHz PCM tone beside it when `with_audio`.
void make_clip(const std::string& path, const cv::Mat& picture, AVPixelFormat format, int frames,
               bool with_audio);

struct ClipInfo {
    int video_frames = 0;
    int audio_packets = 0;
    uint64_t audio_checksum = 0; // over the audio payload, in order
    std::string video_codec;
    cv::Mat first_frame; // BGR
};

ClipInfo read_clip(const std::string& path);

} // namespace veilcam::test
