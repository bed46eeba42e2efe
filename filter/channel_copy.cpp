#include "filter/channel_copy.hpp"

#include <cstdint>
#include <cstring>
#include <type_traits>

namespace veilcam {
namespace {

// With the channels and the one copied known when compiled, the rows
// unaliased and the width read once (a byte written could alias it). Each
// pixel is read as one little-endian word, its channel c the word's byte c:
// a byte at a time in steps of the pixel, the loop was not vectorised.
template <int Channels, int Channel> void copy_channel(const cv::Mat& image, cv::Mat& plane) {
    using Pixel = std::conditional_t<Channels == 4, uint32_t, uint16_t>;
    static_assert(sizeof(Pixel) == Channels);
    constexpr int kShift = 8 * Channel;
    const int rows = image.rows, cols = image.cols;
    for (int y = 0; y < rows; ++y) {
        const uint8_t* __restrict const pixels = image.ptr<uint8_t>(y);
        uint8_t* __restrict const samples = plane.ptr<uint8_t>(y);
        for (int x = 0; x < cols; ++x) {
            Pixel pixel;
            std::memcpy(&pixel, pixels + sizeof(Pixel) * x, sizeof(Pixel));
            samples[x] = static_cast<uint8_t>(pixel >> kShift);
        }
    }
}

using Copy = void (*)(const cv::Mat&, cv::Mat&);

Copy copy_for(int channels, int channel) {
    if (channels == 2) {
        return channel == 0 ? copy_channel<2, 0> : copy_channel<2, 1>;
    }
    switch (channel) {
    case 0:
        return copy_channel<4, 0>;
    case 1:
        return copy_channel<4, 1>;
    case 2:
        return copy_channel<4, 2>;
    default:
        return copy_channel<4, 3>;
    }
}

bool vectorised(const cv::Mat& image) {
    return image.depth() == CV_8U && (image.channels() == 2 || image.channels() == 4);
}

} // namespace

void extract_channel(const cv::Mat& image, int channel, cv::Mat& plane) {
    if (!vectorised(image)) {
        cv::extractChannel(image, plane, channel);
        return;
    }
    plane.create(image.size(), CV_8UC1);
    copy_for(image.channels(), channel)(image, plane);
}

} // namespace veilcam
