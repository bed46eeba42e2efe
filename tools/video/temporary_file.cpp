#include "tools/video/temporary_file.hpp"

#include "tools/video/ffmpeg_owners.hpp"

#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <util/base.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <vector>

namespace veilcam::video {
namespace {

namespace fs = std::filesystem;

constexpr char kMarker[] = ".veilcam-";
constexpr size_t kRandomPart = 6; // mkstemps' XXXXXX

// NAME.veilcam-XXXXXX.EXT for the destination NAME.EXT.
bool is_ours(const std::string& name, const std::string& stem, const std::string& extension) {
    const std::string start = stem + kMarker;
    if (name.size() != start.size() + kRandomPart + extension.size() ||
        name.compare(0, start.size(), start) != 0 ||
        name.compare(name.size() - extension.size(), extension.size(), extension) != 0) {
        return false;
    }
    return std::all_of(name.begin() + static_cast<long>(start.size()),
                       name.end() - static_cast<long>(extension.size()),
                       [](unsigned char c) { return std::isalnum(c) != 0; });
}

// A run that was killed outright (SIGKILL, a power cut) leaves its file. One
// untouched for a day belongs to no run still writing it.
void remove_stale(const fs::path& folder, const std::string& stem, const std::string& extension) {
    const auto day_ago = fs::file_time_type::clock::now() - std::chrono::hours(24);
    std::error_code error;
    for (fs::directory_iterator entry(folder, error), end; !error && entry != end;
         entry.increment(error)) {
        std::error_code stat_error;
        if (is_ours(entry->path().filename().string(), stem, extension) &&
            entry->symlink_status(stat_error).type() == fs::file_type::regular &&
            entry->last_write_time(stat_error) < day_ago && !stat_error &&
            fs::remove(entry->path(), stat_error)) {
            blog(LOG_INFO, "removed %s, left unfinished by an earlier run", entry->path().c_str());
        }
    }
}

} // namespace

TemporaryFile::TemporaryFile(const fs::path& destination) : destination_(destination) {
    const std::string extension = destination.extension().string();
    const std::string stem = destination.stem().string();
    const fs::path folder = destination.has_parent_path() ? destination.parent_path() : ".";
    remove_stale(folder, stem, extension);
    const std::string pattern =
        (folder / (stem + kMarker + std::string(kRandomPart, 'X') + extension)).string();
    std::vector<char> name(pattern.begin(), pattern.end());
    name.push_back('\0');
    // O_EXCL underneath: the name is new, whatever else lies in the folder.
    const int descriptor = mkstemps(name.data(), static_cast<int>(extension.size()));
    if (descriptor < 0) {
        throw VideoError("cannot create a file beside " + destination.string() + ": " +
                         std::strerror(errno));
    }
    // mkstemps makes the file private; a finished video gets the usual rights.
    const mode_t mask = umask(0);
    umask(mask);
    fchmod(descriptor, 0666 & ~mask);
    close(descriptor);
    path_ = name.data();
}

TemporaryFile::~TemporaryFile() {
    if (!committed_) {
        std::error_code ignored;
        fs::remove(path_, ignored);
    }
}

void TemporaryFile::commit() {
    fs::rename(path_, destination_);
    committed_ = true;
}

} // namespace veilcam::video
