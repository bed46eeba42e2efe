#include "filter/region_obscuring.hpp"

#include "filter/hiding_modes.hpp"
#include "filter/oval_spans.hpp"
#include "filter/packed_10bit.hpp"
#include "filter/pair_components.hpp"
#include "filter/plane_samples.hpp"
#include "filter/reused_image.hpp"
#include "tracking/box_geometry.hpp"

#include <opencv2/core.hpp>

#include <algorithm>
#include <array>
#include <cmath>

namespace veilcam {
namespace {

constexpr int kMinRegionSide = 3;

// A face's longer side in samples of `plane`.
int plane_side(const FrameFormat& format, int plane, int side) {
    const cv::Size size = plane_size(format, plane, side, side);
    return std::max(size.width, size.height);
}

bool holds(const cv::Rect2f& oval, cv::Point2f p) {
    const cv::Point2f off = p - box_middle(oval);
    const float ax = oval.width / 2, ay = oval.height / 2;
    return off.x * off.x * ay * ay + off.y * off.y * ax * ax <= ax * ax * ay * ay;
}

bool holds(const cv::Rect2f& oval, const cv::Rect& r) {
    return holds(oval, cv::Point2f(r.tl())) && holds(oval, cv::Point2f(r.br())) &&
           holds(oval, cv::Point2f(static_cast<float>(r.x), static_cast<float>(r.br().y))) &&
           holds(oval, cv::Point2f(static_cast<float>(r.br().x), static_cast<float>(r.y)));
}

// Hides each colour component of `view` (plane pixels from `left` on) on
// its own, writing only the samples `written` lets it: in packed 4:2:2 the
// luma, the U and the V samples apart, as a planar 4:2:2 frame's planes are,
// so that no block or blur mixes U with V (a face turned grey or lavender on
// the most common camera format), taken apart unless `hide` keeps them
// apart as they lie. Packed 4:2:2 holds no alpha.
template <typename Hide>
void hide_components(cv::Mat& view, const FrameFormat& format, int plane, int left,
                     const WrittenSamples& written, bool pairs_as_they_lie, RegionScratch& scratch,
                     Hide hide) {
    const PlaneComponents& held = format.components[plane];
    if (pairs_as_they_lie || !alternates_chroma(format, plane)) {
        hide(view, held, written);
        return;
    }
    const RowSpans* spans = written.spans;
    const int single = CV_MAKETYPE(view.depth(), 1);
    const int luma_channel = channel_holding(format, plane, Component::Y);
    const int chroma_channel = 1 - luma_channel;
    cv::Mat luma = reused_image(scratch.luma, view.size(), single);
    std::array<cv::Mat, 2> chroma{
        reused_image(scratch.chroma[0], {(view.cols + 1) / 2, view.rows}, single),
        reused_image(scratch.chroma[1], {view.cols / 2, view.rows}, single)};
    move_pair_components(view, luma_channel, luma, chroma, PairMove::split);
    hide(luma, PlaneComponents{Component::Y}, WrittenSamples{spans});
    // The view's first pixel holds the first component of the pair when it
    // is an even pixel of the frame.
    const bool u_first = (held[chroma_channel] == Component::UV) == ((left & 1) == 0);
    const std::array<PlaneComponents, 2> parts{
        PlaneComponents{u_first ? Component::U : Component::V},
        PlaneComponents{u_first ? Component::V : Component::U}};
    for (int i = 0; i < 2; ++i) {
        if (!chroma[i].empty()) {
            if (spans) {
                chroma_spans(*spans, i, scratch.chroma_spans);
            }
            hide(chroma[i], parts[i], WrittenSamples{spans ? &scratch.chroma_spans : nullptr});
        }
    }
    // Every sample goes back; those outside the spans as they were.
    move_pair_components(view, luma_channel, luma, chroma, PairMove::join);
}

// Pixelates `area` (plane pixels) of a packed 10-bit plane in its own
// words, within `spans` where given: each band's column sums are taken from
// the words as they lie and its block means packed once, so that the area is
// never unpacked and packed back whole (two thirds of hiding such a frame).
void pixelate_packed(obs_source_frame& frame, const FrameFormat& format, int plane,
                     const cv::Rect& area, int pixel_size, const RowSpans* spans,
                     RegionScratch& scratch) {
    const int group = packed_group_pixels(format.packing);
    const int x0 = area.x / group * group;
    const int channels = format.planes[plane].channels;
    const int offset = (area.x - x0) * channels; // samples before the area
    const int words =
        static_cast<int>(packed_row_bytes(format.packing, area.x + area.width - x0) / 4);
    const size_t skipped = packed_row_bytes(format.packing, x0);
    PackedBand& band = scratch.packed_band;
    band.block_row.resize(static_cast<size_t>(words) * 3);
    band.words.resize(static_cast<size_t>(words));
    uint8_t* const data = frame.data[plane];
    const size_t linesize = frame.linesize[plane];
    const int bands = pixel_bands(area.height, pixel_size);
    for (int j = 0; j < bands; ++j) {
        const cv::Range rows = pixel_band(j, bands, area.height);
        sum_packed_rows(format.packing, data, linesize, area.y + rows.start, area.y + rows.end,
                        skipped, words, band.sums);
        band_block_means(band.sums.data() + offset, area.width, channels, pixel_size,
                         paired_chroma_channel(format.components[plane]), rows.size(),
                         band.block_row.data() + offset);
        pack_words(format.packing, band.block_row.data(), words, band.words.data());
        for (int y = rows.start; y < rows.end; ++y) {
            const cv::Range columns = spans ? (*spans)[y] : cv::Range(0, area.width);
            write_packed_samples(format.packing, band.words.data(),
                                 offset + columns.start * channels, offset + columns.end * channels,
                                 data + static_cast<size_t>(area.y + y) * linesize + skipped);
        }
    }
}

// Hides `area` of one plane with `hide`, within `oval` where one is given:
// alpha is left as it is, and samples that sit in the high bits get their
// unused low bits cleared again. Where the way hides in flat blocks of
// `pixel_block` samples (0 for other ways), they are made on the samples as
// they lie.
template <typename Hide>
void obscure_area(obs_source_frame& frame, const FrameFormat& format, int plane,
                  const cv::Rect& area, const cv::Rect2f* oval, int pixel_block,
                  RegionScratch& scratch, Hide hide) {
    // An alpha plane is left as it is.
    if (format.components[plane][0] == Component::A || !frame.data[plane] || area.empty()) {
        return;
    }
    const RowSpans* spans = oval ? &scratch.spans.of(format, plane, area, *oval) : nullptr;
    if (pixel_block > 0 && format.packing != Packing::Samples) {
        pixelate_packed(frame, format, plane, area, pixel_block, spans, scratch);
        return;
    }
    cv::Mat view = load_area(frame, format, plane, area, scratch.unpacked);
    const int alpha = plane == 0 ? channel_holding(format, 0, Component::A) : -1;
    hide_components(view, format, plane, area.x,
                    WrittenSamples{spans, alpha, format.samples.level_bits()}, pixel_block > 0,
                    scratch, hide);
    store_area(frame, format, plane, area, scratch.unpacked);
}

} // namespace

void obscure_frame(obs_source_frame& frame, const FrameFormat& format,
                   const std::vector<FaceRegion>& faces, const FilterSettings& settings,
                   RegionScratch& scratch) {
    const cv::Size size(static_cast<int>(frame.width), static_cast<int>(frame.height));
    const HidingMode& mode = hiding_mode(settings.obscure_mode);
    const ComponentLevels colour =
        frame_colour(stored_colour_rgb(settings.solid_colour), format, frame);
    scratch.spans.start_frame();
    for (const FaceRegion& face : faces) {
        if (!face.hidden) {
            continue;
        }
        // An oval that is no number, or that holds the whole region, leaves
        // nothing to put back.
        const cv::Rect2f& oval = face.oval;
        const bool whole_region = !std::isfinite(oval.x + oval.y + oval.width + oval.height) ||
                                  oval.empty() || holds(oval, face.region) ||
                                  std::min(face.region.width, face.region.height) <
                                      mode.least_oval_side(settings, std::max(face.face_side, 1));
        for (int plane = 0; plane < format.plane_count; ++plane) {
            const cv::Rect whole(cv::Point(), plane_size(format, plane, size.width, size.height));
            const cv::Rect area = plane_region(format, plane, face.region) & whole;
            if (area.width < kMinRegionSide || area.height < kMinRegionSide) {
                continue;
            }
            const int side = std::max(plane_side(format, plane, face.face_side), 1);
            obscure_area(
                frame, format, plane, area, whole_region ? nullptr : &oval,
                mode.block_side ? mode.block_side(settings, side) : 0, scratch,
                [&](cv::Mat& view, const PlaneComponents& held, const WrittenSamples& written) {
                    if (view.cols >= kMinRegionSide && view.rows >= kMinRegionSide) {
                        mode.hide(view, {settings, side, held, colour, written}, scratch.resample);
                    }
                });
        }
    }
}

void obscure_whole_frame(obs_source_frame& frame, const FrameFormat& format, int32_t pixel_size,
                         RegionScratch& scratch) {
    // A face may fill the picture's height: no more blocks across it than
    // across any hidden face.
    for (int plane = 0; plane < format.plane_count; ++plane) {
        const cv::Size size = plane_size(format, plane, static_cast<int>(frame.width),
                                         static_cast<int>(frame.height));
        const int block = std::max({pixel_size >> format.planes[plane].x_shift,
                                    (size.height + kMostBlocksAcross - 1) / kMostBlocksAcross, 2});
        obscure_area(
            frame, format, plane, cv::Rect(cv::Point(), size), nullptr, block, scratch,
            [&](cv::Mat& view, const PlaneComponents& held, const WrittenSamples& written) {
                pixelate_view(view, block, scratch.resample, written, paired_chroma_channel(held));
            });
    }
}

} // namespace veilcam
