#include "filter/detection_colour.hpp"

#include "filter/plane_samples.hpp"
#include "filter/region_obscuring.hpp"
#include "filter/reused_image.hpp"

#include <opencv2/imgproc.hpp>

namespace veilcam {
namespace {

// A plane's samples resized to `size` at 8 bits, into `out`.
void resized_to_8_bits(const cv::Mat& samples, cv::Size size, int level_scale, cv::Mat& resized,
                       cv::Mat& out) {
    cv::resize(samples, resized, size, 0, 0, cv::INTER_AREA);
    resized.convertTo(out, CV_8U, 1.0 / level_scale);
}

cv::Mat plane_area(const obs_source_frame& frame, const FrameFormat& format, int plane,
                   const cv::Rect& area, cv::Mat& unpacked) {
    const cv::Size size =
        plane_size(format, plane, static_cast<int>(frame.width), static_cast<int>(frame.height));
    return load_area(frame, format, plane,
                     plane_region(format, plane, area) & cv::Rect(cv::Point(), size), unpacked);
}

} // namespace

bool detects_colour_as_grey(const FrameFormat& format) {
    const bool grey = format.to_bgr < 0 && format.planes[0].channels != 3;
    const bool chroma = channel_holding(format, 0, Component::U) >= 0 ||
                        alternates_chroma(format, 0) ||
                        (format.plane_count > 1 && channel_holding(format, 1, Component::U) >= 0);
    return grey && chroma;
}

void colour_detection_image(const obs_source_frame& frame, const FrameFormat& format,
                            const cv::Rect& area, const cv::Mat& grey, ColourImages& images) {
    const cv::Size size = grey.size();
    const int level = format.samples.level_scale;
    cv::Mat yuv = reused_image(images.yuv, size, CV_8UC3);
    if (channel_holding(format, 0, Component::U) >= 0) {
        // Luma and chroma at every pixel of plane 0 (AYUV).
        resized_to_8_bits(plane_area(frame, format, 0, area, images.unpacked), size, level,
                          images.resized, images.chroma[0]);
        const int from_to[] = {channel_holding(format, 0, Component::Y), 0,
                               channel_holding(format, 0, Component::U), 1,
                               channel_holding(format, 0, Component::V), 2};
        cv::mixChannels(&images.chroma[0], 1, &yuv, 1, from_to, 3);
    } else {
        int chroma_images = 2;
        if (alternates_chroma(format, 0)) {
            // Packed 4:2:2: a pixel pair is four samples, luma, U, luma and V
            // in some order; U and V are taken apart at half the width.
            const cv::Mat plane0 = plane_area(frame, format, 0, area, images.unpacked);
            const cv::Mat pairs = plane0.colRange(0, plane0.cols & ~1).reshape(4);
            const int uv = channel_holding(format, 0, Component::UV);
            const int u = uv >= 0 ? uv : 2 + channel_holding(format, 0, Component::VU);
            for (int c = 0; c < 2; ++c) {
                cv::extractChannel(pairs, images.pair_chroma, (u + 2 * c) % 4);
                resized_to_8_bits(images.pair_chroma, size, level, images.resized,
                                  images.chroma[c]);
            }
        } else {
            // Chroma in one plane of pairs (NV12, P010, ...) or in two planes.
            chroma_images = channel_holding(format, 1, Component::V) >= 0 ? 1 : 2;
            for (int c = 0; c < chroma_images; ++c) {
                resized_to_8_bits(plane_area(frame, format, 1 + c, area, images.unpacked), size,
                                  level, images.resized, images.chroma[c]);
            }
        }
        const cv::Mat sources[] = {grey, images.chroma[0], images.chroma[1]};
        const int from_to[] = {0, 0, 1, 1, 2, 2};
        cv::mixChannels(sources, 1 + chroma_images, &yuv, 1, from_to, 3);
    }
    cv::cvtColor(yuv, images.colour, cv::COLOR_YUV2BGR);
}

} // namespace veilcam
