#include "tracking/frame_motion.hpp"

#include "filter/sse2.hpp"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdlib>

namespace veilcam {
namespace {

// Grid points across the smallest area whose motion can be told.
constexpr int kLeastSpan = 3;
// Mean deviation of an area's levels below which it is too flat to follow.
constexpr float kLeastContrast = 4.0f;
// The best match differs from the picture by at most this share of what a
// typical shift leaves; a flat or repeating area has no such clear best.
constexpr float kClearMatch = 0.6f;
// The coarse search steps over this many grid points, up to kMostSteps each
// way, first no more than kNearSteps; areas of more than kSparseArea points
// are compared on every other row.
constexpr int kCoarseStep = 2;
constexpr int kMostSteps = 8;
constexpr int kNearSteps = 2;
constexpr int kSparseArea = 256;
// Another shift wins over the guess only when it matches this much better:
// the guess (the camera's motion) is right far more often than a look-alike.
constexpr float kGuessFavour = 0.8f;
constexpr int kBlockColumns = 4;
constexpr int kBlockRows = 3;

struct GridArea {
    int x0, y0, x1, y1; // [x0, x1) x [y0, y1) in grid points
    int points() const { return (x1 - x0) * (y1 - y0); }
};

// Shifts of one row of a search: at most 2 kMostSteps + 1 across.
constexpr int kMostAlong = 2 * kMostSteps + 1;

// For each of `count` offsets, the sum of |a[x] - b[x + offset]| over `rows`
// rows of `width` levels, rows `stride` apart, into `totals`. A search
// compares the same area at up to a hundred shifts, a few rows of a dozen
// or so levels each: one instruction takes sixteen, a row's last few masked
// off rather than taken one at a time (reading up to 15 levels past it,
// which LevelGrid holds), and each row of `a` read once for all the shifts
// of a row of the search, where a call a shift spent more on getting there
// than on the sums.
void absolute_differences(const uint8_t* a, const uint8_t* b, const int* offsets, int count,
                          ptrdiff_t stride, int rows, int width, int* totals) {
#ifdef VEILCAM_SSE2
    static_assert(LevelGrid::kReadPast >= 15, "a row's last vector reads past it");
    alignas(16) static constexpr uint8_t kFirst[32] = {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF,
                                                       0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF,
                                                       0xFF, 0xFF, 0xFF, 0xFF};
    // The first width % 16 bytes of a vector.
    const __m128i kept =
        _mm_loadu_si128(reinterpret_cast<const __m128i*>(kFirst + 16 - width % 16));
    const __m128i all = _mm_set1_epi8(-1);
    auto levels = [](const uint8_t* p, __m128i mask) {
        return _mm_and_si128(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p)), mask);
    };
    __m128i sums[kMostAlong];
    std::fill_n(sums, count, _mm_setzero_si128());
    for (int r = 0; r < rows; ++r, a += stride, b += stride) {
        for (int x = 0; x < width; x += 16) {
            const __m128i mask = x + 16 <= width ? all : kept;
            const __m128i here = levels(a + x, mask);
            for (int j = 0; j < count; ++j) {
                sums[j] =
                    _mm_add_epi64(sums[j], _mm_sad_epu8(here, levels(b + x + offsets[j], mask)));
            }
        }
    }
    for (int j = 0; j < count; ++j) {
        totals[j] = _mm_cvtsi128_si32(sums[j]) + _mm_cvtsi128_si32(_mm_srli_si128(sums[j], 8));
    }
#else
    std::fill_n(totals, count, 0);
    for (int r = 0; r < rows; ++r, a += stride, b += stride) {
        for (int j = 0; j < count; ++j) {
            for (int x = 0; x < width; ++x) {
                totals[j] += std::abs(a[x] - b[x + offsets[j]]);
            }
        }
    }
#endif
}

// The rows [y0, y1) of `area` that stay inside when shifted by dy; false
// when under half the area, `width` columns of it kept, lands inside.
bool rows_inside(const GridArea& area, int dy, int width, int& y0, int& y1) {
    y0 = std::max(area.y0, -dy);
    y1 = std::min(area.y1, LevelGrid::kRows - dy);
    return y1 > y0 && 2 * width * (y1 - y0) >= area.points();
}

