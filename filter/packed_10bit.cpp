#include "filter/packed_10bit.hpp"

#include "filter/region_resample.hpp"
#include "filter/sse2.hpp"

#include <algorithm>
#include <cstring>

namespace veilcam {
namespace {

constexpr uint32_t kTenBits = 0x3FF;
// V210 puts twelve samples in four words, three to a word from bit 0 up, in
// the order unpacking gives them: Cb Y Cr Y Cb Y Cr Y Cb Y Cr Y.
constexpr int kV210GroupPixels = 6;
constexpr int kV210GroupWords = 4;
constexpr uint32_t kV210Spare = 0xC0000000u;
// R10L: red in bits 31-22, green in 21-12, blue in 11-2.
constexpr int kR10LRed = 22, kR10LGreen = 12, kR10LBlue = 2;
constexpr int kR10LSums = 4; // a fourth sum, left 0, makes a pixel a vector's half
constexpr uint32_t kR10LSpare = 0x3u;

// One load and one store a word: assembled byte by byte, the words cost
// most of hiding a packed 10-bit frame. The frame's words are little-endian,
// as every processor OBS runs on is.
uint32_t read_word(const uint8_t* p) {
    uint32_t word;
    std::memcpy(&word, p, sizeof word);
    return word;
}

void write_word(uint8_t* p, uint32_t word) {
    std::memcpy(p, &word, sizeof word);
}

// The lowest bit of a word's first field, and the bits its fields hold.
int lowest_bit(Packing packing) {
    return packing == Packing::V210 ? 0 : kR10LBlue;
}

uint32_t field_bits(Packing packing) {
    return packing == Packing::V210 ? ~kV210Spare : ~kR10LSpare;
}

// Three samples, as unpacked, in one word's fields; its spare bits clear.
uint32_t pack_word(Packing packing, const uint16_t* samples) {
    return ((samples[0] & kTenBits) | (samples[1] & kTenBits) << 10 | (samples[2] & kTenBits) << 20)
           << lowest_bit(packing);
}

// The first byte of pixel x's group.
const uint8_t* group_start(Packing packing, const uint8_t* row, int x) {
    return packing == Packing::V210 ? row + (x / kV210GroupPixels) * kV210GroupWords * 4
                                    : row + static_cast<ptrdiff_t>(x) * 4;
}

// Pixel p (< 6) of a V210 group's luma: it follows the pixel's chroma.
uint32_t v210_luma(const uint8_t* group, int p) {
    const int slot = 2 * p + 1;
    return read_word(group + slot / 3 * 4) >> (10 * (slot % 3)) & kTenBits;
}

// Channel c of an R10L word: blue, green and red.
uint32_t r10l_channel(uint32_t word, int c) {
    return word >> (kR10LBlue + 10 * c) & kTenBits;
}

// The samples of a pixel the detector reads: V210's luma, or R10L's blue,
// green and red.
int detected_channels(Packing packing) {
    return packing == Packing::V210 ? 1 : 3;
}

// Sample c of those of pixel x of a packed row.
uint32_t detected_sample(Packing packing, const uint8_t* row, int x, int c) {
    const uint8_t* group = group_start(packing, row, x);
    return packing == Packing::V210 ? v210_luma(group, x % kV210GroupPixels)
                                    : r10l_channel(read_word(group), c);
}

// A 10-bit level at 8 bits, its half levels made even.
uint8_t eight_bits(uint32_t level) {
    return static_cast<uint8_t>(std::min<uint32_t>((level + 1 + (level >> 2 & 1)) >> 2, 255));
}

// Pixels [from, to) summed one at a time over `rows` rows from `first` on:
// what a vector cannot take.
void sum_pixels_one_by_one(Packing packing, const uint8_t* first, size_t linesize, int rows,
                           int from, int to, uint16_t* sums) {
    const int per_pixel = packed_pixel_sums(packing);
    const int channels = detected_channels(packing);
    std::fill(sums + from * per_pixel, sums + to * per_pixel, uint16_t{0});
    for (int y = 0; y < rows; ++y) {
        const uint8_t* row = first + static_cast<size_t>(y) * linesize;
        for (int x = from; x < to; ++x) {
            uint16_t* sum = sums + x * per_pixel;
            for (int c = 0; c < channels; ++c) {
                sum[c] = static_cast<uint16_t>(sum[c] + detected_sample(packing, row, x, c));
            }
        }
    }
}

#ifdef VEILCAM_SSE2
// Summed field by field, each word's three fields made apart and narrowed
// to 16 bits, V210 and R10L made the largest detection images of any
// format. A vector of four words (a V210 group, four R10L pixels) gives
// what the image needs in 16-bit lanes, summed down the rows as they lie.

// A V210 group's luma, a lane left 0 after each word that starts with
// chroma: Y0 0 Y1 Y2 Y3 0 Y4 Y5. The middle field of words 0 and 2, the
// outer two of words 1 and 3, the last moved into the top half of its word;
// each field `Bits` wide, as its sums down a few rows are.
template <int Bits> __m128i v210_luma_lanes(__m128i words) {
    constexpr int kField = (1 << Bits) - 1;
    const __m128i middle = _mm_set_epi32(0, kField, 0, kField);
    const __m128i first = _mm_set_epi32(kField, 0, kField, 0);
    const __m128i last = _mm_set_epi32(kField << 16, 0, kField << 16, 0);
    return _mm_or_si128(
        _mm_or_si128(_mm_and_si128(_mm_srli_epi32(words, 10), middle), _mm_and_si128(words, first)),
        _mm_and_si128(_mm_srli_epi32(words, 4), last));
}

// Fields are summed where they lie in their words, those between them
// cleared: taking each field out of every word of every row made V210's and
// R10L's detection images cost twice what reading their words does. A
// word's last field, 20 bits up, holds the sum of four rows at most.
constexpr int kRowsInPlace = 4;
constexpr int kFieldSumBits = 12;
constexpr int kLastField = 20; // the lowest bit of a word's last field
static_assert(kRowsInPlace * kTenBits < (1u << kFieldSumBits) && kLastField + kFieldSumBits <= 32,
              "a field's sums stay in its bits");
constexpr uint32_t kMiddleField = kTenBits << 10;
constexpr uint32_t kOuterFields = kTenBits | kTenBits << kLastField;

// The luma fields of a V210 group's four words: the middle one of words 0
// and 2, the outer two of words 1 and 3.
__m128i v210_luma_fields() {
    return _mm_set_epi32(kOuterFields, kMiddleField, kOuterFields, kMiddleField);
}

template <int Groups>
void sum_v210_luma(const uint8_t* first, size_t linesize, int rows, uint16_t* out) {
    const __m128i luma_fields = v210_luma_fields();
    __m128i totals[Groups] = {};
    for (int top = 0; top < rows; top += kRowsInPlace) {
        const int bottom = std::min(rows, top + kRowsInPlace);
        __m128i in_place[Groups] = {};
        for (int y = top; y < bottom; ++y) {
            const auto* row =
                reinterpret_cast<const __m128i*>(first + static_cast<size_t>(y) * linesize);
            for (int g = 0; g < Groups; ++g) {
                in_place[g] = _mm_add_epi32(in_place[g],
                                            _mm_and_si128(_mm_loadu_si128(row + g), luma_fields));
            }
        }
        for (int g = 0; g < Groups; ++g) {
            totals[g] = _mm_add_epi16(totals[g], v210_luma_lanes<kFieldSumBits>(in_place[g]));
        }
    }
    for (int g = 0; g < Groups; ++g) {
        // Y0 Y1 Y2 0 and Y3 Y4 Y5 0, each 0 overwritten by the next pixel.
        const __m128i luma = _mm_shufflehi_epi16(
            _mm_shufflelo_epi16(totals[g], _MM_SHUFFLE(1, 3, 2, 0)), _MM_SHUFFLE(1, 3, 2, 0));
        _mm_storel_epi64(reinterpret_cast<__m128i*>(out + 6 * g), luma);
        _mm_storel_epi64(reinterpret_cast<__m128i*>(out + 6 * g + 3),
                         _mm_unpackhi_epi64(luma, luma));
    }
}

// Four groups' luma sums kept in place turned about: vector w holds word w
// of each group.
void by_word(__m128i (&groups)[4]) {
    const __m128i first_words = _mm_unpacklo_epi32(groups[0], groups[1]);
    const __m128i more_first_words = _mm_unpacklo_epi32(groups[2], groups[3]);
    const __m128i last_words = _mm_unpackhi_epi32(groups[0], groups[1]);
    const __m128i more_last_words = _mm_unpackhi_epi32(groups[2], groups[3]);
    groups[0] = _mm_unpacklo_epi64(first_words, more_first_words);
    groups[1] = _mm_unpackhi_epi64(first_words, more_first_words);
    groups[2] = _mm_unpacklo_epi64(last_words, more_last_words);
    groups[3] = _mm_unpackhi_epi64(last_words, more_last_words);
}

// Four groups' blocks of luma totals, `Factor` rows from `first` on, into
// `out`: a group's three blocks of two pixels (Factor 2), two of three or
// one of six. Summed pixel by pixel down the band and then in blocks,
// V210's image cost up to twice as much.
template <int Factor>
void v210_four_groups_blocks(const uint8_t* first, size_t linesize, uint16_t* out) {
    constexpr int kRows = Factor;
    const __m128i luma_fields = v210_luma_fields();
    const __m128i first_field = _mm_set1_epi32((1 << kFieldSumBits) - 1);
    // Each group's Y0 Y1 Y2 Y3 Y4 Y5 summed in blocks.
    __m128i blocks[3] = {};
    for (int top = 0; top < kRows; top += kRowsInPlace) {
        const int bottom = std::min(kRows, top + kRowsInPlace);
        __m128i words[4] = {};
        for (int y = top; y < bottom; ++y) {
            const auto* row =
                reinterpret_cast<const __m128i*>(first + static_cast<size_t>(y) * linesize);
            for (int g = 0; g < 4; ++g) {
                words[g] =
                    _mm_add_epi32(words[g], _mm_and_si128(_mm_loadu_si128(row + g), luma_fields));
            }
        }
        by_word(words);
        // A middle field is alone in its word; an outer word's two lie at
        // its ends.
        const __m128i y0 = _mm_srli_epi32(words[0], 10);
        const __m128i y1 = _mm_and_si128(words[1], first_field);
        const __m128i y2 = _mm_srli_epi32(words[1], kLastField);
        const __m128i y3 = _mm_srli_epi32(words[2], 10);
        const __m128i y4 = _mm_and_si128(words[3], first_field);
        const __m128i y5 = _mm_srli_epi32(words[3], kLastField);
        if constexpr (Factor == 2) {
            blocks[0] = _mm_add_epi32(blocks[0], _mm_add_epi32(y0, y1));
            blocks[1] = _mm_add_epi32(blocks[1], _mm_add_epi32(y2, y3));
            blocks[2] = _mm_add_epi32(blocks[2], _mm_add_epi32(y4, y5));
        } else {
            blocks[0] = _mm_add_epi32(blocks[0], _mm_add_epi32(_mm_add_epi32(y0, y1), y2));
            blocks[1] = _mm_add_epi32(blocks[1], _mm_add_epi32(_mm_add_epi32(y3, y4), y5));
        }
    }
    if constexpr (Factor == 2) {
        // A group's three totals and a 0 in 16-bit lanes, each 0 written
        // over by the next group's.
        const __m128i first_two = _mm_or_si128(blocks[0], _mm_slli_epi32(blocks[1], 16));
        const __m128i groups[2] = {_mm_unpacklo_epi32(first_two, blocks[2]),
                                   _mm_unpackhi_epi32(first_two, blocks[2])};
        for (int g = 0; g < 4; ++g) {
            const __m128i both = groups[g / 2];
            _mm_storel_epi64(reinterpret_cast<__m128i*>(out + 3 * g),
                             g % 2 == 0 ? both : _mm_unpackhi_epi64(both, both));
        }
        return;
    }
    // Totals of up to 36 10-bit samples pass 32767: moved down by 32768 to
    // be narrowed as signed ones, and back.
    const __m128i middle = _mm_set1_epi32(32768);
    const __m128i top_bit = _mm_set1_epi16(static_cast<int16_t>(0x8000));
    auto narrowed = [&](__m128i first_four, __m128i second_four) {
        return _mm_xor_si128(
            _mm_packs_epi32(_mm_sub_epi32(first_four, middle), _mm_sub_epi32(second_four, middle)),
            top_bit);
    };
    if constexpr (Factor == 6) {
        const __m128i totals = _mm_add_epi32(blocks[0], blocks[1]);
        _mm_storel_epi64(reinterpret_cast<__m128i*>(out), narrowed(totals, totals));
    } else {
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out),
                         narrowed(_mm_unpacklo_epi32(blocks[0], blocks[1]),
                                  _mm_unpackhi_epi32(blocks[0], blocks[1])));
    }
}

