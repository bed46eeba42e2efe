#pragma once

#include "filter/frame_formats.hpp"

#include <opencv2/core/mat.hpp>

#include <array>
#include <cstddef>
#include <cstdint>

// libobs' two packed 10-bit layouts, unpacked into 16-bit samples holding the
// 10-bit values and packed back. Words are little-endian; the two bits each
// word leaves spare are kept as they were.
namespace veilcam {

// Pixels that share words: areas are unpacked and packed back whole groups
// at a time.
int packed_group_pixels(Packing packing);

// The bytes a row of `width` pixels takes.
size_t packed_row_bytes(Packing packing, int width);

// Unpacks the pixels `groups` of a plane (x and width whole groups) into
// `samples`, an image of groups.size() with the unpacked channels.
void unpack_area(Packing packing, const uint8_t* plane, size_t linesize, const cv::Rect& groups,
                 cv::Mat& samples);

// The inverse of unpack_area.
void pack_area(Packing packing, const cv::Mat& samples, uint8_t* plane, size_t linesize,
               const cv::Rect& groups);

// Adds the three fields of `count` words from `words` on, lowest first, to
// `sums`: field s of word w is sample 3w + s as unpacked.
void add_packed_fields(Packing packing, const uint8_t* words, int count,
                       const std::array<uint16_t*, 3>& sums);

// Pixel x of a packed row on the 8-bit scale: its luma (V210), or the mean of
// its red, green and blue (R10L).
int packed_pixel_level(Packing packing, const uint8_t* row, int x);

} // namespace veilcam
