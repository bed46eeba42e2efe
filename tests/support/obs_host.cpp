#include "support/obs_host.hpp"

#include <X11/Xlib.h>
#include <obs-nix-platform.h>
#include <obs.h>

namespace veilcam::test {

namespace {

// One connection for the whole process: libobs may be started more than once.
Display* process_display() {
    static Display* display = XOpenDisplay(nullptr);
    return display;
}

} // namespace

ObsHost::ObsHost() {
    Display* display = process_display();
    if (!display) {
        error_ = "no X display: run the tests under Xvfb (see the README's test command)";
        return;
    }
    obs_set_nix_platform(OBS_NIX_PLATFORM_X11_EGL);
    obs_set_nix_platform_display(display);
    started_ = obs_startup("en-US", nullptr, nullptr);
    if (!started_) {
        error_ = "obs_startup failed";
    }
}

ObsHost::~ObsHost() {
    if (started_) {
        obs_shutdown();
    }
}

} // namespace veilcam::test