// The pixels a vector of four words holds: a V210 group, or four R10L
// pixels.
int vector_pixels(Packing packing) {
    return packing == Packing::V210 ? kV210GroupPixels : 4;
}

// 10-bit levels in 16-bit lanes at 8 bits, as eight_bits makes them.
__m128i eight_bit_lanes(__m128i levels) {
    const __m128i one = _mm_set1_epi16(1);
    const __m128i odd = _mm_and_si128(_mm_srli_epi16(levels, 2), one);
    return _mm_min_epi16(_mm_srli_epi16(_mm_add_epi16(_mm_add_epi16(levels, one), odd), 2),
                         _mm_set1_epi16(255));
}

// A V210 group's luma at 8 bits into `out`, four bytes at a time: one byte
// past the group is written over.
void v210_group_luma(const uint8_t* group, uint8_t* out) {
    const __m128i luma = eight_bit_lanes(
        v210_luma_lanes<10>(_mm_loadu_si128(reinterpret_cast<const __m128i*>(group))));
    // Y0 Y1 Y2 0 Y3 Y4 Y5 0
    const __m128i bytes =
        _mm_packus_epi16(_mm_shufflehi_epi16(_mm_shufflelo_epi16(luma, _MM_SHUFFLE(1, 3, 2, 0)),
                                             _MM_SHUFFLE(1, 3, 2, 0)),
                         luma);
    const auto first = static_cast<uint32_t>(_mm_cvtsi128_si32(bytes));
    const auto second = static_cast<uint32_t>(_mm_cvtsi128_si32(_mm_srli_epi64(bytes, 32)));
    std::memcpy(out, &first, 4);
    std::memcpy(out + 3, &second, 4);
}

