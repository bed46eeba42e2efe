#pragma once

#include "filter/face_regions.hpp"
#include "filter/frame_formats.hpp"
#include "filter/oval_spans.hpp"
#include "filter/region_resample.hpp"
#include "settings/filter_settings.hpp"

#include <obs.h>
#include <opencv2/core/mat.hpp>

#include <array>
#include <vector>

namespace veilcam {

// One band of a packed 10-bit area pixelated in its words: its sums, its
// row of block means, and that row packed.
struct PackedBand {
    std::vector<uint32_t> sums;
    std::vector<uint16_t> block_row;
    std::vector<uint32_t> words;
};

// Kept between frames: the resamplers' buffers, plane areas unpacked from
// 10-bit packing, and the components of packed 4:2:2 hidden apart.
struct RegionScratch {
    ResampleScratch resample;
    cv::Mat unpacked;
    HiddenSpans spans;     // each row's samples hidden within the oval
    RowSpans chroma_spans; // the same for one chroma image of packed 4:2:2
    cv::Mat luma;
    std::array<cv::Mat, 2> chroma;
    PackedBand packed_band;
};

// Hides the regions of `faces` marked hidden (their ovals, or their whole
// padded regions where the way of hiding asks), in every plane, the way the
// settings choose; alpha planes and alpha samples stay as they are.
void obscure_frame(obs_source_frame& frame, const FrameFormat& format,
                   const std::vector<FaceRegion>& faces, const FilterSettings& settings,
                   RegionScratch& scratch);

// Pixelates every plane but alpha whole, in blocks large enough to hide the
// largest face: what is shown while faces cannot be detected.
void obscure_whole_frame(obs_source_frame& frame, const FrameFormat& format, int32_t pixel_size,
                         RegionScratch& scratch);

} // namespace veilcam
