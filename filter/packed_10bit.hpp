#pragma once

#include "filter/frame_formats.hpp"

#include <opencv2/core/mat.hpp>

#include <cstddef>
#include <cstdint>
#include <vector>

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

// Sums rows [y0, y1) of a packed plane, `words` words of each from byte
// `skipped` on, sample by sample into `sums`, in the order unpacking gives
// them: field s of word w is sample 3w + s.
void sum_packed_rows(Packing packing, const uint8_t* plane, size_t linesize, int y0, int y1,
                     size_t skipped, int words, std::vector<uint32_t>& sums);

// The sums sum_packed_pixels makes a pixel: V210's luma alone, or R10L's
// blue, green and red and a fourth left 0.
int packed_pixel_sums(Packing packing);

// Sums rows [y0, y1) of a packed plane pixel by pixel into `sums`, `pixels`
// pixels from byte `skipped` on (V210: as many whole groups), what the
// detection image needs of each: packed_pixel_sums(packing) a pixel. Up to
// 64 rows.
void sum_packed_pixels(Packing packing, const uint8_t* plane, size_t linesize, int y0, int y1,
                       size_t skipped, int pixels, std::vector<uint16_t>& sums);

// V210's luma in blocks of `factor` pixels each way (2, 3 or 6) from row
// y0 and byte `skipped` (a whole group) on, summed into `totals`, a block
// each, four groups at a time, up to `most` blocks; returns how many were
// made (none at other factors).
int v210_block_totals(const uint8_t* plane, size_t linesize, int y0, size_t skipped, int factor,
                      int most, uint16_t* totals);

// Two R10L rows from `top` on halved each way into `out`, blue, green and
// red at 8 bits, rounded half up, a few blocks at a time up to `most`;
// returns how many were made. Writes one byte past the last.
int halve_r10l(const uint8_t* top, size_t linesize, int most, uint8_t* out);

// `area` of a packed plane at 8 bits a sample, as the detector reads it:
// V210's luma alone, or R10L's blue, green and red. Rounded as OpenCV
// converts, half levels to the even one.
void unpack_for_detection(Packing packing, const uint8_t* plane, size_t linesize,
                          const cv::Rect& area, cv::Mat& image);

// `count` words packed from `samples` (three a word, as unpacked), their
// spare bits clear.
void pack_words(Packing packing, const uint16_t* samples, int count, uint32_t* words);

// Samples [first, end) of a packed row (numbered as unpacked, three a word
// from the row's first byte) written from `words`; every other bit of the
// row, the spare ones included, stays as it was.
void write_packed_samples(Packing packing, const uint32_t* words, int first, int end, uint8_t* row);

// Pixels columns[0..count) of a packed row on the 8-bit scale into
// `levels`: their luma (V210), or the mean of their red, green and blue
// (R10L).
void packed_row_levels(Packing packing, const uint8_t* row, const int* columns, int count,
                       uint8_t* levels);

} // namespace veilcam