// Four R10L pixels at 8 bits, blue, green, red, into `out`, four bytes a
// pixel: one byte past the fourth is written over.
void r10l_pixels(const uint8_t* words, uint8_t* out) {
    const __m128i low = _mm_set1_epi32(0x3FF);
    const __m128i in = _mm_loadu_si128(reinterpret_cast<const __m128i*>(words));
    const __m128i blue = _mm_and_si128(_mm_srli_epi32(in, kR10LBlue), low);
    const __m128i green = _mm_and_si128(_mm_srli_epi32(in, kR10LGreen), low);
    const __m128i red = _mm_srli_epi32(in, kR10LRed);
    // Blue and red go to 8 bits in the two halves of a lane, green alone;
    // each lane then holds blue | green << 8 | red << 16.
    const __m128i blue_red = eight_bit_lanes(_mm_or_si128(blue, _mm_slli_epi32(red, 16)));
    const __m128i pixels = _mm_or_si128(blue_red, _mm_slli_epi32(eight_bit_lanes(green), 8));
    store_three_byte_pixels<4>(pixels, out);
}

// R10L's sums kept in place, `whole` the words' and `blue_red` their blue
// and red fields' (moved down to blue), as four pixels' (or blocks') blue,
// green, red and 0 in 16-bit lanes into `apart`, two a vector. Green is
// what the whole words' sums hold besides blue and red.
void r10l_sums_apart(__m128i whole, __m128i blue_red, __m128i (&apart)[2]) {
    const __m128i first_sums = _mm_set1_epi32((1 << kFieldSumBits) - 1);
    // Green's sums, 10 bits up, moved into the top half.
    const __m128i green = _mm_slli_epi32(_mm_sub_epi32(whole, blue_red), 6);
    const __m128i blue_green = _mm_or_si128(_mm_and_si128(blue_red, first_sums), green);
    const __m128i red = _mm_srli_epi32(blue_red, kLastField);
    apart[0] = _mm_unpacklo_epi32(blue_green, red);
    apart[1] = _mm_unpackhi_epi32(blue_green, red);
}

