#include "filter/plane_samples.hpp"

#include "filter/packed_10bit.hpp"
#include "filter/reused_image.hpp"

#include <opencv2/imgproc.hpp>

#include <cstring>
#include <stdexcept>
#include <string>

namespace veilcam {
namespace {

int sample_type(const FrameFormat& format, int plane) {
    return CV_MAKETYPE(format.samples.bytes == 2 ? CV_16U : CV_8U, format.planes[plane].channels);
}

// `area` widened to whole groups of packed pixels.
cv::Rect packed_groups(const FrameFormat& format, const cv::Rect& area) {
    const int group = packed_group_pixels(format.packing);
    const int x0 = area.x / group * group;
    const int x1 = (area.x + area.width + group - 1) / group * group;
    return {x0, area.y, x1 - x0, area.height};
}

// Whether the samples can be used where they are. 16-bit samples whose rows
// start at odd bytes cannot: OpenCV refuses such a step, and reading them
// there would be misaligned. They are copied out and back instead.
bool samples_in_place(const obs_source_frame& frame, const FrameFormat& format, int plane) {
    const auto start = reinterpret_cast<uintptr_t>(frame.data[plane]);
    return (start | frame.linesize[plane]) % static_cast<uintptr_t>(format.samples.bytes) == 0;
}

// Copies `area`'s rows between the plane and `samples`, one way or the other.
void copy_sample_rows(const obs_source_frame& frame, int plane, const cv::Rect& area,
                      cv::Mat& samples, bool to_frame) {
    const size_t pixel_bytes = samples.elemSize();
    for (int y = 0; y < area.height; ++y) {
        uint8_t* row = frame.data[plane] + static_cast<size_t>(area.y + y) * frame.linesize[plane] +
                       static_cast<size_t>(area.x) * pixel_bytes;
        uint8_t* copy = samples.ptr(y);
        std::memcpy(to_frame ? row : copy, to_frame ? copy : row, area.width * pixel_bytes);
    }
}

} // namespace

cv::Mat load_area(const obs_source_frame& frame, const FrameFormat& format, int plane,
                  const cv::Rect& area, cv::Mat& unpacked) {
    if (format.packing == Packing::Samples) {
        if (samples_in_place(frame, format, plane)) {
            const cv::Size size = plane_size(format, plane, static_cast<int>(frame.width),
                                             static_cast<int>(frame.height));
            return cv::Mat(size, sample_type(format, plane), frame.data[plane],
                           frame.linesize[plane])(area);
        }
        cv::Mat samples = reused_image(unpacked, area.size(), sample_type(format, plane));
        copy_sample_rows(frame, plane, area, samples, false);
        return samples;
    }
    const cv::Rect groups = packed_groups(format, area);
    cv::Mat samples = reused_image(unpacked, groups.size(), sample_type(format, plane));
    unpack_area(format.packing, frame.data[plane], frame.linesize[plane], groups, samples);
    return samples(cv::Rect(area.x - groups.x, 0, area.width, area.height));
}

void store_area(obs_source_frame& frame, const FrameFormat& format, int plane, const cv::Rect& area,
                cv::Mat& unpacked) {
    if (format.packing == Packing::Samples) {
        if (!samples_in_place(frame, format, plane)) {
            cv::Mat samples = reused_image(unpacked, area.size(), sample_type(format, plane));
            copy_sample_rows(frame, plane, area, samples, true);
        }
        return;
    }
    const cv::Rect groups = packed_groups(format, area);
    pack_area(format.packing, reused_image(unpacked, groups.size(), sample_type(format, plane)),
              frame.data[plane], frame.linesize[plane], groups);
}

void check_rows(const obs_source_frame& frame, const FrameFormat& format) {
    const int width = static_cast<int>(frame.width);
    for (int plane = 0; plane < format.plane_count; ++plane) {
        const size_t needed = format.packing == Packing::Samples
                                  ? static_cast<size_t>(plane_size(format, plane, width, 1).width) *
                                        format.planes[plane].channels * format.samples.bytes
                                  : packed_row_bytes(format.packing, width);
        if (frame.data[plane] && frame.linesize[plane] < needed) {
            throw std::runtime_error(std::string(format.name) + " plane " + std::to_string(plane) +
                                     " has rows of " + std::to_string(frame.linesize[plane]) +
                                     " bytes; " + std::to_string(needed) + " are needed");
        }
    }
}

void row_levels(const uint8_t* row, const FrameFormat& format, const int* columns, int count,
                uint8_t* levels) {
    if (format.packing != Packing::Samples) {
        packed_row_levels(format.packing, row, columns, count, levels);
        return;
    }
    const int channels = format.planes[0].channels;
    const bool wide = format.samples.bytes == 2;
    // The scales are powers of two: a shift, where a division a pixel cost
    // more than reading it.
    int shift = 0;
    while ((1 << shift) < format.samples.level_scale) {
        ++shift;
    }
    auto sample = [&](int x, int c) {
        const ptrdiff_t at = static_cast<ptrdiff_t>(x) * channels + c;
        if (wide) {
            uint16_t value;
            std::memcpy(&value, row + at * 2, 2);
            return static_cast<int>(value);
        }
        return static_cast<int>(row[at]);
    };
    const int luma = channel_holding(format, 0, Component::Y);
    if (luma >= 0) {
        for (int i = 0; i < count; ++i) {
            levels[i] = static_cast<uint8_t>(sample(columns[i], luma) >> shift);
        }
        return;
    }
    const int red = channel_holding(format, 0, Component::R);
    const int green = channel_holding(format, 0, Component::G);
    const int blue = channel_holding(format, 0, Component::B);
    for (int i = 0; i < count; ++i) {
        const int x = columns[i];
        levels[i] = static_cast<uint8_t>(
            ((sample(x, red) + sample(x, green) + sample(x, blue)) >> shift) / 3);
    }
}

void convert_for_detection(const cv::Mat& samples, const FrameFormat& format, cv::Mat& eight_bit,
                           cv::Mat& image) {
    const cv::Mat* source = &samples;
    if (samples.depth() != CV_8U) {
        samples.convertTo(eight_bit, CV_8U, 1.0 / format.samples.level_scale);
        source = &eight_bit;
    }
    if (format.to_bgr < 0) {
        source->copyTo(image);
    } else {
        cv::cvtColor(*source, image, format.to_bgr);
    }
}

} // namespace veilcam
