#include "tools/video/temporary_file.hpp"

#include "tools/video/ffmpeg_owners.hpp"

#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <vector>

namespace veilcam::video {

namespace fs = std::filesystem;

TemporaryFile::TemporaryFile(const fs::path& destination) : destination_(destination) {
    const std::string extension = destination.extension().string();
    const fs::path folder = destination.has_parent_path() ? destination.parent_path() : ".";
    const std::string pattern =
        (folder / (destination.stem().string() + ".veilcam-XXXXXX" + extension)).string();
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