// Four R10L pixels' sums into `out`, blue, green, red and 0 a pixel. Moved
// down to blue, a word's blue and red are summed in place. Every four rows
// they are added to `out`'s: the band's totals held in registers as well
// were spilled.
template <int Vectors>
void sum_r10l(const uint8_t* first, size_t linesize, int rows, uint16_t* out) {
    const __m128i outer_fields = _mm_set1_epi32(kOuterFields);
    auto* at = reinterpret_cast<__m128i*>(out);
    for (int top = 0; top < rows; top += kRowsInPlace) {
        const int bottom = std::min(rows, top + kRowsInPlace);
        __m128i whole[Vectors] = {}, blue_red[Vectors] = {};
        for (int y = top; y < bottom; ++y) {
            const auto* row =
                reinterpret_cast<const __m128i*>(first + static_cast<size_t>(y) * linesize);
            for (int v = 0; v < Vectors; ++v) {
                const __m128i fields = _mm_srli_epi32(_mm_loadu_si128(row + v), kR10LBlue);
                whole[v] = _mm_add_epi32(whole[v], fields);
                blue_red[v] = _mm_add_epi32(blue_red[v], _mm_and_si128(fields, outer_fields));
            }
        }
        for (int v = 0; v < Vectors; ++v) {
            __m128i pixels[2];
            r10l_sums_apart(whole[v], blue_red[v], pixels);
            for (int half = 0; half < 2; ++half) {
                if (top > 0) {
                    pixels[half] = _mm_add_epi16(pixels[half], _mm_loadu_si128(at + 2 * v + half));
                }
                _mm_storeu_si128(at + 2 * v + half, pixels[half]);
            }
        }
    }
}

