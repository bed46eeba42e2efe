#pragma once

#include "filter/frame_colour.hpp"
#include "filter/region_resample.hpp"
#include "settings/filter_settings.hpp"

#include <opencv2/core/mat.hpp>

#include <vector>

// The ways of hiding a face, one row each: what is stored for it, what the
// panel calls it, and how it hides a view knowing what each channel holds.
// A new way is one row and one function.
namespace veilcam {

// Many more small blocks than this across a face still show who it is.
inline constexpr int kMostBlocksAcross = 6;

// What hiding one view of a plane is told.
struct HideRequest {
    const FilterSettings& settings;
    int face_side;                 // the face's longer side in samples of this plane
    const PlaneComponents& held;   // what each channel of the view holds
    const ComponentLevels& colour; // the solid colour in this frame's components
    WrittenSamples written{};      // the samples hiding may change
};

struct HidingMode {
    ObscureMode value; // stored as "obscure_mode"
    const char* label; // locale key
    // Hides `view` in place: every sample the request lets it write.
    void (*hide)(cv::Mat& view, const HideRequest& request, ResampleScratch& scratch);
    // The least side (frame pixels) of a region whose corners outside the
    // face's oval are left as they are, for a face of `face_side`: a region
    // only a few blocks across keeps its corners hidden, since cut off they
    // leave a blob of a face's outline that a detector finds as a face.
    int (*least_oval_side)(const FilterSettings& settings, int face_side);
    // Where the way hides in flat blocks, their side for a face of
    // `face_side` samples; null for the others. Blocks are made on samples
    // as they lie, packed 4:2:2's pairs and 10-bit words included; the other
    // ways are handed them taken apart and put back after.
    int (*block_side)(const FilterSettings& settings, int face_side);
};

const std::vector<HidingMode>& hiding_modes();

// The row of a stored mode; pixelation for a value that is none of theirs.
const HidingMode& hiding_mode(int32_t obscure_mode);

} // namespace veilcam
