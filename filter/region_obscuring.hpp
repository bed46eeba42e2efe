#pragma once

#include "filter/face_regions.hpp"
#include "filter/frame_formats.hpp"
#include "filter/region_resample.hpp"
#include "settings/filter_settings.hpp"

#include <obs.h>
#include <opencv2/core/mat.hpp>

#include <array>
#include <vector>

namespace veilcam {

// Kept between frames: the resamplers' buffers, plane areas unpacked from
// 10-bit packing, the alpha samples put back after hiding, the samples
// outside a face's oval put back likewise, and the components of packed
// 4:2:2 hidden apart.
struct RegionScratch {
    ResampleScratch resample;
    cv::Mat unpacked;
    cv::Mat alpha;
    cv::Mat before;
    cv::Mat luma;
    std::array<cv::Mat, 2> chroma;
};

// The samples of a plane that touch the frame region `r`: a subsampled plane
// rounds outwards, so that chroma covers whatever luma covers.
cv::Rect plane_region(const FrameFormat& format, int plane, const cv::Rect& r);

// Hides the ovals of `faces` marked hidden, in every plane; alpha planes
// and alpha samples stay as they are.
void obscure_frame(obs_source_frame& frame, const FrameFormat& format,
                   const std::vector<FaceRegion>& faces, const FilterSettings& settings,
                   RegionScratch& scratch);

// Pixelates every plane but alpha whole, in blocks large enough to hide the
// largest face: what is shown while faces cannot be detected.
void obscure_whole_frame(obs_source_frame& frame, const FrameFormat& format, int32_t pixel_size,
                         RegionScratch& scratch);

// Pixelates or blurs one view of a plane in place, as the settings say, for
// a face whose longer side is `face_side` samples of that plane; views under
// 3 pixels in either direction are left alone.
void obscure_view(cv::Mat& view, const FilterSettings& settings, int face_side,
                  ResampleScratch& scratch);

} // namespace veilcam
