#pragma once

#include <chrono>
#include <cstdint>

namespace veilcam::video {

// One line on a terminal: frames done, frames per second, time left.
class Progress {
  public:
    Progress(int64_t total_frames, bool enabled);
    void update(int64_t frames_done);
    void finish();

  private:
    int64_t total_;
    bool enabled_;
    std::chrono::steady_clock::time_point started_;
    std::chrono::steady_clock::time_point last_shown_;
};

// Clears the progress line so that a log line can be written in its place.
void clear_progress_line();

} // namespace veilcam::video
