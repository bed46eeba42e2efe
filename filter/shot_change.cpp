#include "filter/shot_change.hpp"

#include "filter/plane_samples.hpp"

#include <cstdlib>

namespace veilcam {
namespace {

constexpr int kSamplesPerCellSide = 4;
// Mean change of a thumbnail cell, in 8-bit levels. Pans and zooms stay
// under 8 on the sample clip; its cuts change the picture by 45 and more.
constexpr int kNewShotChange = 20;

} // namespace

void make_thumbnail(const obs_source_frame& frame, const FrameFormat& format,
                    Thumbnail& thumbnail) {
    constexpr int kGridColumns = Thumbnail::kColumns * kSamplesPerCellSide;
    constexpr int kGridRows = Thumbnail::kRows * kSamplesPerCellSide;
    thumbnail.width = frame.width;
    thumbnail.height = frame.height;
    for (int row = 0; row < Thumbnail::kRows; ++row) {
        for (int column = 0; column < Thumbnail::kColumns; ++column) {
            int sum = 0;
            for (int sy = 0; sy < kSamplesPerCellSide; ++sy) {
                const int gy = row * kSamplesPerCellSide + sy;
                const uint64_t y =
                    (2 * gy + 1) * static_cast<uint64_t>(frame.height) / (2 * kGridRows);
                const uint8_t* line = frame.data[0] + y * frame.linesize[0];
                for (int sx = 0; sx < kSamplesPerCellSide; ++sx) {
                    const int gx = column * kSamplesPerCellSide + sx;
                    const uint64_t x =
                        (2 * gx + 1) * static_cast<uint64_t>(frame.width) / (2 * kGridColumns);
                    sum += pixel_level(line, format, static_cast<int>(x));
                }
            }
            thumbnail.cells[row * Thumbnail::kColumns + column] =
                static_cast<uint8_t>(sum / (kSamplesPerCellSide * kSamplesPerCellSide));
        }
    }
}

bool is_new_shot(const Thumbnail& before, const Thumbnail& now) {
    if (before.width != now.width || before.height != now.height) {
        return true;
    }
    int change = 0;
    for (size_t i = 0; i < now.cells.size(); ++i) {
        change += std::abs(now.cells[i] - before.cells[i]);
    }
    return change > kNewShotChange * static_cast<int>(now.cells.size());
}

} // namespace veilcam
