#include "filter/detection_image.hpp"

#include "filter/box_shrink.hpp"
#include "filter/channel_copy.hpp"
#include "filter/detection_colour.hpp"
#include "filter/packed_10bit.hpp"
#include "filter/plane_samples.hpp"

#include <opencv2/imgproc.hpp>

#include <algorithm>
#include <cmath>

namespace veilcam {
namespace {

// What detection starts from: `area` of plane 0's samples, or its luma
// channel alone where the picture is detected in grey.
cv::Mat detectable_plane0(const obs_source_frame& frame, const FrameFormat& format,
                          const cv::Rect& area, DetectionImages& images) {
    const cv::Mat plane0 = load_area(frame, format, 0, area, images.unpacked);
    const int luma = packed_luma_channel(format);
    if (format.to_bgr < 0 && luma >= 0) {
        extract_channel(plane0, luma, images.luma);
        return images.luma;
    }
    return plane0;
}

// A shrink to at least one pixel each way, however thin the frame.
cv::Size scaled_size(cv::Size size, double scale) {
    return {std::max(1, static_cast<int>(std::lround(size.width * scale))),
            std::max(1, static_cast<int>(std::lround(size.height * scale)))};
}

void make_working_area(const obs_source_frame& frame, const FrameFormat& format,
                       const cv::Rect& area, DetectionImages& images) {
    if (format.packing != Packing::Samples) {
        // Unpacked to 16 bits, then converted, took most of a tile's image.
        unpack_for_detection(format.packing, frame.data[0], frame.linesize[0], area,
                             images.working);
        return;
    }
    const cv::Mat plane0 = detectable_plane0(frame, format, area, images);
    if (plane0.empty()) {
        images.working.release();
        return;
    }
    convert_for_detection(plane0, format, images.eight_bit, images.working);
}

// The factor a frame is shrunk by straight from its bytes: the
// scale's own where it is a whole one the box shrink can take, else none
// (1). Shrunk by a whole factor and then by the rest, the picture came out
// softer than one shrink makes it (1.2 to 1.5 levels off on average at 0.22).
int box_factor(double scale) {
    const double inverse = 1.0 / scale;
    const double whole = std::round(inverse);
    return std::abs(inverse - whole) < 1e-6 && whole <= kMostBoxShrink ? static_cast<int>(whole)
                                                                       : 1;
}

// Shrinks by half or more average every sample (none may fall between two
// taps). A tile is shrunk by a tenth (18 pixels over a minimum face of 20),
// where OpenCV's area shrink weighs each sample into two output pixels each
// way, five times slower than a bilinear shrink, in which at that scale no
// sample falls between taps either. Enlarged tiles keep the area weights.
int interpolation_for(double scale) {
    return scale > 0.5 && scale < 1.0 ? cv::INTER_LINEAR : cv::INTER_AREA;
}

void scale_for_detection(const obs_source_frame& frame, const FrameFormat& format,
                         const cv::Rect& area, double scale, DetectionImages& images) {
    const int factor = box_factor(scale);
    const bool halved = factor == 2 && !halves_straight(format);
    if (factor >= 2 && !halved) {
        box_shrink(frame, format, area, factor, scaled_size(area.size(), scale), images.box_rows,
                   images.detection);
        return;
    }
    if (scale < 1.0 && format.packing == Packing::Samples && (format.to_bgr < 0 || halved)) {
        // Shrunk first, then made grey or BGR: a fraction of the work, the
        // same picture. (Shrunk by a fraction, four channels shrink slower
        // than three: RGBA is converted first; packed 10-bit samples are
        // unpacked straight to 8 bits first.)
        const cv::Mat plane0 = detectable_plane0(frame, format, area, images);
        cv::resize(plane0, images.shrunk, scaled_size(plane0.size(), scale), 0, 0,
                   interpolation_for(scale));
        convert_for_detection(images.shrunk, format, images.eight_bit, images.detection);
        return;
    }
    make_working_area(frame, format, area, images);
    if (images.working.empty()) {
        images.detection.release();
    } else if (scale != 1.0) {
        // A tile is enlarged where its small faces need it.
        cv::resize(images.working, images.detection, scaled_size(images.working.size(), scale), 0,
                   0, interpolation_for(scale));
    } else {
        images.working.copyTo(images.detection);
    }
}

} // namespace

void make_working_image(const obs_source_frame& frame, const FrameFormat& format,
                        DetectionImages& images) {
    make_working_area(frame, format,
                      {0, 0, static_cast<int>(frame.width), static_cast<int>(frame.height)},
                      images);
}

cv::Mat& make_detection_image(const obs_source_frame& frame, const FrameFormat& format,
                              const cv::Rect& area, double scale, bool colour,
                              DetectionImages& images) {
    scale_for_detection(frame, format, area, scale, images);
    cv::Mat* image = &images.detection;
    if (colour && !image->empty() && detects_colour_as_grey(format)) {
        colour_detection_image(frame, format, area, *image, images.colour);
        image = &images.colour.colour;
    }
    // Bottom-up frames (Windows capture devices, "Flip Vertically") are
    // searched the right way up: the networks miss faces upside down.
    if (frame.flip && !image->empty()) {
        cv::flip(*image, *image, 0);
    }
    return *image;
}

} // namespace veilcam
