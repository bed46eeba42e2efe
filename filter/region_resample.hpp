#pragma once

#include "filter/sse2.hpp"

#include <opencv2/core/mat.hpp>

#include <cstdint>
#include <vector>

// The ways of hiding a region of 8-bit or 16-bit samples, written out by hand rather than through
// cv::resize and cv::Mat::setTo: OpenCV's resizers allocate their index tables on every call, the
// frame path must not allocate in steady state, and hiding writes only the samples it is let.
namespace veilcam {

// Grow-only buffers that the resamplers reuse from region to region.
struct ResampleScratch {
    cv::Mat reduced; // bytes for the reduced image
    cv::Mat smoothed;
    std::vector<float> row_sums;
    std::vector<int> x_index;
    std::vector<float> x_weight;
    std::vector<uint32_t> column_sums;
    std::vector<uint16_t> narrow_column_sums; // where a band's sums fit in 16 bits
    std::vector<uint8_t> block_row;           // bytes of one row of block means
    std::vector<uint8_t> kept_mask;           // bytes of one row, all ones in the kept channel
};

// The samples of each row of a view that hiding writes, one range of columns
// a row: hiding within a face's oval reads the whole view and writes inside
// the oval only, so that nothing outside is copied out and back.
using RowSpans = std::vector<cv::Range>;

// Which samples of a view hiding writes: within each row's span (every
// sample where there are none), every channel but `kept` (alpha, left as it
// is without being copied out and back; -1 for none), with the bits of
// `level_bits` alone (16-bit samples that sit in the high bits keep their
// low bits 0, whatever a mean or a blend of them comes to).
struct WrittenSamples {
    const RowSpans* spans = nullptr;
    int kept = -1;
    uint16_t level_bits = 0xFFFF;

    cv::Range columns(int row, int width) const {
        return spans ? (*spans)[static_cast<size_t>(row)] : cv::Range(0, width);
    }
};

// Flat blocks about `pixel_size` pixels square, starting at the view's
// top-left corner; each block takes the mean of the pixels it covers. A view
// smaller than `pixel_size` in a direction becomes one block across it.
// Channel `paired` (-1 for none) holds two components in turn, pixel by
// pixel (packed 4:2:2's U and V): the samples of the even and of the odd
// pixels are pixelated apart, `pixel_size` of their own samples a block, as
// the two images they would make taken apart.
void pixelate_view(cv::Mat& view, int pixel_size, ResampleScratch& scratch,
                   WrittenSamples written = {}, int paired = -1);

// Rows a band is summed down at once, a block of columns (or of packed
// words) at a time: each row is a stream of reads the processor fetches
// ahead, and it follows only so many at a time. Down every row of a deep
// band (a large face's pixels) every read missed the caches: a 3840x2160
// RGBA frame hiding five faces took 4.1 ms, 2.2 ms summed 16 rows at a time.
inline constexpr int kBandRowsAtOnce = 16;

// Asks for `bytes` from `offset` on of the `deep` rows below those from
// `top` on while these are summed: a face's rows are short runs a frame's
// width apart, too short for the processor to see each as a stream and
// fetch ahead, and summing a 3840x2160 frame's faces waited on memory most
// of the time. The rows below may lie past the frame (a band's last): a
// fetch there is dropped, and the address is only worked out, never read.
inline void fetch_rows_below(const uint8_t* top, size_t stride, int deep, size_t offset,
                             size_t bytes) {
#ifdef VEILCAM_SSE2
    constexpr size_t kCacheLine = 64;
    const uintptr_t below =
        reinterpret_cast<uintptr_t>(top) + static_cast<size_t>(deep) * stride + offset;
    for (int r = 0; r < deep; ++r) {
        for (size_t line = 0; line < bytes; line += kCacheLine) {
            _mm_prefetch(reinterpret_cast<const char*>(below + r * stride + line), _MM_HINT_T0);
        }
    }
#else
    (void)top, (void)stride, (void)deep, (void)offset, (void)bytes;
#endif
}

// Sums `rows` rows of `count` samples (bytes, or 16-bit samples) from
// `first` on, `stride` bytes apart, sample by sample into `sums`: a band's
// column sums, for pixelation and for shrinking by whole factors.
template <typename Sample, typename Sum>
void sum_band(const uint8_t* first, size_t stride, int rows, size_t count, Sum* sums);

// Pixelation band by band, for samples read and written elsewhere (packed
// 10-bit words, never unpacked whole): the bands down a view of `rows` rows,
// band j's rows, and one band's block means from its column sums `sums` (a
// view `cols` pixels of `cn` channels wide, `paired` as above), written over
// the view's samples of `block_row`.
int pixel_bands(int rows, int pixel_size);
cv::Range pixel_band(int j, int bands, int rows);
void band_block_means(const uint32_t* sums, int cols, int cn, int pixel_size, int paired, int rows,
                      uint16_t* block_row);

// Every pixel of the view set to `levels`, a level a channel.
void fill_view(cv::Mat& view, const cv::Scalar& levels, ResampleScratch& scratch,
               WrittenSamples written = {});

// Reduces the view to `small_size` by area averaging, smooths that with a
// 3 x 3 box, and enlarges it bilinearly back into the view.
void reduce_smooth_enlarge(cv::Mat& view, cv::Size small_size, ResampleScratch& scratch,
                           WrittenSamples written = {});

} // namespace veilcam
