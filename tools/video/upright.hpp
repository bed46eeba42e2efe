#pragma once

#include "tools/video/ffmpeg_owners.hpp"

namespace veilcam::video {

// How far a stream's frames must be turned clockwise to stand upright, from
// the display matrix in its metadata: 0, 90, 180 or 270.
int clockwise_turn(const AVStream& stream);

// `from` (planar, 8-bit) turned clockwise by `degrees` into `to`, which has
// the turned size and the same pixel format.
void turn_planes(const AVFrame& from, int degrees, AVFrame& to);

} // namespace veilcam::video
