#pragma once

#include "tools/video/ffmpeg_owners.hpp"

namespace veilcam::video {

// Thrown after SIGINT, SIGTERM or SIGHUP, so that the run unwinds, removes
// what it was writing and exits 128 + the signal.
struct Stopped : VideoError {
    explicit Stopped(int signal_number);
};

// From now on those signals ask the run to stop instead of killing it, and cut
// short a read that blocks (a FIFO, a stalled pipe) on the calling thread.
void catch_stop_signals();

// The stop signal that has arrived, or 0.
int stop_signal();

// Throws Stopped when a stop signal has arrived.
void throw_if_stopped();

// For AVFormatContext::interrupt_callback: FFmpeg gives up a read once a stop
// signal has arrived.
int interrupt_when_stopped(void*);

} // namespace veilcam::video
