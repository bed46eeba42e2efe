#pragma once

#include "filter/filter_instance.hpp"

#include <obs-module.h>

#include <exception>

namespace veilcam {

// Runs one host callback's work so that nothing thrown reaches the host: the
// first failure of an instance is logged (later ones would flood the log every
// frame), and the callback carries on as if the work had been done.
template <typename Work>
void run_guarded(FilterInstance& instance, const char* callback, Work&& work) noexcept {
    auto log_once = [&](const char* reason) {
        if (!instance.callback_error_logged.exchange(true)) {
            blog(LOG_ERROR, "[veilcam] %s failed: %s", callback, reason);
        }
    };
    try {
        work();
    } catch (const std::exception& e) {
        log_once(e.what());
    } catch (...) {
        log_once("unknown error");
    }
}

} // namespace veilcam
