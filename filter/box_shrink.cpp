#include "filter/box_shrink.hpp"

#include "filter/packed_10bit.hpp"
#include "filter/region_resample.hpp"
#include "filter/sse2.hpp"

#include <algorithm>
#include <array>
#include <cstring>
#include <stdexcept>
#include <string>
#include <type_traits>
#include <utility>

namespace veilcam {
namespace {

// Which channels of the summed samples make the shrunk image's: the luma
// channel, or blue, green and red.
struct ShrinkLayout {
    int channels = 0; // sums to a pixel
    int written = 0;
    std::array<int, 3> read{};
    // The channel of each pixel's bytes summed alone (packed 4:2:2's and
    // AYUV's luma), or -1 where every sample is.
    int luma_of = -1;
};

ShrinkLayout layout_of(const FrameFormat& format) {
    ShrinkLayout layout;
    if (format.packing != Packing::Samples) {
        // Summed as the image needs them: luma (V210), or blue, green, red
        // and a sum left 0 (R10L).
        layout.channels = packed_pixel_sums(format.packing);
        layout.written = layout.channels == 1 ? 1 : 3;
        layout.read = {0, 1, 2};
        return layout;
    }
    layout.channels = format.planes[0].channels;
    const int luma = channel_holding(format, 0, Component::Y);
    if (luma >= 0) {
        layout.read[0] = luma;
        layout.written = 1;
        if (layout.channels > 1 && format.samples.bytes == 1) {
            layout.luma_of = luma;
            layout.channels = 1;
            layout.read[0] = 0;
        }
    } else {
        layout.read = {channel_holding(format, 0, Component::B),
                       channel_holding(format, 0, Component::G),
                       channel_holding(format, 0, Component::R)};
        layout.written = 3;
    }
    return layout;
}

// Sums read past a row's last whole block (three-channel blocks are loaded
// eight sums at a time).
constexpr size_t kReadPast = 8;

#ifdef VEILCAM_SSE2
// Channel `shift` / 8 of eight pixels of `Channels` bytes from `pixels` on,
// in 16-bit lanes.
template <int Channels> __m128i eight_of_channel(const uint8_t* pixels, __m128i shift) {
    const auto* at = reinterpret_cast<const __m128i*>(pixels);
    if constexpr (Channels == 2) {
        return _mm_and_si128(_mm_srl_epi16(_mm_loadu_si128(at), shift), _mm_set1_epi16(0xFF));
    } else {
        const __m128i low_byte = _mm_set1_epi32(0xFF);
        return _mm_packs_epi32(
            _mm_and_si128(_mm_srl_epi32(_mm_loadu_si128(at), shift), low_byte),
            _mm_and_si128(_mm_srl_epi32(_mm_loadu_si128(at + 1), shift), low_byte));
    }
}
#endif

// Channel `channel` of `pixels` pixels of `Channels` bytes summed down
// `rows` rows from `first` on into `sums`, a sum a pixel: the image is
// luma alone, and every byte summed, then one sum in two or four read, took
// most of a packed 4:2:2 or AYUV frame's image.
template <int Channels>
void sum_one_channel(const uint8_t* first, size_t stride, int rows, int pixels, int channel,
                     uint16_t* sums) {
    int x = 0;
#ifdef VEILCAM_SSE2
    // Sixteen pixels at a time: two vectors of sums.
    constexpr int kPixels = 16;
    const __m128i shift = _mm_cvtsi32_si128(8 * channel);
    for (; x + kPixels <= pixels; x += kPixels) {
        fetch_rows_below(first, stride, rows, static_cast<size_t>(x) * Channels,
                         kPixels * Channels);
        __m128i totals[2] = {};
        for (int r = 0; r < rows; ++r) {
            const uint8_t* row =
                first + static_cast<size_t>(r) * stride + static_cast<size_t>(x) * Channels;
            for (int half = 0; half < 2; ++half) {
                totals[half] = _mm_add_epi16(
                    totals[half], eight_of_channel<Channels>(row + half * 8 * Channels, shift));
            }
        }
        _mm_storeu_si128(reinterpret_cast<__m128i*>(sums + x), totals[0]);
        _mm_storeu_si128(reinterpret_cast<__m128i*>(sums + x + 8), totals[1]);
    }
#endif
    for (; x < pixels; ++x) {
        unsigned total = 0;
        for (int r = 0; r < rows; ++r) {
            total += first[static_cast<size_t>(r) * stride + static_cast<size_t>(x) * Channels +
                           channel];
        }
        sums[x] = static_cast<uint16_t>(total);
    }
}

// Sums rows [y0, y1) of `area`, sample by sample (packed: as
// sum_packed_pixels does; luma alone where `layout` says so), into `sums`
// from the first pixel of the area's first group; returns that pixel's
// offset from the area's start.
template <typename Sum>
int sum_rows(const obs_source_frame& frame, const FrameFormat& format, const ShrinkLayout& layout,
             const cv::Rect& area, int y0, int y1, std::vector<Sum>& sums) {
    // 16-bit samples are summed in 32 bits; bytes and packed 10-bit fields
    // in 16.
    if constexpr (sizeof(Sum) == 2) {
        if (layout.luma_of >= 0) {
            sums.resize(static_cast<size_t>(area.width) + kReadPast);
            const int pixel_bytes = format.planes[0].channels;
            const uint8_t* first = frame.data[0] + static_cast<size_t>(y0) * frame.linesize[0] +
                                   static_cast<size_t>(area.x) * pixel_bytes;
            const auto sum = pixel_bytes == 2 ? sum_one_channel<2> : sum_one_channel<4>;
            sum(first, frame.linesize[0], y1 - y0, area.width, layout.luma_of, sums.data());
            return 0;
        }
        if (format.packing != Packing::Samples) {
            const int group = packed_group_pixels(format.packing);
            const int x0 = area.x / group * group;
            sum_packed_pixels(format.packing, frame.data[0], frame.linesize[0], y0, y1,
                              packed_row_bytes(format.packing, x0), area.x + area.width - x0, sums);
            sums.resize(sums.size() + kReadPast);
            return area.x - x0;
        }
    }
    const int channels = format.planes[0].channels;
    const size_t count = static_cast<size_t>(area.width) * channels;
    sums.resize(count + kReadPast);
    const uint8_t* first = frame.data[0] + static_cast<size_t>(y0) * frame.linesize[0] +
                           static_cast<size_t>(area.x) * channels * format.samples.bytes;
    using Sample = std::conditional_t<sizeof(Sum) == 4, uint16_t, uint8_t>;
    sum_band<Sample>(first, frame.linesize[0], y1 - y0, count, sums.data());
    return 0;
}

// Dividing each pixel took most of the time: sums are divided by
// multiplying with this and keeping the top 32 bits of 64.
uint64_t reciprocal(uint32_t divisor) {
    return ((uint64_t{1} << 32) + divisor / 2) / divisor;
}

// The means of `pixels` summed pixels from `first` on, by `inverse` (their
// count's reciprocal), into `out`.
template <typename Sum, int Channels, int Written>
void block_means(const Sum* __restrict first, int pixels, const int (&read)[Written],
                 uint64_t inverse, uint8_t* __restrict out) {
    uint64_t totals[Written] = {};
    for (int x = 0; x < pixels; ++x) {
        for (int c = 0; c < Written; ++c) {
            totals[c] += first[x * Channels + read[c]];
        }
    }
    for (int c = 0; c < Written; ++c) {
        // 10-bit white, 1023, is 255.75 at 8 bits.
        const uint64_t mean = (totals[c] * inverse + (uint64_t{1} << 31)) >> 32;
        out[c] = static_cast<uint8_t>(std::min<uint64_t>(mean, 255));
    }
}

// The means of `blocks` whole blocks of `factor` pixels from `sums` on.
// Known when compiling (`Factor`, else 0), the block's loop is unrolled:
// a loop of two or three pixels around each took most of a 2x shrink.
template <typename Sum, int Channels, int Written, int Factor>
void whole_blocks(const Sum* __restrict sums, int blocks, int factor, const int (&read)[Written],
                  uint64_t inverse, uint8_t* __restrict out) {
    const int pixels = Factor > 0 ? Factor : factor;
    for (int j = 0; j < blocks; ++j) {
        block_means<Sum, Channels, Written>(sums + static_cast<ptrdiff_t>(j) * pixels * Channels,
                                            pixels, read, inverse, out + j * Written);
    }
}

#ifdef VEILCAM_SSE2
// Whole blocks of pixels of three or four channels summed in 16 bits (BGR3;
// RGBA, BGRA, BGRX, AYUV, and R10L with its fourth sum) shrunk a vector at
// a time. One pixel at a time, reading each channel apart, took most of a
// 1920x1080 RGB frame's shrink.

// Two blocks of four-channel pixels side by side: a vector holds two
// pixels' sums, so the two blocks are `factor` vectors, the first half's
// added to the second half's.
template <int Factor> __m128i two_blocks(const uint16_t* sums, int factor) {
    const int pixels = Factor > 0 ? Factor : factor;
    const int half = pixels / 2;
    const auto* pairs = reinterpret_cast<const __m128i*>(sums);
    __m128i first = _mm_setzero_si128(), second = _mm_setzero_si128();
    for (int i = 0; i < half; ++i) {
        first = _mm_add_epi16(first, _mm_loadu_si128(pairs + i));
        second = _mm_add_epi16(second, _mm_loadu_si128(pairs + pixels - 1 - i));
    }
    __m128i both =
        _mm_add_epi16(_mm_unpacklo_epi64(first, second), _mm_unpackhi_epi64(first, second));
    if (pixels % 2 == 1) {
        // The middle pair's first pixel ends the first block, its second
        // starts the second.
        both = _mm_add_epi16(both, _mm_loadu_si128(pairs + half));
    }
    return both;
}

// One block of three-channel pixels: its pixels' sums loaded from each
// pixel on and added, the first three lanes the block's. Reads up to five
// sums past the block.
template <int Factor> __m128i one_block(const uint16_t* sums, int factor) {
    const int pixels = Factor > 0 ? Factor : factor;
    __m128i total = _mm_setzero_si128();
    for (int x = 0; x < pixels; ++x) {
        total =
            _mm_add_epi16(total, _mm_loadu_si128(reinterpret_cast<const __m128i*>(sums + 3 * x)));
    }
    return total;
}

// Eight totals, `total(0)` to `total(7)`, one to a 16-bit lane: SSE2 puts
// each in its lane straight from a register.
template <typename Total, size_t... Lane>
__m128i eight_lanes(const Total& total, std::index_sequence<Lane...>) {
    __m128i lanes = _mm_setzero_si128();
    ((lanes = _mm_insert_epi16(lanes, total(Lane), Lane)), ...);
    return lanes;
}

// Means in 16 bits (the totals plus half the divisor, times its reciprocal
// in 16 bits, the top half kept) are within half a level while the totals
// plus half the divisor fit: up to this divisor, since a sample is less
// than 256 times its level scale (a 6x6 block of 10-bit samples takes 144).
constexpr uint32_t kMostVectorDivisor = 255;

struct VectorMeans {
    explicit VectorMeans(uint32_t divisor)
        : rounding(_mm_set1_epi16(static_cast<int16_t>(divisor / 2))),
          inverse(_mm_set1_epi16(static_cast<int16_t>((65536 + divisor / 2) / divisor))) {}

