#include "filter/packed_10bit.hpp"

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
        if (packing == Packing::V210) {
            const int words = groups.width / kV210GroupPixels * kV210GroupWords;
            for (int w = 0; w < words; ++w, in += 4) {
                const uint32_t word = read_word(in);
                for (int s = 0; s < 3; ++s) {
                    *out++ = static_cast<uint16_t>(word >> (10 * s) & kTenBits);
                }
            }
        } else {
            for (int x = 0; x < groups.width; ++x, in += 4) {
                const uint32_t word = read_word(in);
                *out++ = static_cast<uint16_t>(word >> kR10LBlue & kTenBits);
                *out++ = static_cast<uint16_t>(word >> kR10LGreen & kTenBits);
                *out++ = static_cast<uint16_t>(word >> kR10LRed & kTenBits);
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
        if (packing == Packing::V210) {
            const int words = groups.width / kV210GroupPixels * kV210GroupWords;
            for (int w = 0; w < words; ++w, out += 4, in += 3) {
                write_word(out, (read_word(out) & kV210Spare) | (in[0] & kTenBits) |
                                    (in[1] & kTenBits) << 10 | (in[2] & kTenBits) << 20);
            }
        } else {
            for (int x = 0; x < groups.width; ++x, out += 4, in += 3) {
                write_word(out, (read_word(out) & kR10LSpare) | (in[0] & kTenBits) << kR10LBlue |
                                    (in[1] & kTenBits) << kR10LGreen |
                                    (in[2] & kTenBits) << kR10LRed);
            }
        }
    }
}

void add_packed_fields(Packing packing, const uint8_t* words, int count,
                       const std::array<uint16_t*, 3>& sums) {
    const int lowest = packing == Packing::V210 ? 0 : kR10LBlue;
    uint16_t* __restrict first = sums[0];
    uint16_t* __restrict second = sums[1];
    uint16_t* __restrict third = sums[2];
    for (int w = 0; w < count; ++w) {
        const uint32_t word = read_word(words + static_cast<ptrdiff_t>(w) * 4) >> lowest;
        first[w] = static_cast<uint16_t>(first[w] + (word & kTenBits));
        second[w] = static_cast<uint16_t>(second[w] + (word >> 10 & kTenBits));
        third[w] = static_cast<uint16_t>(third[w] + (word >> 20 & kTenBits));
    }
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
