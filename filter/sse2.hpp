#pragma once

// SSE2 is there on every x86-64 processor: where it is, the few loops that
// take most of a frame work a vector at a time; elsewhere they take their
// one-at-a-time paths.
#if defined(__SSE2__) || defined(_M_X64)
#include <emmintrin.h>
#define VEILCAM_SSE2 1

#include <cstdint>
#include <cstring>

namespace veilcam {

// The first `Pixels` pixels of `bytes`, `Apart` bytes apart, written three
// bytes apart from `out` on: four bytes at a time, each pixel's fourth
// written over by the next, and one byte past the last pixel written.
template <int Pixels, int Apart = 4>
inline void store_three_byte_pixels(__m128i bytes, uint8_t* out) {
    for (int p = 0; p < Pixels; ++p, bytes = _mm_srli_si128(bytes, Apart)) {
        const auto pixel = static_cast<uint32_t>(_mm_cvtsi128_si32(bytes));
        std::memcpy(out + 3 * p, &pixel, 4);
    }
}

// The first (`Odd` false) or second four-byte lanes of each pair in `a`,
// then in `b`: of eight pixels, those that begin or end blocks of two.
template <bool Odd> inline __m128i every_other_pixel(__m128i a, __m128i b) {
    constexpr int kOrder = Odd ? _MM_SHUFFLE(3, 1, 3, 1) : _MM_SHUFFLE(2, 0, 2, 0);
    return _mm_castps_si128(_mm_shuffle_ps(_mm_castsi128_ps(a), _mm_castsi128_ps(b), kOrder));
}

} // namespace veilcam
#endif
