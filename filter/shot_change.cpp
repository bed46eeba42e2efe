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
    static_assert(LevelGrid::kColumns == Thumbnail::kColumns * kSamplesPerCellSide &&
                  LevelGrid::kRows == Thumbnail::kRows * kSamplesPerCellSide);
    LevelGrid& grid = thumbnail.grid;
    thumbnail.width = frame.width;
    thumbnail.height = frame.height;
    grid.frame = {static_cast<int>(frame.width), static_cast<int>(frame.height)};
    // The columns once a frame: a division for each of the grid's points
    // cost more than reading them.
    std::array<int, LevelGrid::kColumns> columns;
    for (int gx = 0; gx < LevelGrid::kColumns; ++gx) {
        columns[gx] = static_cast<int>((2 * gx + 1) * static_cast<uint64_t>(frame.width) /
                                       (2 * LevelGrid::kColumns));
    }
    for (int gy = 0; gy < LevelGrid::kRows; ++gy) {
        const uint64_t y =
            (2 * gy + 1) * static_cast<uint64_t>(frame.height) / (2 * LevelGrid::kRows);
        row_levels(frame.data[0] + y * frame.linesize[0], format, columns.data(),
                   LevelGrid::kColumns, &grid.levels[gy * LevelGrid::kColumns]);
    }
    // A row of cells at a time, the grid's rows added down first: the
    // compiler adds whole rows at once, where a cell at a time took a
    // twentieth of a 1280x720 frame between detections.
    for (int row = 0; row < Thumbnail::kRows; ++row) {
        std::array<uint16_t, LevelGrid::kColumns> down{};
        for (int sy = 0; sy < kSamplesPerCellSide; ++sy) {
            const uint8_t* levels =
                &grid.levels[(row * kSamplesPerCellSide + sy) * LevelGrid::kColumns];
            for (int gx = 0; gx < LevelGrid::kColumns; ++gx) {
                down[gx] = static_cast<uint16_t>(down[gx] + levels[gx]);
            }
        }
        for (int column = 0; column < Thumbnail::kColumns; ++column) {
            int sum = 0;
            for (int sx = 0; sx < kSamplesPerCellSide; ++sx) {
                sum += down[column * kSamplesPerCellSide + sx];
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
    const float spreads =
        (spread(before, mean_level(before)) + spread(now, mean_level(now))) / 2.0f;
    const float bar = kNewShotChange * std::max(spreads, kFlatSpread);
    // One shift that lays the pictures over each other is enough: the still
    // one first, as most frames are.
    if (moved_change(before, now, 0, 0) <= bar) {
        return false;
    }
    for (int dy = -1; dy <= 1; ++dy) {
        for (int dx = -1; dx <= 1; ++dx) {
            if ((dx != 0 || dy != 0) && moved_change(before, now, dx, dy) <= bar) {
                return false;
            }
        }
    }
    return true;
}

} // namespace veilcam
