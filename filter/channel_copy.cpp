#include "filter/channel_copy.hpp"

#include <cstdint>

namespace veilcam {
namespace {

enum class Direction { extract, insert };

// With the channels and the one copied known when compiled, the rows
// unaliased and the width read once (a byte written could alias it).
template <Direction kDirection, int Channels, int Channel>
void copy_channel(const cv::Mat& image, const cv::Mat& plane) {
    const int rows = image.rows, cols = image.cols;
    for (int y = 0; y < rows; ++y) {
        uint8_t* __restrict const pixels = const_cast<uint8_t*>(image.ptr<uint8_t>(y));
        uint8_t* __restrict const samples = const_cast<uint8_t*>(plane.ptr<uint8_t>(y));
        for (int x = 0; x < cols; ++x) {
            if constexpr (kDirection == Direction::extract) {
                samples[x] = pixels[Channels * x + Channel];
            } else {
                pixels[Channels * x + Channel] = samples[x];
            }
        }
    }
}

using Copy = void (*)(const cv::Mat&, const cv::Mat&);

template <Direction kDirection> Copy copy_for(int channels, int channel) {
    if (channels == 2) {
        return channel == 0 ? copy_channel<kDirection, 2, 0> : copy_channel<kDirection, 2, 1>;
    }
    switch (channel) {
    case 0:
        return copy_channel<kDirection, 4, 0>;
    case 1:
        return copy_channel<kDirection, 4, 1>;
    case 2:
        return copy_channel<kDirection, 4, 2>;
    default:
        return copy_channel<kDirection, 4, 3>;
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
    copy_for<Direction::extract>(image.channels(), channel)(image, plane);
}

void insert_channel(const cv::Mat& plane, cv::Mat& image, int channel) {
    if (!vectorised(image)) {
        cv::insertChannel(plane, image, channel);
        return;
    }
    CV_Assert(plane.size() == image.size() && plane.type() == CV_8UC1);
    copy_for<Direction::insert>(image.channels(), channel)(image, plane);
}

} // namespace veilcam
