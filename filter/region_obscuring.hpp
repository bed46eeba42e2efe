#pragma once

#include "tracking/face_tracker.hpp"

#include <obs.h>
#include <opencv2/core/mat.hpp>

namespace veilcam {

struct FilterInstance;

// A track's box widened by `padding_percent` on every side and cut to the
// frame: the region that is hidden and outlined.
cv::Rect padded_face_rect(const FilterInstance& instance, const FaceTrack& track,
                          const obs_source_frame& frame);

// Hides every selected track in a frame with one interleaved plane.
void obscure_packed_frame(FilterInstance& instance, obs_source_frame& frame, int bytes_per_pixel);

// Hides every selected track in luma and in each chroma plane of a planar frame.
void obscure_planar_frame(FilterInstance& instance, obs_source_frame& frame);

// Pixelates or blurs one rectangle of one plane in place; regions under
// 3 pixels in either direction are left alone.
void obscure_region(FilterInstance& instance, uint8_t* plane, uint32_t stride, int plane_width,
                    int plane_height, int bytes_per_pixel, const cv::Rect& rect);

void blur_region(FilterInstance& instance, cv::Mat& region);

} // namespace veilcam
