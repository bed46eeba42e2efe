#include "tools/video/stop_signals.hpp"

#include <csignal>
#include <string>

namespace veilcam::video {
namespace {

volatile std::sig_atomic_t g_stop_signal = 0;

extern "C" void note_stop_signal(int signal_number) {
    g_stop_signal = signal_number;
}

} // namespace

Stopped::Stopped(int number)
    : VideoError("stopped by signal " + std::to_string(number) + "; nothing was written"),
      signal_number(number) {}

void catch_stop_signals() {
    for (const int signal_number : {SIGINT, SIGTERM, SIGHUP}) {
        std::signal(signal_number, note_stop_signal);
    }
}

void throw_if_stopped() {
    if (g_stop_signal != 0) {
        throw Stopped(g_stop_signal);
    }
}

} // namespace veilcam::video
