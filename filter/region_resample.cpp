#include "filter/region_resample.hpp"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>

namespace veilcam {
namespace {

constexpr int kMaxChannels = 4;

template <typename T> void ensure_size(std::vector<T>& buffer, size_t size) {
    if (buffer.size() < size) {
        buffer.resize(size);
    }
}

uint8_t to_byte(float value) {
    return static_cast<uint8_t>(std::clamp(std::lround(value), 0L, 255L));
}

// Area averaging to a smaller size: every output pixel is the mean of the
// source area it covers, partly covered pixels weighted by their share.
void shrink_by_area(const cv::Mat& src, cv::Mat& dst, ResampleScratch& scratch) {
    const int cn = src.channels();
    const double x_ratio = static_cast<double>(src.cols) / dst.cols;
    const double y_ratio = static_cast<double>(src.rows) / dst.rows;

    // Horizontal pass: one row of `dst.cols` sums per source row.
    ensure_size(scratch.row_sums, static_cast<size_t>(src.rows) * dst.cols * cn);
    float* sums = scratch.row_sums.data();
    for (int y = 0; y < src.rows; ++y) {
        const uint8_t* in = src.ptr<uint8_t>(y);
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
        uint8_t* out = dst.ptr<uint8_t>(dy);
        for (int i = 0; i < dst.cols * cn; ++i) {
            float acc = 0.0f;
            for (int sy = static_cast<int>(start); sy < end; ++sy) {
                const float w =
                    static_cast<float>(std::min<double>(sy + 1, end) - std::max<double>(sy, start));
                acc += w * sums[static_cast<size_t>(sy) * dst.cols * cn + i];
            }
            out[i] = to_byte(acc / area);
        }
    }
}

// 3 x 3 mean with the border pixels repeated outwards.
void box_blur_3x3(const cv::Mat& src, cv::Mat& dst) {
    const int cn = src.channels();
    for (int y = 0; y < src.rows; ++y) {
        const uint8_t* rows[3] = {src.ptr<uint8_t>(std::max(y - 1, 0)), src.ptr<uint8_t>(y),
                                  src.ptr<uint8_t>(std::min(y + 1, src.rows - 1))};
        uint8_t* out = dst.ptr<uint8_t>(y);
        for (int x = 0; x < src.cols; ++x) {
            const int xs[3] = {std::max(x - 1, 0), x, std::min(x + 1, src.cols - 1)};
            for (int c = 0; c < cn; ++c) {
                int sum = 0;
                for (const uint8_t* row : rows) {
                    for (const int sx : xs) {
                        sum += row[sx * cn + c];
                    }
                }
                out[x * cn + c] = static_cast<uint8_t>((sum + 4) / 9);
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

void enlarge_bilinear(const cv::Mat& src, cv::Mat& dst, ResampleScratch& scratch) {
    const int cn = src.channels();
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
        const uint8_t* top = src.ptr<uint8_t>(sy);
        const uint8_t* bottom = src.ptr<uint8_t>(std::min(sy + 1, src.rows - 1));
        uint8_t* out = dst.ptr<uint8_t>(dy);
        for (int dx = 0; dx < dst.cols; ++dx) {
            const int sx = scratch.x_index[dx];
            const int sx1 = std::min(sx + 1, src.cols - 1);
            const float wx = scratch.x_weight[dx];
            for (int c = 0; c < cn; ++c) {
                const float upper = top[sx * cn + c] * (1.0f - wx) + top[sx1 * cn + c] * wx;
                const float lower = bottom[sx * cn + c] * (1.0f - wx) + bottom[sx1 * cn + c] * wx;
                out[dx * cn + c] = to_byte(upper * (1.0f - wy) + lower * wy);
            }
        }
    }
}

} // namespace

void pixelate_view(cv::Mat& view, int pixel_size, ResampleScratch& scratch) {
    const int cn = view.channels();
    const int row_bytes = view.cols * cn;
    const int blocks_x = std::max(view.cols / pixel_size, 1);
    const int blocks_y = std::max(view.rows / pixel_size, 1);
    // Block j covers the pixels p with floor(p * blocks / size) == j.
    auto block_start = [](int j, int blocks, int size) { return (j * size + blocks - 1) / blocks; };
    ensure_size(scratch.column_sums, static_cast<size_t>(row_bytes));
    ensure_size(scratch.block_row, static_cast<size_t>(row_bytes));
    uint32_t* sums = scratch.column_sums.data();
    uint8_t* block_row = scratch.block_row.data();

    for (int by = 0; by < blocks_y; ++by) {
        const int y0 = block_start(by, blocks_y, view.rows);
        const int y1 = block_start(by + 1, blocks_y, view.rows);
        // One pass down the band sums every byte column (vectorised), then
        // the block means make one row that is copied over the band.
        std::fill(sums, sums + row_bytes, 0u);
        for (int y = y0; y < y1; ++y) {
            const uint8_t* row = view.ptr<uint8_t>(y);
            for (int i = 0; i < row_bytes; ++i) {
                sums[i] += row[i];
            }
        }
        for (int bx = 0; bx < blocks_x; ++bx) {
            const int x0 = block_start(bx, blocks_x, view.cols);
            const int x1 = block_start(bx + 1, blocks_x, view.cols);
            const uint64_t count = static_cast<uint64_t>(y1 - y0) * (x1 - x0);
            for (int c = 0; c < cn; ++c) {
                uint64_t sum = 0;
                for (int x = x0; x < x1; ++x) {
                    sum += sums[x * cn + c];
                }
                const auto mean = static_cast<uint8_t>((sum + count / 2) / count);
                for (int x = x0; x < x1; ++x) {
                    block_row[x * cn + c] = mean;
                }
            }
        }
        for (int y = y0; y < y1; ++y) {
            std::memcpy(view.ptr<uint8_t>(y), block_row, static_cast<size_t>(row_bytes));
        }
    }
}

void reduce_smooth_enlarge(cv::Mat& view, cv::Size small_size, ResampleScratch& scratch) {
    const int type = view.type();
    const size_t small_bytes =
        static_cast<size_t>(small_size.area()) * static_cast<size_t>(view.elemSize());
    if (scratch.small.total() < 2 * small_bytes) {
        scratch.small.create(1, static_cast<int>(2 * small_bytes), CV_8UC1);
    }
    cv::Mat reduced(small_size, type, scratch.small.data);
    cv::Mat smoothed(small_size, type, scratch.small.data + small_bytes);
    shrink_by_area(view, reduced, scratch);
    box_blur_3x3(reduced, smoothed);
    enlarge_bilinear(smoothed, view, scratch);
}

} // namespace veilcam