// `Vectors` vectors of words from `first` on summed into the sums of
// their pixels from `out` on.
template <int Vectors>
void sum_vectors(Packing packing, const uint8_t* first, size_t linesize, int rows, uint16_t* out) {
    if (packing == Packing::V210) {
        sum_v210_luma<Vectors>(first, linesize, rows, out);
    } else {
        sum_r10l<Vectors>(first, linesize, rows, out);
    }
}
#endif

} // namespace

size_t packed_row_bytes(Packing packing, int width) {
    return packing == Packing::V210
               ? static_cast<size_t>((width + kV210GroupPixels - 1) / kV210GroupPixels) *
                     kV210GroupWords * 4
               : static_cast<size_t>(width) * 4;
}

int packed_group_pixels(Packing packing) {
    return packing == Packing::V210 ? kV210GroupPixels : 1;
}

void unpack_area(Packing packing, const uint8_t* plane, size_t linesize, const cv::Rect& groups,
                 cv::Mat& samples) {
    for (int y = 0; y < groups.height; ++y) {
        const uint8_t* in = group_start(packing, plane + (groups.y + y) * linesize, groups.x);
        uint16_t* out = samples.ptr<uint16_t>(y);
        const int words = static_cast<int>(packed_row_bytes(packing, groups.width) / 4);
        const int lowest = lowest_bit(packing);
        for (int w = 0; w < words; ++w, in += 4) {
            const uint32_t word = read_word(in) >> lowest;
            for (int s = 0; s < 3; ++s) {
                *out++ = static_cast<uint16_t>(word >> (10 * s) & kTenBits);
            }
        }
    }
}

