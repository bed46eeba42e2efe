#include "filter/hiding_modes.hpp"

#include <algorithm>
#include <cmath>
#include <limits>

namespace veilcam {
namespace {

constexpr int kLeastBlocksInOval = 4;

// However small the blocks asked for, a large face gets no more than a
// handful across: many small blocks still show who it is. The blocks follow
// the face, not the region, so that a region grown around a moving face is
// not a few giant blocks.
int block_side(const FilterSettings& settings, int face_side) {
    return std::max(settings.pixel_size, (face_side + kMostBlocksAcross - 1) / kMostBlocksAcross);
}

void pixelate(cv::Mat& view, const HideRequest& request, ResampleScratch& scratch) {
    pixelate_view(view, block_side(request.settings, request.face_side), scratch, request.written,
                  paired_chroma_channel(request.held));
}

// The face is reduced to a handful of samples across, whatever its size, so
// that it keeps no likeness: from 4 at the weakest strength down to 2 at the
// strongest; a region larger than the face gets as many more as it is
// larger. Smoothing and a bilinear enlargement then hide the samples' edges.
void blur(cv::Mat& view, const HideRequest& request, ResampleScratch& scratch) {
    const int k = std::clamp(request.settings.blur_radius, 3, 151);
    const double samples = std::clamp(std::round(4.5 - k / 60.0), 2.0, 4.0);
    const double scale = samples / request.face_side;
    const int small_width = static_cast<int>(std::lround(view.cols * scale));
    const int small_height = static_cast<int>(std::lround(view.rows * scale));
    reduce_smooth_enlarge(view, cv::Size(std::max(small_width, 2), std::max(small_height, 2)),
                          scratch, request.written);
}

void fill(cv::Mat& view, const HideRequest& request, ResampleScratch& scratch) {
    cv::Scalar levels;
    for (int c = 0; c < view.channels(); ++c) {
        levels[c] = request.colour[static_cast<size_t>(request.held[c])];
    }
    fill_view(view, levels, scratch, request.written);
}

int blocks_in_oval(const FilterSettings& settings, int face_side) {
    return kLeastBlocksInOval * block_side(settings, face_side);
}

int samples_in_oval(const FilterSettings&, int) {
    return kLeastBlocksInOval;
}

// A solid colour fills the padded region whole: a box, as the user asked.
int never_oval(const FilterSettings&, int) {
    return std::numeric_limits<int>::max();
}

} // namespace

const std::vector<HidingMode>& hiding_modes() {
    static const std::vector<HidingMode> modes = {
        {kPixelate, "ModePixelate", pixelate, blocks_in_oval, block_side},
        {kBlur, "ModeBlur", blur, samples_in_oval, nullptr},
        {kSolid, "ModeSolid", fill, never_oval, nullptr},
    };
    return modes;
}

const HidingMode& hiding_mode(int32_t obscure_mode) {
    for (const HidingMode& mode : hiding_modes()) {
        if (mode.value == obscure_mode) {
            return mode;
        }
    }
    return hiding_modes().front();
}

} // namespace veilcam
