#include "filter/shot_change.hpp"

#include "filter/plane_samples.hpp"

#include <algorithm>
#include <array>
#include <cstdlib>

namespace veilcam {
namespace {

constexpr int kSamplesPerCellSide = 4;
// The median change of a thumbnail cell, in units of how much the cells of
// both pictures differ from their mean, so that a cut between dim, flat shots
// counts as much as one between bright ones. On the sample photos (at any
// brightness, contrast down to a third) cuts score 0.7 to 2.0, and camera
// moves of up to 60 pixels a frame or a 6 % zoom at most 0.4. The median
// leaves out people moving on a plain background: they change few cells.
constexpr float kNewShotChange = 0.55f;
// A picture with less spread than this (8-bit levels) is flat: its noise is
// no cut.
constexpr float kFlatSpread = 4.0f;

float mean_level(const Thumbnail& t) {
    int sum = 0;
    for (const uint8_t cell : t.cells) {
        sum += cell;
    }
    return static_cast<float>(sum) / t.cells.size();
}

float spread(const Thumbnail& t, float mean) {
    float sum = 0.0f;
    for (const uint8_t cell : t.cells) {
        sum += std::abs(cell - mean);
    }
    return sum / t.cells.size();
}

// The median change of a cell when `now` is laid over `before` moved by
// (dx, dy) cells: a camera that moved shows the same picture moved.
int moved_change(const Thumbnail& before, const Thumbnail& now, int dx, int dy) {
    std::array<uint8_t, Thumbnail::kColumns * Thumbnail::kRows> changes;
    size_t cells = 0;
    for (int y = std::max(0, -dy); y < Thumbnail::kRows && y + dy < Thumbnail::kRows; ++y) {
        for (int x = std::max(0, -dx); x < Thumbnail::kColumns && x + dx < Thumbnail::kColumns;
             ++x) {
            changes[cells++] = static_cast<uint8_t>(
                std::abs(before.cells[(y + dy) * Thumbnail::kColumns + x + dx] -
                         now.cells[y * Thumbnail::kColumns + x]));
        }
    }
    std::nth_element(changes.begin(), changes.begin() + cells / 2, changes.begin() + cells);
    return changes[cells / 2];
}

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

bool changed_within(const Thumbnail& before, const Thumbnail& now, const cv::Rect2f& area) {
    // Mean change of the cells under the area, in 8-bit levels: a face that
    // moves changes them by tens of levels, noise and light flicker by a few.
    constexpr int kMotion = 8;
    if (before.width != now.width || before.height != now.height || now.width == 0) {
        return false;
    }
    const float cell_width = static_cast<float>(now.width) / Thumbnail::kColumns;
    const float cell_height = static_cast<float>(now.height) / Thumbnail::kRows;
    const int x0 = std::clamp(static_cast<int>(area.x / cell_width), 0, Thumbnail::kColumns - 1);
    const int y0 = std::clamp(static_cast<int>(area.y / cell_height), 0, Thumbnail::kRows - 1);
    const int x1 =
        std::clamp(static_cast<int>(area.br().x / cell_width), x0, Thumbnail::kColumns - 1);
    const int y1 =
        std::clamp(static_cast<int>(area.br().y / cell_height), y0, Thumbnail::kRows - 1);
    int sum = 0;
    for (int y = y0; y <= y1; ++y) {
        for (int x = x0; x <= x1; ++x) {
            const int i = y * Thumbnail::kColumns + x;
            sum += std::abs(now.cells[i] - before.cells[i]);
        }
    }
    return sum > kMotion * (x1 - x0 + 1) * (y1 - y0 + 1);
}

bool is_new_shot(const Thumbnail& before, const Thumbnail& now) {
    if (before.width != now.width || before.height != now.height) {
        return true;
    }
    int change = moved_change(before, now, 0, 0);
    for (int dy = -1; dy <= 1; ++dy) {
        for (int dx = -1; dx <= 1; ++dx) {
            change = std::min(change, moved_change(before, now, dx, dy));
        }
    }
    const float spreads =
        (spread(before, mean_level(before)) + spread(now, mean_level(now))) / 2.0f;
    return change > kNewShotChange * std::max(spreads, kFlatSpread);
}

} // namespace veilcam
