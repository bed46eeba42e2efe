#pragma once

#include <chrono>
#include <cstdint>
#include <mutex>

namespace veilcam {

// Reports a failure that may repeat on every frame: the first time at once,
// then how often it happened since, at most once a minute, so that the log
// keeps saying it while it goes on without flooding.
class FailureLog {
  public:
    using Clock = std::chrono::steady_clock;

    // Writes "[veilcam] <what>: <reason>" or, for later failures, a count.
    void report(int level, const char* what, const char* reason,
                Clock::time_point now = Clock::now()) noexcept;
    // The next failure is a new one: written at once.
    void reset() noexcept;

  private:
    std::mutex mutex_;
    bool reported_ = false;
    uint64_t unreported_ = 0;
    Clock::time_point last_report_;
};

} // namespace veilcam