// Mean differences over columns [x0, x1) and every `step`-th row of
// [y0, y1) of `before` against `now` at (shifts_x[i], dy), i < count, into
// `out`; every shifted column lies inside `now`.
void mean_differences(const LevelGrid& before, const LevelGrid& now, int x0, int x1, int y0, int y1,
                      const int* shifts_x, int count, int dy, int step, float* out) {
    const int rows = (y1 - y0 + step - 1) / step;
    int totals[kMostAlong];
    absolute_differences(&before.levels[y0 * LevelGrid::kColumns + x0],
                         &now.levels[(y0 + dy) * LevelGrid::kColumns + x0], shifts_x, count,
                         LevelGrid::kColumns * step, rows, x1 - x0, totals);
    for (int i = 0; i < count; ++i) {
        out[i] = static_cast<float>(totals[i]) / static_cast<float>(rows * (x1 - x0));
    }
}

// Mean difference between `area` of `before` and `now` shifted by (dx, dy),
// over every `step`-th row; negative when under half the area lands inside.
float difference(const LevelGrid& before, const LevelGrid& now, const GridArea& area, int dx,
                 int dy, int step) {
    const int x0 = std::max(area.x0, -dx), x1 = std::min(area.x1, LevelGrid::kColumns - dx);
    int y0 = 0, y1 = 0;
    if (x1 <= x0 || !rows_inside(area, dy, x1 - x0, y0, y1)) {
        return -1.0f;
    }
    float mean = 0.0f;
    mean_differences(before, now, x0, x1, y0, y1, &dx, 1, dy, step, &mean);
    return mean;
}

// difference() at shifts (shifts_x[i], dy), i < count, the shifts in
// ascending order, into `out`: compared together where every one keeps the
// area's columns inside.
void differences_along(const LevelGrid& before, const LevelGrid& now, const GridArea& area,
                       const int* shifts_x, int count, int dy, int step, float* out) {
    int y0 = 0, y1 = 0;
    if (area.x0 + shifts_x[0] < 0 || area.x1 + shifts_x[count - 1] > LevelGrid::kColumns ||
        area.x1 <= area.x0 || !rows_inside(area, dy, area.x1 - area.x0, y0, y1)) {
        for (int i = 0; i < count; ++i) {
            out[i] = difference(before, now, area, shifts_x[i], dy, step);
        }
        return;
    }
    mean_differences(before, now, area.x0, area.x1, y0, y1, shifts_x, count, dy, step, out);
}

// The mean deviation of the area's levels from their mean. In whole numbers
// (each level n times against the area's total of n): one sum in floats,
// each addition waiting on the one before, took most of a search's set-up.
float contrast(const LevelGrid& grid, const GridArea& area) {
    int sum = 0;
    for (int y = area.y0; y < area.y1; ++y) {
        for (int x = area.x0; x < area.x1; ++x) {
            sum += grid.at(x, y);
        }
    }
    const int points = area.points();
    int64_t deviation = 0;
    for (int y = area.y0; y < area.y1; ++y) {
        int row = 0; // at most 128 points, each under 9216 * 255
        for (int x = area.x0; x < area.x1; ++x) {
            row += std::abs(points * grid.at(x, y) - sum);
        }
        deviation += row;
    }
    return static_cast<float>(deviation) / (static_cast<float>(points) * points);
}

// Where the minimum lies between three neighbouring differences, -0.5 to 0.5.
float vertex(float left, float middle, float right) {
    const float curve = left - 2.0f * middle + right;
    return left < 0.0f || right < 0.0f || curve <= 0.0f
               ? 0.0f
               : std::clamp(0.5f * (left - right) / curve, -0.5f, 0.5f);
}