    __m128i of(__m128i totals) const {
        return _mm_mulhi_epu16(_mm_add_epi16(totals, rounding), inverse);
    }

    // Eight blocks' means from their totals, `total(0)` to `total(7)`.
    template <typename Total> __m128i eight(const Total& total) const {
        return of(eight_lanes(total, std::make_index_sequence<8>()));
    }

    __m128i rounding, inverse;
};

// Two pixels' channels in 16-bit lanes with blue first: as they are, or,
// red first, with red and blue swapped.
__m128i blue_first(__m128i pixels, bool red_first) {
    return red_first ? _mm_shufflehi_epi16(_mm_shufflelo_epi16(pixels, _MM_SHUFFLE(3, 0, 1, 2)),
                                           _MM_SHUFFLE(3, 0, 1, 2))
                     : pixels;
}

// The means of whole blocks from `sums` on into `out`, blue, green and red
// read as they lie or red first; returns how many were made (none where the
// channels or the divisor do not allow it). A pixel is written four bytes
// at a time, the fourth overwritten by the next pixel made: the last pixel
// of a row is always made after.
template <int Channels, int Factor>
int vector_blocks(const uint16_t* sums, int blocks, int factor, uint32_t divisor,
                  const int (&read)[3], uint8_t* out) {
    const bool red_first = read[0] == 2 && read[1] == 1 && read[2] == 0;
    if (!red_first && !(read[0] == 0 && read[1] == 1 && read[2] == 2)) {
        return 0;
    }
    if (divisor > kMostVectorDivisor) {
        return 0;
    }
    const int pixels = Factor > 0 ? Factor : factor;
    const VectorMeans means_of(divisor);
    auto bytes_of = [&](__m128i totals) {
        const __m128i means = blue_first(means_of.of(totals), red_first);
        return _mm_packus_epi16(means, means);
    };
    if constexpr (Channels == 3) {
        for (int j = 0; j < blocks; ++j) {
            const __m128i bytes =
                bytes_of(one_block<Factor>(sums + static_cast<ptrdiff_t>(j) * 3 * pixels, factor));
            const auto pixel = static_cast<uint32_t>(_mm_cvtsi128_si32(bytes));
            std::memcpy(out + static_cast<ptrdiff_t>(j) * 3, &pixel, 4);
        }
        return blocks;
    } else {
        const int pairs = blocks / 2;
        for (int j = 0; j < pairs; ++j) {
            const __m128i bytes =
                bytes_of(two_blocks<Factor>(sums + static_cast<ptrdiff_t>(j) * 8 * pixels, factor));
            store_three_byte_pixels<2>(bytes, out + static_cast<ptrdiff_t>(j) * 6);
        }
        return 2 * pairs;
    }
}

// Eight blocks' means from their totals as VectorMeans::eight makes them,
// in floats, rounded half up as one at a time (the totals are never
// negative): 16-bit samples' totals take more than 16 bits. A third slower
// for bytes than in 16-bit lanes.
struct FloatMeans {
    explicit FloatMeans(uint32_t divisor)
        : inverse(_mm_set1_ps(1.0f / static_cast<float>(divisor))), half(_mm_set1_ps(0.5f)) {}

