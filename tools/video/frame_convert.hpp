#pragma once

#include "tools/video/ffmpeg_owners.hpp"

#include <opencv2/core/mat.hpp>

#include <filesystem>

namespace veilcam::video {

// A new frame of its own in `frame`, with room for the picture.
AVFrame* allocate_frame(FramePtr& frame, AVPixelFormat format, int width, int height);

// Converts between two frames of the same size, reusing its scaler.
void convert(ScalePtr& scaler, const AVFrame& from, AVFrame& to);

// The picture as an image of its own, in BGR; `bgr` is the frame in between.
cv::Mat to_bgr(ScalePtr& scaler, const AVFrame& frame, FramePtr& bgr);

// The data folder beside the running program: models and locale.
std::filesystem::path data_beside_tool();

} // namespace veilcam::video