// The shift of `area` in grid points, searched coarsely around `guess`
// within `radius` coarse steps, then point by point and between points;
// false where no shift matches clearly.
bool search_shift(const LevelGrid& before, const LevelGrid& now, const GridArea& area,
                  cv::Point guess, int radius, cv::Point2f& shift) {
    const int sparse = area.points() > kSparseArea ? kCoarseStep : 1;
    std::array<float, (2 * kMostSteps + 1) * (2 * kMostSteps + 1)> coarse;
    size_t tried = 0;
    cv::Point best = guess;
    float least = -1.0f, at_guess = -1.0f;
    int shifts_x[kMostAlong];
    for (int kx = -radius; kx <= radius; ++kx) {
        shifts_x[kx + radius] = guess.x + kx * kCoarseStep;
    }
    for (int ky = -radius; ky <= radius; ++ky) {
        float row[kMostAlong];
        differences_along(before, now, area, shifts_x, 2 * radius + 1, guess.y + ky * kCoarseStep,
                          sparse, row);
        for (int kx = -radius; kx <= radius; ++kx) {
            const cv::Point at = guess + cv::Point(kx, ky) * kCoarseStep;
            const float d = row[kx + radius];
            if (kx == 0 && ky == 0) {
                at_guess = d;
            }
            if (d >= 0.0f) {
                coarse[tried++] = d;
                if (least < 0.0f || d < least) {
                    least = d;
                    best = at;
                }
            }
        }
    }
    if (tried == 0) {
        return false;
    }
    std::nth_element(coarse.begin(), coarse.begin() + tried / 2, coarse.begin() + tried);
    const float typical = coarse[tried / 2];
    // Point by point around the best coarse shift, a row at a time (the
    // middle one again the coarse search's least), each difference kept:
    // those beside the best are needed again to lay the shift between points.
    const cv::Point around = best;
    float near[3][3];
    const int near_x[3] = {around.x - 1, around.x, around.x + 1};
    for (int dy = -1; dy <= 1; ++dy) {
        differences_along(before, now, area, near_x, 3, around.y + dy, sparse, near[dy + 1]);
    }
    least = -1.0f;
    for (int dy = -1; dy <= 1; ++dy) {
        for (int dx = -1; dx <= 1; ++dx) {
            const float d = near[dy + 1][dx + 1];
            if (d >= 0.0f && (least < 0.0f || d < least)) {
                least = d;
                best = around + cv::Point(dx, dy);
            }
        }
    }
    if (at_guess >= 0.0f && at_guess * kGuessFavour <= least) {
        least = at_guess;
        best = guess;
    }
    if (least < 0.0f || least > kClearMatch * typical) {
        return false;
    }
    // Between points only where it moved otherwise than guessed: the
    // differences around a still picture lean one way or the other with what
    // it shows, and that lean, added up frame after frame, would carry a
    // still face away.
    shift = cv::Point2f(best);
    if (best != guess) {
        auto at = [&](int dx, int dy) {
            const cv::Point from_around = best + cv::Point(dx, dy) - around;
            return std::abs(from_around.x) <= 1 && std::abs(from_around.y) <= 1
                       ? near[from_around.y + 1][from_around.x + 1]
                       : difference(before, now, area, best.x + dx, best.y + dy, sparse);
        };
        shift +=
            cv::Point2f(vertex(at(-1, 0), least, at(1, 0)), vertex(at(0, -1), least, at(0, 1)));
    }
    return true;
}

// Near the guess first: the wider search may find a look-alike elsewhere.
bool grid_shift(const LevelGrid& before, const LevelGrid& now, const GridArea& area,
                cv::Point guess, int radius, cv::Point2f& shift) {
    if (area.x1 - area.x0 < kLeastSpan || area.y1 - area.y0 < kLeastSpan ||
        contrast(before, area) < kLeastContrast) {
        return false;
    }
    return search_shift(before, now, area, guess, std::min(radius, kNearSteps), shift) ||
           (radius > kNearSteps && search_shift(before, now, area, guess, radius, shift));
}

bool comparable(const LevelGrid& before, const LevelGrid& now) {
    return before.frame == now.frame && !now.frame.empty();
}

struct BlockShift {
    cv::Point2f from; // the block's middle, relative to the frame's, in pixels
    cv::Point2f shift;
};

// Least squares for shift = pan + (scale - 1) * from over `blocks`.
CameraMotion fit(const BlockShift* blocks, size_t count, cv::Point2f centre) {
    cv::Point2f mean_from, mean_shift;
    for (size_t i = 0; i < count; ++i) {
        mean_from += blocks[i].from;
        mean_shift += blocks[i].shift;
    }
    mean_from *= 1.0f / count;
    mean_shift *= 1.0f / count;
    float along = 0.0f, spread = 0.0f;
    for (size_t i = 0; i < count; ++i) {
        const cv::Point2f u = blocks[i].from - mean_from;
        along += u.dot(blocks[i].shift - mean_shift);
        spread += u.dot(u);
    }
    const float zoom = spread > 0.0f ? along / spread : 0.0f;
    return {mean_shift - mean_from * zoom, 1.0f + zoom, centre};
}

} // namespace