void pack_area(Packing packing, const cv::Mat& samples, uint8_t* plane, size_t linesize,
               const cv::Rect& groups) {
    for (int y = 0; y < groups.height; ++y) {
        uint8_t* out =
            const_cast<uint8_t*>(group_start(packing, plane + (groups.y + y) * linesize, groups.x));
        const uint16_t* in = samples.ptr<uint16_t>(y);
        const int words = static_cast<int>(packed_row_bytes(packing, groups.width) / 4);
        const uint32_t spare = ~field_bits(packing);
        for (int w = 0; w < words; ++w, out += 4, in += 3) {
            write_word(out, (read_word(out) & spare) | pack_word(packing, in));
        }
    }
}

void sum_packed_rows(Packing packing, const uint8_t* plane, size_t linesize, int y0, int y1,
                     size_t skipped, int words, std::vector<uint32_t>& sums) {
    sums.resize(static_cast<size_t>(words) * 3);
    const int lowest = lowest_bit(packing);
    const uint8_t* const first_row = plane + static_cast<size_t>(y0) * linesize + skipped;
    // A block of words at a time down several rows, each field's sums apart
    // where the compiler vectorises them: each word is read once and each
    // sum written once a few rows. Summed a row at a time, the sums were read
    // and written again for every row.
    constexpr int kWords = 16;
    for (int top = y0; top < y1; top += kBandRowsAtOnce) {
        const int bottom = std::min(top + kBandRowsAtOnce, y1);
        for (int block = 0; block < words; block += kWords) {
            const int count = std::min(kWords, words - block);
            fetch_rows_below(first_row + static_cast<size_t>(top - y0) * linesize, linesize,
                             bottom - top, static_cast<size_t>(block) * 4, kWords * 4);
            uint32_t fields[3][kWords] = {};
            for (int y = top; y < bottom; ++y) {
                const uint8_t* row = first_row + static_cast<size_t>(y - y0) * linesize +
                                     static_cast<size_t>(block) * 4;
                for (int w = 0; w < count; ++w) {
                    const uint32_t word = read_word(row + static_cast<ptrdiff_t>(w) * 4) >> lowest;
                    fields[0][w] += word & kTenBits;
                    fields[1][w] += word >> 10 & kTenBits;
                    fields[2][w] += word >> 20 & kTenBits;
                }
            }
            uint32_t* out = sums.data() + static_cast<size_t>(block) * 3;
            const bool onto = top > y0;
            for (int w = 0; w < count; ++w) {
                for (int f = 0; f < 3; ++f) {
                    out[3 * w + f] = onto ? out[3 * w + f] + fields[f][w] : fields[f][w];
                }
            }
        }
    }
}

int packed_pixel_sums(Packing packing) {
    return packing == Packing::V210 ? 1 : kR10LSums;
}

void sum_packed_pixels(Packing packing, const uint8_t* plane, size_t linesize, int y0, int y1,
                       size_t skipped, int pixels, std::vector<uint16_t>& sums) {
    const int per_pixel = packed_pixel_sums(packing);
    const int group = packed_group_pixels(packing);
    const int whole = (pixels + group - 1) / group * group;
    // A V210 group's luma is written eight sums at a time, one past its own.
    sums.resize(static_cast<size_t>(whole + 1) * per_pixel);
    const uint8_t* const first = plane + static_cast<size_t>(y0) * linesize + skipped;
    const int rows = y1 - y0;
    int done = 0;
#ifdef VEILCAM_SSE2
    // Four vectors a row are a cache line.
    constexpr int kVectors = 4;
    const int step = vector_pixels(packing);
    for (; done + kVectors * step <= whole; done += kVectors * step) {
        fetch_rows_below(first, linesize, rows, packed_row_bytes(packing, done),
                         kVectors * sizeof(__m128i));
        sum_vectors<kVectors>(packing, first + packed_row_bytes(packing, done), linesize, rows,
                              sums.data() + static_cast<ptrdiff_t>(done) * per_pixel);
    }
    for (; done + step <= whole; done += step) {
        sum_vectors<1>(packing, first + packed_row_bytes(packing, done), linesize, rows,
                       sums.data() + static_cast<ptrdiff_t>(done) * per_pixel);
    }
#endif
    sum_pixels_one_by_one(packing, first, linesize, rows, done, whole, sums.data());
}

