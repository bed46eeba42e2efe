#include "detection/model_file.hpp"

#include <filesystem>
#include <fstream>
#include <stdexcept>
#include <system_error>

namespace veilcam {

std::vector<unsigned char> read_model_file(const std::string& path) {
    namespace fs = std::filesystem;
    // u8path: OpenCV opens a path as narrow text, and on Windows a data
    // folder under an account name with accents would not load.
    const fs::path file = fs::u8path(path);
    std::error_code error;
    const fs::file_status status = fs::status(file, error);
    if (error || !fs::exists(status)) {
        throw std::runtime_error("no such file: " + path);
    }
    if (!fs::is_regular_file(status)) {
        throw std::runtime_error("not a regular file: " + path);
    }
    const uintmax_t size = fs::file_size(file, error);
    if (error || size > kLargestModelBytes) {
        throw std::runtime_error(path + " is larger than " +
                                 std::to_string(kLargestModelBytes >> 20) + " MB");
    }
    std::ifstream in(file, std::ios::binary);
    std::vector<unsigned char> bytes(static_cast<size_t>(size));
    // Never more than the size read above, whatever the file does meanwhile.
    in.read(reinterpret_cast<char*>(bytes.data()), static_cast<std::streamsize>(size));
    if (!in || in.gcount() != static_cast<std::streamsize>(size)) {
        throw std::runtime_error("cannot read " + path);
    }
    return bytes;
}

} // namespace veilcam
