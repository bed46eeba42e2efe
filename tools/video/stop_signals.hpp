#pragma once

#include "tools/video/ffmpeg_owners.hpp"

namespace veilcam::video {

// Thrown at the next frame after SIGINT, SIGTERM or SIGHUP, so that the run
// unwinds, removes what it was writing and exits 128 + the signal.
struct Stopped : VideoError {
    explicit Stopped(int signal_number);
    int signal_number;
};

// From now on those signals ask the run to stop instead of killing it.
void catch_stop_signals();

// Throws Stopped when a stop signal has arrived.
void throw_if_stopped();

} // namespace veilcam::video
