#pragma once

#include <filesystem>

namespace veilcam::video {

// A file made new beside `destination` (never an existing one, so never the
// input), removed again unless it is given its final name. Whatever fails, no
// half-written file is left and nothing else is touched.
class TemporaryFile {
  public:
    explicit TemporaryFile(const std::filesystem::path& destination);
    ~TemporaryFile();
    TemporaryFile(const TemporaryFile&) = delete;
    TemporaryFile& operator=(const TemporaryFile&) = delete;

    const std::filesystem::path& path() const { return path_; }
    // Renames the finished file to its destination.
    void commit();

  private:
    std::filesystem::path path_;
    std::filesystem::path destination_;
    bool committed_ = false;
};

} // namespace veilcam::video
