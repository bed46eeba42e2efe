#include "tools/video/stop_signals.hpp"

#include <pthread.h>

#include <csignal>
#include <string>

namespace veilcam::video {
namespace {

volatile std::sig_atomic_t g_stop_signal = 0;
pthread_t g_reading_thread;

extern "C" void note_stop_signal(int signal_number) {
    g_stop_signal = signal_number;
    // The kernel may hand the signal to a decoder's or encoder's thread; only
    // on the reading thread does it interrupt a blocked read.
    if (!pthread_equal(pthread_self(), g_reading_thread)) {
        pthread_kill(g_reading_thread, signal_number);
    }
}

} // namespace

Stopped::Stopped(int number)
    : VideoError("stopped by signal " + std::to_string(number) + "; nothing was written") {}

void catch_stop_signals() {
    g_reading_thread = pthread_self();
    struct sigaction action = {};
    action.sa_handler = note_stop_signal;
    sigemptyset(&action.sa_mask);
    // No SA_RESTART: a read blocked on a FIFO returns EINTR, and FFmpeg then
    // asks interrupt_when_stopped whether to go on.
    action.sa_flags = 0;
    for (const int signal_number : {SIGINT, SIGTERM, SIGHUP}) {
        sigaction(signal_number, &action, nullptr);
    }
}

int stop_signal() {
    return g_stop_signal;
}

void throw_if_stopped() {
    if (g_stop_signal != 0) {
        throw Stopped(g_stop_signal);
    }
}

int interrupt_when_stopped(void*) {
    return g_stop_signal != 0;
}

} // namespace veilcam::video
