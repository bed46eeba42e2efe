#include "filter/region_resample.hpp"

#include "filter/reused_image.hpp"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>

namespace veilcam {
namespace {

constexpr int kMaxChannels = 4;

// Grows by half again, as reused_image does.
template <typename T> void ensure_size(std::vector<T>& buffer, size_t size) {
    if (buffer.size() < size) {
        buffer.resize(size + size / 2);
    }
}

template <typename T> T to_sample(float value) {
    return static_cast<T>(
        std::clamp(std::lround(value), 0L, static_cast<long>(std::numeric_limits<T>::max())));
}

// Area averaging to a smaller size: every output pixel is the mean of the
// source area it covers, partly covered pixels weighted by their share.
template <typename T>
void shrink_by_area(const cv::Mat& src, cv::Mat& dst, ResampleScratch& scratch) {
    const int cn = src.channels();
    const double x_ratio = static_cast<double>(src.cols) / dst.cols;
    const double y_ratio = static_cast<double>(src.rows) / dst.rows;

    // Horizontal pass: one row of `dst.cols` sums per source row.
    ensure_size(scratch.row_sums, static_cast<size_t>(src.rows) * dst.cols * cn);
    float* sums = scratch.row_sums.data();
    for (int y = 0; y < src.rows; ++y) {
        const T* in = src.ptr<T>(y);
        float* out = sums + static_cast<size_t>(y) * dst.cols * cn;
        for (int dx = 0; dx < dst.cols; ++dx) {
            const double start = dx * x_ratio;
            const double end = std::min((dx + 1) * x_ratio, static_cast<double>(src.cols));
            float acc[kMaxChannels] = {};
            for (int sx = static_cast<int>(start); sx < end; ++sx) {
                const float w =
                    static_cast<float>(std::min<double>(sx + 1, end) - std::max<double>(sx, start));
                for (int c = 0; c < cn; ++c) {
                    acc[c] += w * in[sx * cn + c];
                }
            }
            for (int c = 0; c < cn; ++c) {
                out[dx * cn + c] = acc[c];
            }
        }
    }

    // Vertical pass over the row sums.
    const float area = static_cast<float>(x_ratio * y_ratio);
    for (int dy = 0; dy < dst.rows; ++dy) {
        const double start = dy * y_ratio;
        const double end = std::min((dy + 1) * y_ratio, static_cast<double>(src.rows));
        T* out = dst.ptr<T>(dy);
        for (int i = 0; i < dst.cols * cn; ++i) {
            float acc = 0.0f;
            for (int sy = static_cast<int>(start); sy < end; ++sy) {
                const float w =
                    static_cast<float>(std::min<double>(sy + 1, end) - std::max<double>(sy, start));
                acc += w * sums[static_cast<size_t>(sy) * dst.cols * cn + i];
            }
            out[i] = to_sample<T>(acc / area);
        }
    }
}

// 3 x 3 mean with the border pixels repeated outwards.
template <typename T> void box_blur_3x3(const cv::Mat& src, cv::Mat& dst) {
    const int cn = src.channels();
    for (int y = 0; y < src.rows; ++y) {
        const T* rows[3] = {src.ptr<T>(std::max(y - 1, 0)), src.ptr<T>(y),
                            src.ptr<T>(std::min(y + 1, src.rows - 1))};
        T* out = dst.ptr<T>(y);
        for (int x = 0; x < src.cols; ++x) {
            const int xs[3] = {std::max(x - 1, 0), x, std::min(x + 1, src.cols - 1)};
            for (int c = 0; c < cn; ++c) {
                int sum = 0;
                for (const T* row : rows) {
                    for (const int sx : xs) {
                        sum += row[sx * cn + c];
                    }
                }
                out[x * cn + c] = static_cast<T>((sum + 4) / 9);
            }
        }
    }
}

// Bilinear enlargement with pixel centres aligned, as cv::INTER_LINEAR.
void source_position(int d, double ratio, int src_size, int& index, float& weight) {
    const double f = (d + 0.5) * ratio - 0.5;
    index = static_cast<int>(std::floor(f));
    weight = static_cast<float>(f - index);
    if (index < 0) {
        index = 0;
        weight = 0.0f;
    }
    if (index >= src_size - 1) {
        index = src_size - 1;
        weight = 0.0f;
    }
}

template <typename T>
void enlarge_bilinear(const cv::Mat& src, cv::Mat& dst, ResampleScratch& scratch,
                      WrittenSamples written) {
    const int cn = src.channels();
    const auto bits = static_cast<T>(written.level_bits);
    const double x_ratio = static_cast<double>(src.cols) / dst.cols;
    const double y_ratio = static_cast<double>(src.rows) / dst.rows;
    ensure_size(scratch.x_index, static_cast<size_t>(dst.cols));
    ensure_size(scratch.x_weight, static_cast<size_t>(dst.cols));
    for (int dx = 0; dx < dst.cols; ++dx) {
        source_position(dx, x_ratio, src.cols, scratch.x_index[dx], scratch.x_weight[dx]);
    }
    for (int dy = 0; dy < dst.rows; ++dy) {
        int sy = 0;
        float wy = 0.0f;
        source_position(dy, y_ratio, src.rows, sy, wy);
        const T* top = src.ptr<T>(sy);
        const T* bottom = src.ptr<T>(std::min(sy + 1, src.rows - 1));
        T* out = dst.ptr<T>(dy);
        const cv::Range columns = written.columns(dy, dst.cols);
        for (int dx = columns.start; dx < columns.end; ++dx) {
            const int sx = scratch.x_index[dx];
            const int sx1 = std::min(sx + 1, src.cols - 1);
            const float wx = scratch.x_weight[dx];
            for (int c = 0; c < cn; ++c) {
                if (c == written.kept) {
                    continue;
                }
                const float upper = top[sx * cn + c] * (1.0f - wx) + top[sx1 * cn + c] * wx;
                const float lower = bottom[sx * cn + c] * (1.0f - wx) + bottom[sx1 * cn + c] * wx;
                out[dx * cn + c] =
                    static_cast<T>(to_sample<T>(upper * (1.0f - wy) + lower * wy) & bits);
            }
        }
    }
}

// Samples [begin, end) of `from` written over `row` but where `kept_mask`
// keeps them: one vectorised pass, where copying the kept channel out and
// back took two more.
template <typename T>
void keep_masked(const T* __restrict from, const T* __restrict kept_mask, int begin, int end,
                 T* __restrict row) {
    for (int i = begin; i < end; ++i) {
        row[i] = static_cast<T>((row[i] & kept_mask[i]) | (from[i] & ~kept_mask[i]));
    }
}

// A row of all ones in the kept channel's samples and zeros elsewhere, or
// null where no channel is kept.
template <typename T>
const T* kept_mask_row(int kept, int cn, size_t row_samples, ResampleScratch& scratch) {
    if (kept < 0) {
        return nullptr;
    }
    ensure_size(scratch.kept_mask, row_samples * sizeof(T));
    T* mask = reinterpret_cast<T*>(scratch.kept_mask.data());
    for (size_t i = 0; i < row_samples; ++i) {
        mask[i] = static_cast<int>(i % cn) == kept ? std::numeric_limits<T>::max() : T{0};
    }
    return mask;
}

// `values`, one row of the view, written over its rows [y0, y1): within each
// row's span, and past the kept channel where `kept_mask` is given. The
// values' bits beside `written.level_bits` are cleared first, once for the
// rows.
template <typename T>
void write_rows(cv::Mat& view, int y0, int y1, T* values, const T* kept_mask,
                const WrittenSamples& written) {
    const int cn = view.channels();
    const auto bits = static_cast<T>(written.level_bits);
    if (bits != std::numeric_limits<T>::max()) {
        for (size_t i = 0; i < static_cast<size_t>(view.cols) * cn; ++i) {
            values[i] &= bits;
        }
    }
    for (int y = y0; y < y1; ++y) {
        const cv::Range columns = written.columns(y, view.cols);
        T* const row = view.ptr<T>(y);
        if (kept_mask) {
            keep_masked(values, kept_mask, columns.start * cn, columns.end * cn, row);
        } else {
            std::memcpy(row + columns.start * cn, values + columns.start * cn,
                        static_cast<size_t>(columns.size()) * cn * sizeof(T));
        }
    }
}

// Block j covers the pixels p with floor(p * blocks / size) == j.
int block_start(int j, int blocks, int size) {
    return (j * size + blocks - 1) / blocks;
}

// The block means of one band's column sums `sums`, `Channels` channels
// side by side whose sums lie `apart` apart (`Apart` where known when
// compiling, else 0), `count` of them, `blocks` blocks across, each written
// over its block's samples of `block_row`. A block of a plane's pixels, the
// commonest, is one run of samples, summed and written as runs the compiler
// vectorises: taken a channel at a time, a sample in two or four, the means
// of interleaved channels made them a ninth of a 1280x720 NV12 frame between
// detections.
template <int Channels, int Apart, typename T, typename Sum>
void block_means(const Sum* sums, int apart, int count, int blocks, uint64_t rows, T* block_row) {
    const ptrdiff_t step = Apart > 0 ? Apart : apart;
    for (int b = 0; b < blocks; ++b) {
        const int k0 = block_start(b, blocks, count);
        const int k1 = block_start(b + 1, blocks, count);
        const uint64_t samples = rows * static_cast<uint64_t>(k1 - k0);
        uint64_t sum[Channels] = {};
        for (int k = k0; k < k1; ++k) {
            for (int c = 0; c < Channels; ++c) {
                sum[c] += sums[k * step + c];
            }
        }
        T mean[Channels];
        for (int c = 0; c < Channels; ++c) {
            mean[c] = static_cast<T>((sum[c] + samples / 2) / samples);
        }
        for (int k = k0; k < k1; ++k) {
            for (int c = 0; c < Channels; ++c) {
                block_row[k * step + c] = mean[c];
            }
        }
    }
}

// One band's block means over every channel from its column sums. The
// `paired` channel's samples of even and of odd pixels make blocks apart,
// each channel of such a view on its own.
template <typename T, typename Sum>
void band_means(const Sum* sums, int cols, int cn, int pixel_size, int paired, int band_rows,
                T* block_row) {
    const auto rows = static_cast<uint64_t>(band_rows);
    const int blocks = std::max(cols / pixel_size, 1);
    if (paired < 0) {
        const auto means = cn == 1   ? block_means<1, 1, T, Sum>
                           : cn == 2 ? block_means<2, 2, T, Sum>
                           : cn == 3 ? block_means<3, 3, T, Sum>
                                     : block_means<4, 4, T, Sum>;
        means(sums, cn, cols, blocks, rows, block_row);
        return;
    }
    for (int c = 0; c < cn; ++c) {
        if (c != paired) {
            block_means<1, 0>(sums + c, cn, cols, blocks, rows, block_row + c);
            continue;
        }
        for (int first = 0; first < 2 && first < cols; ++first) {
            const int count = (cols + 1 - first) / 2;
            const ptrdiff_t start = static_cast<ptrdiff_t>(first) * cn + c;
            block_means<1, 0>(sums + start, 2 * cn, count, std::max(count / pixel_size, 1), rows,
                              block_row + start);
        }
    }
}

// One band of blocks, rows [y0, y1): the band's column sums, then the
// block means make one row that is copied over the band. The `paired`
// channel's samples of even and of odd pixels make blocks apart, of their
// own samples.
template <typename T, typename Sum>
void pixelate_band(cv::Mat& view, int y0, int y1, int pixel_size, int paired,
                   const WrittenSamples& written, Sum* sums, const T* kept_mask, T* block_row) {
    const int cn = view.channels();
    sum_band<T>(view.ptr(y0), view.step, y1 - y0, static_cast<size_t>(view.cols) * cn, sums);
    band_means(sums, view.cols, cn, pixel_size, paired, y1 - y0, block_row);
    write_rows(view, y0, y1, block_row, kept_mask, written);
}

template <typename T>
void pixelate(cv::Mat& view, int pixel_size, int paired, ResampleScratch& scratch,
              WrittenSamples written) {
    const auto row_samples = static_cast<size_t>(view.cols) * view.channels();
    const int blocks_y = pixel_bands(view.rows, pixel_size);
    ensure_size(scratch.column_sums, row_samples);
    ensure_size(scratch.narrow_column_sums, row_samples);
    ensure_size(scratch.block_row, row_samples * sizeof(T));
    T* block_row = reinterpret_cast<T*>(scratch.block_row.data());
    const T* kept_mask = kept_mask_row<T>(written.kept, view.channels(), row_samples, scratch);
    for (int by = 0; by < blocks_y; ++by) {
        const cv::Range band = pixel_band(by, blocks_y, view.rows);
        const int y0 = band.start, y1 = band.end;
        // Sums of 16 bits take twice as many samples to an instruction as
        // sums of 32: up to 257 rows of 8-bit samples fit in them.
        if (static_cast<uint64_t>(y1 - y0) * std::numeric_limits<T>::max() <=
            std::numeric_limits<uint16_t>::max()) {
            pixelate_band(view, y0, y1, pixel_size, paired, written,
                          scratch.narrow_column_sums.data(), kept_mask, block_row);
        } else {
            pixelate_band(view, y0, y1, pixel_size, paired, written, scratch.column_sums.data(),
                          kept_mask, block_row);
        }
    }
}

template <typename T>
void fill_samples(cv::Mat& view, const cv::Scalar& levels, ResampleScratch& scratch,
                  WrittenSamples written) {
    const int cn = view.channels();
    const auto row_samples = static_cast<size_t>(view.cols) * cn;
    ensure_size(scratch.block_row, row_samples * sizeof(T));
    T* values = reinterpret_cast<T*>(scratch.block_row.data());
    for (size_t i = 0; i < row_samples; ++i) {
        values[i] = cv::saturate_cast<T>(levels[static_cast<int>(i % cn)]);
    }
    write_rows(view, 0, view.rows, values, kept_mask_row<T>(written.kept, cn, row_samples, scratch),
               written);
}

template <typename T>
void reduce_smooth_enlarge_samples(cv::Mat& view, cv::Size small_size, ResampleScratch& scratch,
                                   WrittenSamples written) {
    cv::Mat reduced = reused_image(scratch.reduced, small_size, view.type());
    cv::Mat smoothed = reused_image(scratch.smoothed, small_size, view.type());
    shrink_by_area<T>(view, reduced, scratch);
    box_blur_3x3<T>(reduced, smoothed);
    enlarge_bilinear<T>(smoothed, view, scratch, written);
}

constexpr size_t kBandColumns = 64;

// Columns [x, x + count) of rows [0, rows) of a band, count at most
// kBandColumns, summed in a block the compiler keeps in registers where
// `count` is known, onto `sums` or in place of them (`onto` false).
template <typename Sample, typename Sum>
inline void sum_columns(const uint8_t* first, size_t stride, int rows, size_t x, size_t count,
                        bool onto, Sum* __restrict sums) {
    Sum block[kBandColumns] = {};
    if (onto) {
        std::copy_n(sums + x, count, block);
    }
    for (int r = 0; r < rows; ++r) {
        const Sample* row =
            reinterpret_cast<const Sample*>(first + static_cast<size_t>(r) * stride) + x;
        for (size_t i = 0; i < count; ++i) {
            block[i] = static_cast<Sum>(block[i] + row[i]);
        }
    }
    std::copy_n(block, count, sums + x);
}

} // namespace

template <typename Sample, typename Sum>
void sum_band(const uint8_t* first, size_t stride, int rows, size_t count, Sum* __restrict sums) {
    // A block of columns at a time down several rows: each sample is read
    // once and each sum written once a few rows. Summed a row at a time, the
    // sums were read and written again for every row, which took most of a
    // 3840x2160 shrink's time.
    for (int r0 = 0; r0 < rows; r0 += kBandRowsAtOnce) {
        const uint8_t* top = first + static_cast<size_t>(r0) * stride;
        const int deep = std::min(kBandRowsAtOnce, rows - r0);
        size_t x = 0;
        for (; x + kBandColumns <= count; x += kBandColumns) {
            fetch_rows_below(top, stride, deep, x * sizeof(Sample), kBandColumns * sizeof(Sample));
            sum_columns<Sample>(top, stride, deep, x, kBandColumns, r0 > 0, sums);
        }
        if (x < count) {
            sum_columns<Sample>(top, stride, deep, x, count - x, r0 > 0, sums);
        }
    }
}

template void sum_band<uint8_t>(const uint8_t*, size_t, int, size_t, uint16_t*);
template void sum_band<uint8_t>(const uint8_t*, size_t, int, size_t, uint32_t*);
template void sum_band<uint16_t>(const uint8_t*, size_t, int, size_t, uint32_t*);

int pixel_bands(int rows, int pixel_size) {
    return std::max(rows / pixel_size, 1);
}

cv::Range pixel_band(int j, int bands, int rows) {
    return {block_start(j, bands, rows), block_start(j + 1, bands, rows)};
}

void band_block_means(const uint32_t* sums, int cols, int cn, int pixel_size, int paired, int rows,
                      uint16_t* block_row) {
    band_means(sums, cols, cn, pixel_size, paired, rows, block_row);
}

// Column sums are 32 bits: 65536 rows of 16-bit samples fit.
void pixelate_view(cv::Mat& view, int pixel_size, ResampleScratch& scratch, WrittenSamples written,
                   int paired) {
    if (view.depth() == CV_16U) {
        pixelate<uint16_t>(view, pixel_size, paired, scratch, written);
    } else {
        pixelate<uint8_t>(view, pixel_size, paired, scratch, written);
    }
}

void fill_view(cv::Mat& view, const cv::Scalar& levels, ResampleScratch& scratch,
               WrittenSamples written) {
    if (view.depth() == CV_16U) {
        fill_samples<uint16_t>(view, levels, scratch, written);
    } else {
        fill_samples<uint8_t>(view, levels, scratch, written);
    }
}

void reduce_smooth_enlarge(cv::Mat& view, cv::Size small_size, ResampleScratch& scratch,
                           WrittenSamples written) {
    if (view.depth() == CV_16U) {
        reduce_smooth_enlarge_samples<uint16_t>(view, small_size, scratch, written);
    } else {
        reduce_smooth_enlarge_samples<uint8_t>(view, small_size, scratch, written);
    }
}

} // namespace veilcam
