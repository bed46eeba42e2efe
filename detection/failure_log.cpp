#include "detection/failure_log.hpp"

#include <obs-module.h>

namespace veilcam {

void FailureLog::report(int level, const char* what, const char* reason,
                        Clock::time_point now) noexcept {
    std::lock_guard<std::mutex> lock(mutex_);
    if (!reported_) {
        blog(level, "[veilcam] %s: %s", what, reason);
        reported_ = true;
        last_report_ = now;
        return;
    }
    ++unreported_;
    if (now - last_report_ >= std::chrono::minutes(1)) {
        blog(level, "[veilcam] %s %llu more times since it was last reported: %s", what,
             static_cast<unsigned long long>(unreported_), reason);
        unreported_ = 0;
        last_report_ = now;
    }
}

void FailureLog::reset() noexcept {
    std::lock_guard<std::mutex> lock(mutex_);
    reported_ = false;
    unreported_ = 0;
}

} // namespace veilcam
