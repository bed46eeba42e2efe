#include "support/obs_host.hpp"

#include <X11/Xlib.h>
#include <obs-nix-platform.h>
#include <obs.h>

namespace veilcam::test {

ObsHost::ObsHost() {
    display_ = XOpenDisplay(nullptr);
    if (!display_) {
        error_ = "no X display: run the tests under Xvfb (see the README's test command)";
        return;
    }
    obs_set_nix_platform(OBS_NIX_PLATFORM_X11_EGL);
    obs_set_nix_platform_display(display_);
    started_ = obs_startup("en-US", nullptr, nullptr);
    if (!started_) {
        error_ = "obs_startup failed";
    }
}

ObsHost::~ObsHost() {
    if (started_) {
        obs_shutdown();
    }
    if (display_) {
        XCloseDisplay(display_);
    }
}

} // namespace veilcam::test
