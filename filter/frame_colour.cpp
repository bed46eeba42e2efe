#include "filter/frame_colour.hpp"

#include <opencv2/core.hpp>

#include <algorithm>
#include <cmath>

namespace veilcam {
namespace {

// Red, green and blue (0 to 1) to luma and chroma (0 to 1 of the sample's
// range) by BT.709 at limited range: what HD cameras send untagged.
constexpr double kLuma = 219.0 / 255, kChroma = 224.0 / 255, kMid = 128.0 / 255;
// clang-format off
const cv::Matx44d kBt709Limited(
    kLuma * 0.2126,             kLuma * 0.7152,             kLuma * 0.0722,             16.0 / 255,
    kChroma * -0.2126 / 1.8556, kChroma * -0.7152 / 1.8556, kChroma * 0.9278 / 1.8556,  kMid,
    kChroma * 0.7874 / 1.5748,  kChroma * -0.7152 / 1.5748, kChroma * -0.0722 / 1.5748, kMid,
    0,                          0,                          0,                          1);
// clang-format on

// The inverse of the matrix libobs turns the frame's luma and chroma into
// red, green and blue with; a frame without one (all zeros) gets BT.709.
cv::Matx44d rgb_to_yuv(const obs_source_frame& frame) {
    cv::Matx44d yuv_to_rgb;
    for (int i = 0; i < 16; ++i) {
        yuv_to_rgb.val[i] = frame.color_matrix[i];
    }
    const double turn = cv::determinant(yuv_to_rgb.get_minor<3, 3>(0, 0));
    const bool affine = yuv_to_rgb(3, 0) == 0 && yuv_to_rgb(3, 1) == 0 && yuv_to_rgb(3, 2) == 0 &&
                        yuv_to_rgb(3, 3) == 1;
    if (!affine || !std::isfinite(turn) || std::abs(turn) < 1e-6) {
        return kBt709Limited;
    }
    return yuv_to_rgb.inv();
}

} // namespace

cv::Vec3d stored_colour_rgb(uint32_t stored) {
    return {static_cast<double>(stored & 0xFF), static_cast<double>((stored >> 8) & 0xFF),
            static_cast<double>((stored >> 16) & 0xFF)};
}

ComponentLevels frame_colour(const cv::Vec3d& rgb, const FrameFormat& format,
                             const obs_source_frame& frame) {
    const double full = 255.0 * format.samples.level_scale;
    const cv::Vec4d yuv =
        rgb_to_yuv(frame) * cv::Vec4d(rgb[0] / 255, rgb[1] / 255, rgb[2] / 255, 1);
    ComponentLevels levels{};
    auto set = [&](Component c, double share) {
        levels[static_cast<size_t>(c)] = std::clamp(share, 0.0, 1.0) * full;
    };
    set(Component::Y, yuv[0]);
    set(Component::U, yuv[1]);
    set(Component::V, yuv[2]);
    set(Component::R, rgb[0] / 255);
    set(Component::G, rgb[1] / 255);
    set(Component::B, rgb[2] / 255);
    set(Component::A, 1);
    set(Component::X, 1);
    return levels;
}

} // namespace veilcam
