#include "filter/packed_10bit.hpp"

#include "filter/region_resample.hpp"

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

template <typename Sum>
void sum_packed_rows(Packing packing, const uint8_t* plane, size_t linesize, int y0, int y1,
                     size_t skipped, int words, std::vector<Sum>& sums) {
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
            Sum fields[3][kWords] = {};
            for (int y = top; y < bottom; ++y) {
                const uint8_t* row = first_row + static_cast<size_t>(y - y0) * linesize +
                                     static_cast<size_t>(block) * 4;
                for (int w = 0; w < count; ++w) {
                    const uint32_t word = read_word(row + static_cast<ptrdiff_t>(w) * 4) >> lowest;
                    fields[0][w] = static_cast<Sum>(fields[0][w] + (word & kTenBits));
                    fields[1][w] = static_cast<Sum>(fields[1][w] + (word >> 10 & kTenBits));
                    fields[2][w] = static_cast<Sum>(fields[2][w] + (word >> 20 & kTenBits));
                }
            }
            Sum* out = sums.data() + static_cast<size_t>(block) * 3;
            const bool onto = top > y0;
            for (int w = 0; w < count; ++w) {
                for (int f = 0; f < 3; ++f) {
                    out[3 * w + f] =
                        onto ? static_cast<Sum>(out[3 * w + f] + fields[f][w]) : fields[f][w];
                }
            }
        }
    }
}

template void sum_packed_rows<uint16_t>(Packing, const uint8_t*, size_t, int, int, size_t, int,
                                        std::vector<uint16_t>&);
template void sum_packed_rows<uint32_t>(Packing, const uint8_t*, size_t, int, int, size_t, int,
                                        std::vector<uint32_t>&);

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

int packed_pixel_level(Packing packing, const uint8_t* row, int x) {
    const uint8_t* group = group_start(packing, row, x);
    if (packing == Packing::V210) {
        const int slot = 2 * (x % kV210GroupPixels) + 1; // luma follows its pixel's chroma
        return static_cast<int>(read_word(group + slot / 3 * 4) >> (10 * (slot % 3)) & kTenBits) >>
               2;
    }
    const uint32_t word = read_word(group);
    const uint32_t sum = (word >> kR10LRed & kTenBits) + (word >> kR10LGreen & kTenBits) +
                         (word >> kR10LBlue & kTenBits);
    return static_cast<int>(sum / 12);
}

} // namespace veilcam