bool measure_shift(const LevelGrid& before, const LevelGrid& now, const cv::Rect2f& area,
                   cv::Point2f guess, float reach, cv::Point2f& shift) {
    if (!comparable(before, now)) {
        return false;
    }
    const cv::Point2f pitch = now.pitch();
    const GridArea points{
        std::max(0, static_cast<int>(std::ceil(area.x / pitch.x))),
        std::max(0, static_cast<int>(std::ceil(area.y / pitch.y))),
        std::min(LevelGrid::kColumns, static_cast<int>(std::floor(area.br().x / pitch.x))),
        std::min(LevelGrid::kRows, static_cast<int>(std::floor(area.br().y / pitch.y)))};
    const int radius =
        std::clamp(static_cast<int>(std::ceil(reach / std::min(pitch.x, pitch.y) / kCoarseStep)), 1,
                   kMostSteps);
    const cv::Point start(static_cast<int>(std::lround(guess.x / pitch.x)),
                          static_cast<int>(std::lround(guess.y / pitch.y)));
    cv::Point2f points_moved;
    if (!grid_shift(before, now, points, start, radius, points_moved)) {
        return false;
    }
    // What moved elsewhere than guessed must lead back: a face that stays
    // where something near it changed (someone comes in) would otherwise
    // seem to jump.
    const cv::Point moved(cvRound(points_moved.x), cvRound(points_moved.y));
    if (std::abs(moved.x - start.x) > 1 || std::abs(moved.y - start.y) > 1) {
        const GridArea there{points.x0 + moved.x, points.y0 + moved.y, points.x1 + moved.x,
                             points.y1 + moved.y};
        cv::Point2f back;
        if (there.x0 < 0 || there.y0 < 0 || there.x1 > LevelGrid::kColumns ||
            there.y1 > LevelGrid::kRows || !grid_shift(now, before, there, -moved, 1, back) ||
            cv::norm(back + points_moved) > kLeastSpan / 2.0f) {
            return false;
        }
    }
    shift = {points_moved.x * pitch.x, points_moved.y * pitch.y};
    return true;
}

CameraMotion measure_camera_motion(const LevelGrid& before, const LevelGrid& now) {
    const cv::Point2f centre(now.frame.width / 2.0f, now.frame.height / 2.0f);
    if (!comparable(before, now)) {
        return {{}, 1.0f, centre};
    }
    const cv::Point2f pitch = now.pitch();
    constexpr int kWidth = LevelGrid::kColumns / kBlockColumns;
    constexpr int kHeight = LevelGrid::kRows / kBlockRows;
    std::array<BlockShift, kBlockColumns * kBlockRows> blocks;
    size_t found = 0;
    for (int row = 0; row < kBlockRows; ++row) {
        for (int column = 0; column < kBlockColumns; ++column) {
            // The middle half of each block each way: enough points to match.
            const GridArea area{column * kWidth + kWidth / 4, row * kHeight + kHeight / 4,
                                column * kWidth + kWidth * 3 / 4, row * kHeight + kHeight * 3 / 4};
            cv::Point2f moved;
            if (grid_shift(before, now, area, {}, kMostSteps / 2, moved)) {
                const cv::Point2f middle((area.x0 + area.x1) * 0.5f * pitch.x,
                                         (area.y0 + area.y1) * 0.5f * pitch.y);
                blocks[found++] = {middle - centre, {moved.x * pitch.x, moved.y * pitch.y}};
            }
        }
    }
    // Three blocks that agree make a camera move; fewer may be one person.
    constexpr size_t kLeastBlocks = 3;
    if (found < kLeastBlocks) {
        return {{}, 1.0f, centre};
    }
    CameraMotion motion = fit(blocks.data(), found, centre);
    // Blocks where something else moved are left out, then the rest refitted.
    const float tolerance = 1.5f * std::max(pitch.x, pitch.y);
    const auto agreeing =
        std::partition(blocks.begin(), blocks.begin() + found, [&](const BlockShift& b) {
            const cv::Point2f off = motion.apply(b.from + centre) - centre - b.from;
            return cv::norm(off - b.shift) <= tolerance;
        });
    const size_t kept = static_cast<size_t>(agreeing - blocks.begin());
    if (kept < kLeastBlocks) {
        return {{}, 1.0f, centre};
    }
    return fit(blocks.data(), kept, centre);
}

} // namespace veilcam
