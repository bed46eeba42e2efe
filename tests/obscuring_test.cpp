#include "filter/region_obscuring.hpp"

#include <gtest/gtest.h>
#include <opencv2/imgproc.hpp>

namespace veilcam {
namespace {

// A plane of varied bytes, so that any change shows.
cv::Mat noise_plane(cv::Size size, int channels, uint64_t seed = 7) {
    cv::Mat plane(size, CV_8UC(channels));
    cv::RNG rng(seed);
    rng.fill(plane, cv::RNG::UNIFORM, 0, 256);
    return plane;
}

FilterSettings style(int mode, int pixel_size, int blur_radius) {
    FilterSettings s;
    s.obscure_mode = mode;
    s.pixel_size = pixel_size;
    s.blur_radius = blur_radius;
    return s;
}

ResampleScratch& scratch() {
    static ResampleScratch reused;
    return reused;
}

double worst_difference(const cv::Mat& a, const cv::Mat& b) {
    return cv::norm(a.reshape(1), b.reshape(1), cv::NORM_INF);
}

TEST(PlaneRegion, SubsampledPlanesCoverEverySampleTheRegionTouches) {
    const FrameFormat& i420 = *frame_format(VIDEO_FORMAT_I420);
    const FrameFormat& i422 = *frame_format(VIDEO_FORMAT_I422);
    struct Case {
        const FrameFormat& format;
        int plane;
        cv::Rect region, expected;
    };
    const Case cases[] = {
        {i420, 0, {11, 7, 20, 9}, {11, 7, 20, 9}}, {i420, 1, {10, 6, 20, 10}, {5, 3, 10, 5}},
        {i420, 1, {11, 7, 20, 9}, {5, 3, 11, 5}},  {i420, 2, {11, 7, 21, 10}, {5, 3, 11, 6}},
        {i422, 1, {11, 7, 21, 9}, {5, 7, 11, 9}},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(plane_region(c.format, c.plane, c.region), c.expected)
            << c.format.name << " plane " << c.plane << " " << c.region;
    }
}

TEST(Pixelation, BlocksArePixelSizeSquareFromTheViewCornerWithTheirMeans) {
    cv::Mat plane = noise_plane({200, 120}, 1);
    const cv::Mat before = plane.clone();
    cv::Mat view = plane(cv::Rect(30, 20, 100, 60));
    obscure_view(view, style(0, 20, 71), scratch());
    for (int by = 0; by < 3; ++by) {
        for (int bx = 0; bx < 5; ++bx) {
            const cv::Rect block(30 + 20 * bx, 20 + 20 * by, 20, 20);
            double lo = 0, hi = 0;
            cv::minMaxLoc(plane(block), &lo, &hi);
            EXPECT_EQ(lo, hi) << "block " << bx << "," << by << " is flat";
            EXPECT_NEAR(lo, cv::mean(before(block))[0], 0.51);
        }
    }
    view.copyTo(before(cv::Rect(30, 20, 100, 60)));
    EXPECT_EQ(worst_difference(plane, before), 0) << "nothing outside the view changes";
}

} // namespace
} // namespace veilcam
