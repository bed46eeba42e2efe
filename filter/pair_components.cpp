#include "filter/pair_components.hpp"

#include <cstdint>

namespace veilcam {
namespace {

// A pair of pixels at a time, with the channels' places known when compiled
// and the rows' pointers unaliased, so that the compiler turns the loop into
// vector shuffles (a sample at a time, it took half the time of hiding a
// packed frame).
template <typename Sample, PairMove kDirection, int kLuma>
void move_rows(cv::Mat& view, cv::Mat& luma, std::array<cv::Mat, 2>& chroma) {
    constexpr int kChroma = 1 - kLuma;
    const auto move = [](Sample& packed, Sample& apart) {
        if constexpr (kDirection == PairMove::split) {
            apart = packed;
        } else {
            packed = apart;
        }
    };
    const int cols = view.cols, pairs = cols / 2;
    for (int y = 0; y < view.rows; ++y) {
        Sample* __restrict const row = view.ptr<Sample>(y);
        Sample* __restrict const l = luma.ptr<Sample>(y);
        Sample* __restrict const even = chroma[0].ptr<Sample>(y);
        Sample* __restrict const odd = chroma[1].ptr<Sample>(y);
        for (int p = 0; p < pairs; ++p) {
            move(row[4 * p + kLuma], l[2 * p]);
            move(row[4 * p + 2 + kLuma], l[2 * p + 1]);
            move(row[4 * p + kChroma], even[p]);
            move(row[4 * p + 2 + kChroma], odd[p]);
        }
        if (cols % 2 == 1) {
            move(row[2 * (cols - 1) + kLuma], l[cols - 1]);
            move(row[2 * (cols - 1) + kChroma], even[pairs]);
        }
    }
}

template <PairMove kDirection>
void move_pairs(cv::Mat& view, int luma_channel, cv::Mat& luma, std::array<cv::Mat, 2>& chroma) {
    const bool wide = view.depth() == CV_16U;
    if (luma_channel == 0) {
        wide ? move_rows<uint16_t, kDirection, 0>(view, luma, chroma)
             : move_rows<uint8_t, kDirection, 0>(view, luma, chroma);
    } else {
        wide ? move_rows<uint16_t, kDirection, 1>(view, luma, chroma)
             : move_rows<uint8_t, kDirection, 1>(view, luma, chroma);
    }
}

} // namespace

void move_pair_components(cv::Mat& view, int luma_channel, cv::Mat& luma,
                          std::array<cv::Mat, 2>& chroma, PairMove direction) {
    direction == PairMove::split ? move_pairs<PairMove::split>(view, luma_channel, luma, chroma)
                                 : move_pairs<PairMove::join>(view, luma_channel, luma, chroma);
}

} // namespace veilcam
