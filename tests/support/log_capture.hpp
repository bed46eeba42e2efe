#pragma once

#include <util/base.h>

#include <cstdarg>
#include <cstdio>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

namespace veilcam::test {

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

    // How many lines hold `text` (at `level`, unless it is -1).
    int count(const std::string& text, int level = -1) const {
        std::lock_guard<std::mutex> lock(mutex_);
        int n = 0;
        for (const auto& [line_level, line] : lines_) {
            n += line.find(text) != std::string::npos && (level < 0 || line_level == level);
        }
        return n;
    }

  private:
    static void handle(int level, const char* format, va_list args, void* param) {
        char text[4096];
        vsnprintf(text, sizeof(text), format, args);
        auto* self = static_cast<LogCapture*>(param);
        std::lock_guard<std::mutex> lock(self->mutex_);
        self->lines_.emplace_back(level, text);
    }

    log_handler_t previous_handler_ = nullptr;
    void* previous_param_ = nullptr;
    mutable std::mutex mutex_;
    std::vector<std::pair<int, std::string>> lines_;
};

} // namespace veilcam::test