    // Four means from four totals in 32-bit lanes.
    __m128i of(__m128i totals) const {
        return _mm_cvttps_epi32(_mm_add_ps(_mm_mul_ps(_mm_cvtepi32_ps(totals), inverse), half));
    }

    template <typename Total> __m128i eight(const Total& total) const {
        auto four = [&](size_t j) {
            return of(_mm_setr_epi32(total(j), total(j + 1), total(j + 2), total(j + 3)));
        };
        return _mm_packs_epi32(four(0), four(4));
    }

    __m128 inverse, half;
};

// The means of whole blocks of luma sums, one a pixel (a plane's, packed
// 4:2:2's and AYUV's summed alone, V210's), from `sums` on into `out`,
// eight at a time; returns how many were made. One at a time, each mean's
// 64-bit multiply took most of the shrink.
template <typename Sum, int Factor>
int vector_luma_blocks(const Sum* sums, int blocks, int factor, uint32_t divisor, uint8_t* out) {
    using Means = std::conditional_t<sizeof(Sum) == 2, VectorMeans, FloatMeans>;
    if (std::is_same_v<Means, VectorMeans> && divisor > kMostVectorDivisor) {
        return 0;
    }
    const Means means_of(divisor);
    const int pixels = Factor > 0 ? Factor : factor;
    constexpr int kLanes = 8;
    int done = 0;
    for (; done + kLanes <= blocks; done += kLanes) {
        const Sum* first = sums + static_cast<ptrdiff_t>(done) * pixels;
        auto total = [&](size_t j) {
            int sum = 0;
            for (int x = 0; x < pixels; ++x) {
                sum += static_cast<int>(first[static_cast<ptrdiff_t>(j) * pixels + x]);
            }
            return sum;
        };
        const __m128i means = means_of.eight(total);
        _mm_storel_epi64(reinterpret_cast<__m128i*>(out + done), _mm_packus_epi16(means, means));
    }
    return done;
}
#endif

// The means of `blocks` whole blocks of `factor` pixels, `band` rows deep,
// into `out`.
template <typename Sum, int Channels, int Written, int Factor>
void shrink_blocks(const Sum* sums, int blocks, int factor, uint32_t band,
                   const int (&read)[Written], uint8_t* out) {
    const uint32_t divisor = band * factor;
    int done = 0;
#ifdef VEILCAM_SSE2
    if constexpr (Written == 3 && std::is_same_v<Sum, uint16_t>) {
        done = vector_blocks<Channels, Factor>(sums, blocks, factor, divisor, read, out);
    } else if constexpr (Written == 1) {
        done = vector_luma_blocks<Sum, Factor>(sums, blocks, factor, divisor, out);
    }
#endif
    whole_blocks<Sum, Channels, Written, Factor>(
        sums + static_cast<ptrdiff_t>(done) * factor * Channels, blocks - done, factor, read,
        reciprocal(divisor), out + done * Written);
}

// One row of the shrunk image, `shrunk_width` pixels, from the summed rows
// of its band, `band` rows deep at `level_scale`.
template <typename Sum, int Channels, int Written>
void shrink_row(const std::array<int, 3>& channels_read, const Sum* sums, int width, int factor,
                uint32_t band, int shrunk_width, uint8_t* out) {
    int read[Written];
    std::copy_n(channels_read.begin(), Written, read);
    const int whole = std::min(shrunk_width - 1, width / factor);
    // 2, 3, 4 and 6 shrink 1280, 1920, 2560 and 3840 wide frames to 640.
    switch (factor) {
    case 2:
        shrink_blocks<Sum, Channels, Written, 2>(sums, whole, factor, band, read, out);
        break;
    case 3:
        shrink_blocks<Sum, Channels, Written, 3>(sums, whole, factor, band, read, out);
        break;
    case 4:
        shrink_blocks<Sum, Channels, Written, 4>(sums, whole, factor, band, read, out);
        break;
    case 6:
        shrink_blocks<Sum, Channels, Written, 6>(sums, whole, factor, band, read, out);
        break;
    default:
        shrink_blocks<Sum, Channels, Written, 0>(sums, whole, factor, band, read, out);
    }
    // The last pixel takes what is left of the row, part of a factor or a
    // factor and part of another.
    const int rest = width - whole * factor;
    block_means<Sum, Channels, Written>(sums + static_cast<ptrdiff_t>(whole) * factor * Channels,
                                        rest, read, reciprocal(band * rest), out + whole * Written);
}

template <typename Sum>
using RowShrink = void (*)(const std::array<int, 3>&, const Sum*, int, int, uint32_t, int,
                           uint8_t*);

template <typename Sum> RowShrink<Sum> row_shrink(const ShrinkLayout& layout) {
    switch (layout.channels * 4 + layout.written) {
    case 1 * 4 + 1:
        return shrink_row<Sum, 1, 1>;
    case 3 * 4 + 3:
        return shrink_row<Sum, 3, 3>;
    case 4 * 4 + 3:
        return shrink_row<Sum, 4, 3>;
    default:
        throw std::logic_error("no shrink for " + std::to_string(layout.channels) +
                               " channels to " + std::to_string(layout.written));
    }
}

// The power of two a level scale is, or -1.
int scale_bits(int level_scale) {
    for (int bits = 0; bits < 16; ++bits) {
        if (level_scale == 1 << bits) {
            return bits;
        }
    }
    return -1;
}

#ifdef VEILCAM_SSE2
// A band shrunk by `Factor` each way, eight pixels at a time up to `most`,
// into `out`: `four(column)` makes the means of the four blocks from
// `column` on, in 32-bit lanes. Returns how many were made.
template <int Factor, typename Four>
int shrink_eight_at_a_time(int most, uint8_t* out, const Four& four) {
    constexpr int kPixels = 8;
    int done = 0;
    for (; done + kPixels <= most; done += kPixels) {
        const size_t column = static_cast<size_t>(done) * Factor;
        const __m128i means = _mm_packs_epi32(four(column), four(column + kPixels / 2 * Factor));
        _mm_storel_epi64(reinterpret_cast<__m128i*>(out + done), _mm_packus_epi16(means, means));
    }
    return done;
}
#endif

// Two rows of 16-bit samples, one a pixel, at a level scale of 2 to the
// `bits`, halved each way straight to 8 bits up to `most` pixels; returns
// how many were made. Summed into 32 bits a band at a time and then
// divided, and by OpenCV halved and then converted, 16-bit samples made
// images two and a half times the cost of 8-bit ones at 1280x720.
int halve_wide_samples(const uint8_t* top, size_t linesize, int bits, int most, uint8_t* out) {
#ifdef VEILCAM_SSE2
    // A sample with its top bit flipped is itself less 32768 as a signed
    // one, which a multiply-add of pairs takes: two pairs' sums fall 131072
    // short.
    const __m128i top_bit = _mm_set1_epi16(static_cast<int16_t>(0x8000));
    const __m128i ones = _mm_set1_epi16(1);
    const __m128i rounded = _mm_set1_epi32(131072 + (2 << bits));
    const __m128i divide = _mm_cvtsi32_si128(bits + 2);
    const uint8_t* bottom = top + linesize;
    return shrink_eight_at_a_time<2>(most, out, [&](size_t column) {
        auto pairs = [&](const uint8_t* row) {
            const auto* at = reinterpret_cast<const __m128i*>(row + column * sizeof(uint16_t));
            return _mm_madd_epi16(_mm_xor_si128(_mm_loadu_si128(at), top_bit), ones);
        };
        return _mm_srl_epi32(_mm_add_epi32(_mm_add_epi32(pairs(top), pairs(bottom)), rounded),
                             divide);
    });
#else
    (void)top, (void)linesize, (void)bits, (void)most, (void)out;
    return 0;
#endif
}

// Six rows of 16-bit samples, one a pixel, at a level scale of
// `level_scale`, shrunk by six each way straight to 8 bits, eight pixels
// at a time up to `most`; returns how many were made. Summed into 32 bits
// for the whole row and then in blocks, a 3840x2160 frame's image took
// twice as long as an 8-bit one's.
int shrink_wide_samples_by_six(const uint8_t* top, size_t linesize, int level_scale, int most,
                               uint8_t* out) {
#ifdef VEILCAM_SSE2
    constexpr int kFactor = 6;
    const __m128i top_bit = _mm_set1_epi16(static_cast<int16_t>(0x8000));
    const __m128i ones = _mm_set1_epi16(1);
    // A block's 18 pairs' sums, each 65536 short, as halve_wide_samples'.
    const __m128i short_by = _mm_set1_epi32(kFactor * kFactor / 2 * 65536);
    const FloatMeans means_of(static_cast<uint32_t>(kFactor * kFactor * level_scale));
    return shrink_eight_at_a_time<kFactor>(most, out, [&](size_t column) {
        // Four blocks' columns, pairs 0 to 11, four pairs a vector.
        __m128i sums[3] = {};
        for (int y = 0; y < kFactor; ++y) {
            const auto* row = reinterpret_cast<const __m128i*>(
                top + static_cast<size_t>(y) * linesize + column * sizeof(uint16_t));
            for (int v = 0; v < 3; ++v) {
                sums[v] = _mm_add_epi32(
                    sums[v],
                    _mm_madd_epi16(_mm_xor_si128(_mm_loadu_si128(row + v), top_bit), ones));
            }
        }
        const __m128 pairs[3] = {_mm_castsi128_ps(sums[0]), _mm_castsi128_ps(sums[1]),
                                 _mm_castsi128_ps(sums[2])};
        // Block j is pairs 3j, 3j + 1 and 3j + 2: each third pair from the
        // first, second and third on, taken out of the three vectors.
        const __m128 two_to_five = _mm_shuffle_ps(pairs[0], pairs[1], _MM_SHUFFLE(1, 0, 3, 2));
        const __m128 six_to_nine = _mm_shuffle_ps(pairs[1], pairs[2], _MM_SHUFFLE(1, 0, 3, 2));
        const __m128 firsts = _mm_shuffle_ps(pairs[0], six_to_nine, _MM_SHUFFLE(3, 0, 3, 0));
        const __m128 seconds =
            _mm_shuffle_ps(_mm_shuffle_ps(pairs[0], two_to_five, _MM_SHUFFLE(2, 2, 1, 1)),
                           _mm_shuffle_ps(six_to_nine, pairs[2], _MM_SHUFFLE(2, 2, 1, 1)),
                           _MM_SHUFFLE(2, 0, 2, 0));
        const __m128 thirds = _mm_shuffle_ps(two_to_five, pairs[2], _MM_SHUFFLE(3, 0, 3, 0));
        const __m128i totals =
            _mm_add_epi32(_mm_add_epi32(_mm_castps_si128(firsts), _mm_castps_si128(seconds)),
                          _mm_add_epi32(_mm_castps_si128(thirds), short_by));
        return means_of.of(totals);
    });
#else
    (void)top, (void)linesize, (void)level_scale, (void)most, (void)out;
    return 0;
#endif
}

// Channel `channel` of two rows of pixels of `Channels` bytes from `top`
// on halved each way up to `most` pixels; returns how many were made. The
// luma taken out of the whole frame and then halved by OpenCV, packed
// 4:2:2's image cost twice, and AYUV's three times, its reading.
template <int Channels>
int halve_one_channel(const uint8_t* top, size_t linesize, int channel, int most, uint8_t* out) {
#ifdef VEILCAM_SSE2
    const __m128i shift = _mm_cvtsi32_si128(8 * channel);
    const __m128i ones = _mm_set1_epi16(1);
    const __m128i rounding = _mm_set1_epi32(2);
    const uint8_t* const bottom = top + linesize;
    return shrink_eight_at_a_time<2>(most, out, [&](size_t column) {
        const size_t at = column * Channels;
        const __m128i columns = _mm_add_epi16(eight_of_channel<Channels>(top + at, shift),
                                              eight_of_channel<Channels>(bottom + at, shift));
        // A block's two columns summed by a multiply-add.
        return _mm_srli_epi32(_mm_add_epi32(_mm_madd_epi16(columns, ones), rounding), 2);
    });
#else
    (void)top, (void)linesize, (void)channel, (void)most, (void)out;
    return 0;
#endif
}

#ifdef VEILCAM_SSE2
// Four blocks' means, two blocks' totals a vector in 16-bit lanes (blue,
// green and red read as they lie, or red first, and a fourth), written to
// `out` three bytes a block.
void write_four_blocks(const VectorMeans& means_of, __m128i first_two, __m128i last_two,
                       bool red_first, uint8_t* out) {
    store_three_byte_pixels<4>(_mm_packus_epi16(blue_first(means_of.of(first_two), red_first),
                                                blue_first(means_of.of(last_two), red_first)),
                               out);
}
#endif

// Rows of four-byte RGB pixels from `top` on shrunk by `Factor` each way
// into `out`, blue, green and red a pixel (read as they lie, or red first),
// four blocks at a time up to `most`; returns how many were made. Each
// band's sums kept in registers, not written out for the whole row and read
// back: a 1920x1080 frame's image took two thirds longer.
template <int Factor>
int shrink_four_bytes(const uint8_t* top, size_t linesize, bool red_first, int most, uint8_t* out) {
    int done = 0;
#ifdef VEILCAM_SSE2
    const __m128i zero = _mm_setzero_si128();
    const VectorMeans means_of(Factor * Factor);
    // `Factor` vectors of four pixels a row.
    constexpr int kBlocks = 4;
    for (; done + kBlocks <= most; done += kBlocks) {
        // Each two pixels' sums down the band in 16-bit lanes.
        __m128i pairs[2 * Factor] = {};
        for (int y = 0; y < Factor; ++y) {
            const auto* row = reinterpret_cast<const __m128i*>(
                top + static_cast<size_t>(y) * linesize + static_cast<size_t>(done) * Factor * 4);
            for (int v = 0; v < Factor; ++v) {
                const __m128i pixels = _mm_loadu_si128(row + v);
                pairs[2 * v] = _mm_add_epi16(pairs[2 * v], _mm_unpacklo_epi8(pixels, zero));
                pairs[2 * v + 1] = _mm_add_epi16(pairs[2 * v + 1], _mm_unpackhi_epi8(pixels, zero));
            }
        }
        const auto* sums = reinterpret_cast<const uint16_t*>(pairs);
        write_four_blocks(means_of, two_blocks<Factor>(sums, Factor),
                          two_blocks<Factor>(sums + 8 * Factor, Factor), red_first, out + 3 * done);
    }
#else
    (void)top, (void)linesize, (void)red_first, (void)most, (void)out;
#endif
    return done;
}

#ifdef VEILCAM_SSE2
// Two rows' samples in a column, byte by byte: their average rounded up,
// and their bitwise difference, whose lowest bit says the sum was odd.
struct HalvedColumns {
    __m128i averages, differences;
};

HalvedColumns halved_columns(const uint8_t* top, size_t linesize, size_t at) {
    const __m128i upper = _mm_loadu_si128(reinterpret_cast<const __m128i*>(top + at));
    const __m128i lower = _mm_loadu_si128(reinterpret_cast<const __m128i*>(top + linesize + at));
    return {_mm_avg_epu8(upper, lower), _mm_xor_si128(upper, lower)};
}

// The means of blocks of two columns, rounded half up, byte by byte: the
// columns' averages averaged, rounded up again, which is one too many where
// the averages differ in parity and either column's sum was odd. Sixteen
// to an instruction, where sums in 16-bit lanes took eight.
__m128i halved_block_means(const HalvedColumns& left, const HalvedColumns& right) {
    const __m128i rounded_twice =
        _mm_and_si128(_mm_and_si128(_mm_xor_si128(left.averages, right.averages),
                                    _mm_or_si128(left.differences, right.differences)),
                      _mm_set1_epi8(1));
    return _mm_sub_epi8(_mm_avg_epu8(left.averages, right.averages), rounded_twice);
}

template <bool Odd>
HalvedColumns every_other_pixels_columns(const HalvedColumns& a, const HalvedColumns& b) {
    return {every_other_pixel<Odd>(a.averages, b.averages),
            every_other_pixel<Odd>(a.differences, b.differences)};
}

// Four-byte pixels' first and third bytes swapped where `swap`: red first
// made blue first.
__m128i bytes_blue_first(__m128i pixels, bool swap) {
    if (!swap) {
        return pixels;
    }
    const __m128i apart =
        _mm_and_si128(_mm_xor_si128(pixels, _mm_srli_epi32(pixels, 16)), _mm_set1_epi32(0xFF));
    return _mm_xor_si128(pixels, _mm_or_si128(apart, _mm_slli_epi32(apart, 16)));
}
#endif

// Two rows of four-byte RGB pixels from `top` on halved each way into
// `out`, blue, green and red a pixel (read as they lie, or red first), four
// at a time up to `most`; returns how many were made. Summed in 16-bit
// lanes, a 1280x720 frame's image cost nearly twice its reading.
int halve_four_bytes(const uint8_t* top, size_t linesize, bool red_first, int most, uint8_t* out) {
    int done = 0;
#ifdef VEILCAM_SSE2
    constexpr int kBlocks = 4;
    for (; done + kBlocks <= most; done += kBlocks) {
        const size_t at = static_cast<size_t>(done) * 8;
        const HalvedColumns first = halved_columns(top, linesize, at);
        const HalvedColumns second = halved_columns(top, linesize, at + 16);
        const __m128i means = halved_block_means(every_other_pixels_columns<false>(first, second),
                                                 every_other_pixels_columns<true>(first, second));
        store_three_byte_pixels<kBlocks>(bytes_blue_first(means, red_first), out + 3 * done);
    }
#else
    (void)top, (void)linesize, (void)red_first, (void)most, (void)out;
#endif
    return done;
}

// Two rows of three-byte RGB pixels (BGR3) from `top` on halved each way
// into `out`, three pixels at a time up to `most`; returns how many were
// made. Halved by OpenCV, a 1280x720 frame's image cost three times its
// reading, and summed in 16-bit lanes over twice.
int halve_three_bytes(const uint8_t* top, size_t linesize, int most, uint8_t* out) {
    int done = 0;
#ifdef VEILCAM_SSE2
    constexpr int kBlocks = 3;
    for (; done + kBlocks <= most; done += kBlocks) {
        // A vector from the blocks' first pixels and one from their second
        // hold three blocks' columns, six bytes apart.
        const size_t at = static_cast<size_t>(done) * 6;
        store_three_byte_pixels<kBlocks, 6>(
            halved_block_means(halved_columns(top, linesize, at),
                               halved_columns(top, linesize, at + 3)),
            out + 3 * done);
    }
#else
    (void)top, (void)linesize, (void)most, (void)out;
#endif
    return done;
}

// Rows of RGB pixels of one byte a channel, `format`'s plane 0 laid out as
// `layout` says, from `top` on shrunk by `factor` where a vector path takes
// it: BGR3 halved, four-byte RGB by 2, 3, 4 or 6. Returns how many were
// made, up to `most`.
int shrink_rgb(const ShrinkLayout& layout, const uint8_t* top, size_t linesize, int factor,
               int most, uint8_t* out) {
    const bool red_first = layout.read == std::array<int, 3>{2, 1, 0};
    if (!red_first && layout.read != std::array<int, 3>{0, 1, 2}) {
        return 0;
    }
    if (layout.channels == 3) {
        return factor == 2 && !red_first ? halve_three_bytes(top, linesize, most, out) : 0;
    }
    switch (factor) {
    case 2:
        return halve_four_bytes(top, linesize, red_first, most, out);
    case 3:
        return shrink_four_bytes<3>(top, linesize, red_first, most, out);
    case 4:
        return shrink_four_bytes<4>(top, linesize, red_first, most, out);
    case 6:
        return shrink_four_bytes<6>(top, linesize, red_first, most, out);
    default:
        return 0;
    }
}

// The first pixels of a band `factor` rows deep made straight from the
// frame, where a vector path takes its format at that factor: 16-bit
// samples, BGR3, R10L and the luma of packed 4:2:2 and AYUV halved,
// four-byte RGB shrunk by 2, 3, 4 or 6, V210 by 2, 3 or 6 from a whole
// group on. Returns how many were made, up to `most`; the rest are made
// from the band's sums.
int straight_means(const obs_source_frame& frame, const FrameFormat& format,
                   const ShrinkLayout& layout, const cv::Rect& area, int y0, int factor, int most,
                   std::vector<uint16_t>& totals, uint8_t* out) {
    const size_t linesize = frame.linesize[0];
    const uint8_t* const row = frame.data[0] + static_cast<size_t>(y0) * linesize;
    if (format.packing == Packing::R10L) {
        return factor == 2
                   ? halve_r10l(row + packed_row_bytes(format.packing, area.x), linesize, most, out)
                   : 0;
    }
    if (factor == 2 && layout.luma_of >= 0) {
        const int pixel_bytes = format.planes[0].channels;
        const auto halve = pixel_bytes == 2 ? halve_one_channel<2> : halve_one_channel<4>;
        return halve(row + static_cast<size_t>(area.x) * pixel_bytes, linesize, layout.luma_of,
                     most, out);
    }
    if (format.packing == Packing::Samples && format.samples.bytes == 1 && layout.written == 3) {
        return shrink_rgb(layout, row + static_cast<size_t>(area.x) * layout.channels, linesize,
                          factor, most, out);
    }
    if (format.packing == Packing::Samples && format.samples.bytes == 2 && layout.channels == 1) {
        const uint8_t* const first = row + static_cast<size_t>(area.x) * 2;
        if (factor == 2) {
            const int level_bits = scale_bits(format.samples.level_scale);
            return level_bits < 0 ? 0 : halve_wide_samples(first, linesize, level_bits, most, out);
        }
        return factor == 6 ? shrink_wide_samples_by_six(first, linesize, format.samples.level_scale,
                                                        most, out)
                           : 0;
    }
#ifdef VEILCAM_SSE2
    if (format.packing == Packing::V210 && area.x % packed_group_pixels(format.packing) == 0) {
        // Means are made eight at a time; the totals of up to four blocks
        // more are left to the sums.
        constexpr int kLanes = 8;
        totals.resize(static_cast<size_t>(most) + kLanes);
        const int made =
            v210_block_totals(frame.data[0], linesize, y0, packed_row_bytes(format.packing, area.x),
                              factor, most, totals.data()) /
            kLanes * kLanes;
        const VectorMeans means_of(
            static_cast<uint32_t>(factor * factor * format.samples.level_scale));
        for (int x = 0; x < made; x += kLanes) {
            const __m128i means =
                means_of.of(_mm_loadu_si128(reinterpret_cast<const __m128i*>(totals.data() + x)));
            _mm_storel_epi64(reinterpret_cast<__m128i*>(out + x), _mm_packus_epi16(means, means));
        }
        return made;
    }
#endif
    return 0;
}

template <typename Sum>
void shrink_rows(const obs_source_frame& frame, const FrameFormat& format,
                 const ShrinkLayout& layout, const cv::Rect& area, int factor,
                 std::vector<Sum>& sums, std::vector<uint16_t>& totals, cv::Mat& shrunk) {
    const RowShrink<Sum> shrink = row_shrink<Sum>(layout);
    for (int row = 0; row < shrunk.rows; ++row) {
        const int y0 = area.y + row * factor;
        // Like the last column, the last row takes what is left.
        const int y1 = row + 1 < shrunk.rows ? y0 + factor : area.y + area.height;
        uint8_t* const out = shrunk.ptr(row);
        const int made =
            y1 - y0 == factor
                ? straight_means(frame, format, layout, area, y0, factor,
                                 std::min(shrunk.cols - 1, area.width / factor), totals, out)
                : 0;
        const cv::Rect rest(area.x + made * factor, area.y, area.width - made * factor,
                            area.height);
        const int skipped = sum_rows(frame, format, layout, rest, y0, y1, sums);
        shrink(layout.read, sums.data() + static_cast<ptrdiff_t>(skipped) * layout.channels,
               rest.width, factor, static_cast<uint32_t>((y1 - y0) * format.samples.level_scale),
               shrunk.cols - made, out + made * layout.written);
    }
}

} // namespace

bool halves_straight(const FrameFormat& format) {
    if (format.packing != Packing::Samples) {
        return true;
    }
    const ShrinkLayout layout = layout_of(format);
    return format.samples.bytes == 2 ? layout.channels == 1
                                     : layout.luma_of >= 0 || layout.written == 3;
}

void box_shrink(const obs_source_frame& frame, const FrameFormat& format, const cv::Rect& area,
                int factor, cv::Size size, BoxShrinkRows& rows, cv::Mat& shrunk) {
    const ShrinkLayout layout = layout_of(format);
    shrunk.create(size, CV_8UC(layout.written));
    // A band of 16-bit samples overflows 16-bit sums.
    if (format.packing == Packing::Samples && format.samples.bytes == 2) {
        shrink_rows(frame, format, layout, area, factor, rows.wide_sums, rows.totals, shrunk);
    } else {
        shrink_rows(frame, format, layout, area, factor, rows.sums, rows.totals, shrunk);
    }
}

} // namespace veilcam
