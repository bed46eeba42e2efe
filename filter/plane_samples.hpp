#pragma once

#include "filter/frame_formats.hpp"

#include <obs.h>
#include <opencv2/core/mat.hpp>

// The samples of a frame's planes as images, whatever their packing.
namespace veilcam {

// `area` (in plane pixels) of one plane as an image of its samples: the
// frame's own bytes where each sample has bytes of its own and sits aligned;
// otherwise the samples (or the groups holding `area`, unpacked) copied into
// `unpacked`, which store_area then writes back.
cv::Mat load_area(const obs_source_frame& frame, const FrameFormat& format, int plane,
                  const cv::Rect& area, cv::Mat& unpacked);

// Writes back what load_area copied for the same area; nothing to do for
// samples that are the frame's own bytes.
void store_area(obs_source_frame& frame, const FrameFormat& format, int plane, const cv::Rect& area,
                cv::Mat& unpacked);

// Throws when a plane's rows are shorter than its pixels need: reading such
// a frame would run past its planes.
void check_rows(const obs_source_frame& frame, const FrameFormat& format);

// The levels on the 8-bit scale of pixels columns[0], ..., columns[count -
// 1] of a row of plane 0: their luma where the plane holds it, else the
// mean of their red, green and blue. Chroma, alpha and padding say nothing
// of the picture's detail and would only flatten it.
void row_levels(const uint8_t* row, const FrameFormat& format, const int* columns, int count,
                uint8_t* levels);

// Plane 0's samples (as loaded, or shrunk) as the 8-bit image detection
// takes in `image`: grey for formats detected in grey, BGR for the rest.
// `eight_bit` holds them at 8 bits on the way where they have more.
void convert_for_detection(const cv::Mat& samples, const FrameFormat& format, cv::Mat& eight_bit,
                           cv::Mat& image);

} // namespace veilcam