int v210_block_totals(const uint8_t* plane, size_t linesize, int y0, size_t skipped, int factor,
                      int most, uint16_t* totals) {
    int done = 0;
#ifdef VEILCAM_SSE2
    if (factor != 2 && factor != 3 && factor != 6) {
        return 0;
    }
    const uint8_t* const first = plane + static_cast<size_t>(y0) * linesize + skipped;
    const int per_vectors = 4 * kV210GroupPixels / factor;
    for (; done + per_vectors <= most; done += per_vectors) {
        const size_t at = packed_row_bytes(Packing::V210, done * factor);
        fetch_rows_below(first, linesize, factor, at, 4 * sizeof(__m128i));
        uint16_t* const out = totals + done;
        if (factor == 2) {
            v210_four_groups_blocks<2>(first + at, linesize, out);
        } else if (factor == 3) {
            v210_four_groups_blocks<3>(first + at, linesize, out);
        } else {
            v210_four_groups_blocks<6>(first + at, linesize, out);
        }
    }
#else
    (void)plane, (void)linesize, (void)y0, (void)skipped, (void)factor, (void)most, (void)totals;
#endif
    return done;
}

// Summed pixel by pixel down the band and then in blocks, R10L's image at
// 1280x720 took about three times as long as reading its words.
int halve_r10l(const uint8_t* top, size_t linesize, int most, uint8_t* out) {
    int done = 0;
#ifdef VEILCAM_SSE2
    const __m128i outer_fields = _mm_set1_epi32(kOuterFields);
    const __m128i rounding = _mm_set1_epi16(8);
    const uint8_t* const bottom = top + linesize;
    // Four blocks, eight pixels, a step.
    constexpr int kBlocks = 4;
    for (; done + kBlocks <= most; done += kBlocks) {
        // Each word's two rows summed in place, as they are and their blue
        // and red fields alone.
        __m128i whole[2], blue_red[2];
        for (int v = 0; v < 2; ++v) {
            const size_t at = static_cast<size_t>(done) * 8 + v * sizeof(__m128i);
            auto fields = [&](const uint8_t* row) {
                return _mm_srli_epi32(_mm_loadu_si128(reinterpret_cast<const __m128i*>(row + at)),
                                      kR10LBlue);
            };
            const __m128i upper = fields(top), lower = fields(bottom);
            whole[v] = _mm_add_epi32(upper, lower);
            blue_red[v] = _mm_add_epi32(_mm_and_si128(upper, outer_fields),
                                        _mm_and_si128(lower, outer_fields));
        }
        // Pixels 0 2 4 6 added to 1 3 5 7: the four blocks in order.
        auto blocks = [](const __m128i(&pixels)[2]) {
            return _mm_add_epi32(every_other_pixel<false>(pixels[0], pixels[1]),
                                 every_other_pixel<true>(pixels[0], pixels[1]));
        };
        __m128i totals[2];
        r10l_sums_apart(blocks(whole), blocks(blue_red), totals);
        // A block is 16 quarter levels: its means at 8 bits, rounded half
        // up, blue, green, red and a 0 a block.
        auto means = [&](__m128i four) { return _mm_srli_epi16(_mm_add_epi16(four, rounding), 4); };
        store_three_byte_pixels<kBlocks>(_mm_packus_epi16(means(totals[0]), means(totals[1])),
                                         out + 3 * done);
    }
#else
    (void)top, (void)linesize, (void)most, (void)out;
#endif
    return done;
}

