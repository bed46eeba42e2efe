#pragma once

#include <chrono>
#include <cstdint>

namespace veilcam::video {

// Where a file stands in a run over many: its place, and how long the files
// after it will take, as far as the ones before tell (0: nothing known yet).
struct BatchPlace {
    int file = 1, files = 1;
    double seconds_per_file = 0.0;
};

// One line on a terminal: file, frames done, frames per second, time left.
class Progress {
  public:
    Progress(int64_t total_frames, bool enabled, BatchPlace place = {});
    void update(int64_t frames_done);
    void finish();

  private:
    int64_t total_;
    bool enabled_;
    BatchPlace place_;
    std::chrono::steady_clock::time_point started_;
    std::chrono::steady_clock::time_point last_shown_;
};

// Clears the progress line so that a log line can be written in its place.
void clear_progress_line();

} // namespace veilcam::video
