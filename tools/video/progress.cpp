#include "tools/video/progress.hpp"

#include <cstdio>
#include <unistd.h>

namespace veilcam::video {

Progress::Progress(int64_t total_frames, bool enabled, BatchPlace place)
    : total_(total_frames), enabled_(enabled && isatty(STDERR_FILENO)), place_(place),
      started_(std::chrono::steady_clock::now()), last_shown_(started_) {}

void Progress::update(int64_t frames_done) {
    const auto now = std::chrono::steady_clock::now();
    if (!enabled_ || now - last_shown_ < std::chrono::milliseconds(250)) {
        return;
    }
    last_shown_ = now;
    const double elapsed = std::chrono::duration<double>(now - started_).count();
    const double fps = elapsed > 0 ? frames_done / elapsed : 0.0;
    if (place_.files > 1) {
        std::fprintf(stderr, "\r\033[Kfile %d/%d  ", place_.file, place_.files);
    } else {
        std::fputs("\r\033[K", stderr);
    }
    if (total_ > 0 && fps > 0) {
        const double this_file = total_ / fps;
        const double per_file = place_.seconds_per_file > 0 ? place_.seconds_per_file : this_file;
        const double left =
            this_file - elapsed + per_file * static_cast<double>(place_.files - place_.file);
        std::fprintf(stderr, "frame %lld/%lld  %.1f fps  %.0f s left",
                     static_cast<long long>(frames_done), static_cast<long long>(total_), fps,
                     left);
    } else {
        std::fprintf(stderr, "frame %lld  %.1f fps", static_cast<long long>(frames_done), fps);
    }
    std::fflush(stderr);
}

void Progress::finish() {
    if (enabled_) {
        clear_progress_line();
    }
}

void clear_progress_line() {
    if (isatty(STDERR_FILENO)) {
        std::fputs("\r\033[K", stderr);
    }
}

} // namespace veilcam::video