void unpack_for_detection(Packing packing, const uint8_t* plane, size_t linesize,
                          const cv::Rect& area, cv::Mat& image) {
    const bool v210 = packing == Packing::V210;
    const int channels = detected_channels(packing);
    image.create(area.size(), CV_8UC(channels));
    const int end = area.x + area.width;
    for (int y = 0; y < area.height; ++y) {
        const uint8_t* row = plane + static_cast<size_t>(area.y + y) * linesize;
        uint8_t* const out = image.ptr(y);
        int x = area.x;
        auto one_pixel = [&] {
            for (int c = 0; c < channels; ++c) {
                out[channels * (x - area.x) + c] = eight_bits(detected_sample(packing, row, x, c));
            }
            ++x;
        };
#ifdef VEILCAM_SSE2
        // Up to a whole group one at a time; then vectors, as long as a
        // pixel follows to be written over the byte each writes past its own.
        while (x < end && x % packed_group_pixels(packing) != 0) {
            one_pixel();
        }
        const int step = vector_pixels(packing);
        for (; x + step < end; x += step) {
            if (v210) {
                v210_group_luma(group_start(packing, row, x), out + (x - area.x));
            } else {
                r10l_pixels(group_start(packing, row, x), out + 3 * (x - area.x));
            }
        }
#endif
        while (x < end) {
            one_pixel();
        }
    }
}

void pack_words(Packing packing, const uint16_t* samples, int count, uint32_t* words) {
    for (int w = 0; w < count; ++w) {
        words[w] = pack_word(packing, samples + 3 * static_cast<ptrdiff_t>(w));
    }
}

// `count` words written over `row`'s, keeping its `spare` bits: one pass
// the compiler vectorises, where the words are most of a span.
void write_whole_words(const uint32_t* __restrict words, int count, uint32_t spare,
                       uint8_t* __restrict row) {
    for (int w = 0; w < count; ++w) {
        uint8_t* at = row + static_cast<ptrdiff_t>(w) * 4;
        write_word(at, (read_word(at) & spare) | words[w]);
    }
}

void write_packed_samples(Packing packing, const uint32_t* words, int first, int end,
                          uint8_t* row) {
    if (end <= first) {
        return;
    }
    const uint32_t fields = field_bits(packing);
    const int lowest = lowest_bit(packing);
    // The bits of samples [from, to) of one word, 0 <= from < to <= 3.
    auto bits = [&](int from, int to) {
        return (((1u << (10 * (to - from))) - 1) << (10 * from + lowest)) & fields;
    };
    const int w0 = first / 3, w1 = (end - 1) / 3; // the first and last word written
    auto merge = [&](int w, uint32_t mask) {
        uint8_t* at = row + static_cast<ptrdiff_t>(w) * 4;
        write_word(at, (read_word(at) & ~mask) | (words[w] & mask));
    };
    if (w0 == w1) {
        merge(w0, bits(first % 3, end - 3 * w0));
        return;
    }
    merge(w0, bits(first % 3, 3));
    merge(w1, bits(0, end - 3 * w1));
    write_whole_words(words + w0 + 1, w1 - w0 - 1, ~fields,
                      row + static_cast<ptrdiff_t>(w0 + 1) * 4);
}

void packed_row_levels(Packing packing, const uint8_t* row, const int* columns, int count,
                       uint8_t* levels) {
    // A loop for each packing, dividing by constants: a frame's grid is
    // thousands of points, and a call for each, dividing by the packing's
    // channel count, took a seventh of a 1280x720 V210 frame's hiding.
    // 10-bit levels at a quarter, R10L's the mean of its three.
    if (packing == Packing::V210) {
        for (int i = 0; i < count; ++i) {
            const int x = columns[i];
            levels[i] = static_cast<uint8_t>(
                v210_luma(group_start(packing, row, x), x % kV210GroupPixels) / 4);
        }
        return;
    }
    for (int i = 0; i < count; ++i) {
        const uint32_t word = read_word(group_start(packing, row, columns[i]));
        levels[i] = static_cast<uint8_t>(
            (r10l_channel(word, 0) + r10l_channel(word, 1) + r10l_channel(word, 2)) / 12);
    }
}

} // namespace veilcam
