#pragma once

#include <util/base.h>

#include <cstdarg>
#include <cstdio>
#include <mutex>
#include <string>
#include <vector>

namespace veilcam::test {

struct LogLine {
    int level;
    std::string text;
};

// Collects what libobs's blog() writes while it is alive.
class LogCapture {
  public:
    LogCapture() {
        base_get_log_handler(&previous_handler_, &previous_param_);
        base_set_log_handler(&LogCapture::handle, this);
    }
    ~LogCapture() { base_set_log_handler(previous_handler_, previous_param_); }
    LogCapture(const LogCapture&) = delete;
    LogCapture& operator=(const LogCapture&) = delete;

    std::vector<LogLine> lines() const {
        std::lock_guard<std::mutex> lock(mutex_);
        return lines_;
    }

    // How many lines hold `text` (at `level`, unless it is -1).
    int count(const std::string& text, int level = -1) const {
        int n = 0;
        for (const LogLine& line : lines()) {
            if (line.text.find(text) != std::string::npos && (level < 0 || line.level == level)) {
                ++n;
            }
        }
        return n;
    }

  private:
    static void handle(int level, const char* format, va_list args, void* param) {
        char text[4096];
        vsnprintf(text, sizeof(text), format, args);
        auto* self = static_cast<LogCapture*>(param);
        std::lock_guard<std::mutex> lock(self->mutex_);
        self->lines_.push_back(LogLine{level, text});
    }

    log_handler_t previous_handler_ = nullptr;
    void* previous_param_ = nullptr;
    mutable std::mutex mutex_;
    std::vector<LogLine> lines_;
};

} // namespace veilcam::test
