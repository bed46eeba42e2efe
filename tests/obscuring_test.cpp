#include "filter/hiding_modes.hpp"
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

TEST(Pixelation, BlocksAreSquareFromTheViewCornerWithTheirMeansAndFollowTheFace) {
    struct Case {
        const char* what;
        cv::Size view;
        int pixel_size, face_side, block;
    };
    const Case cases[] = {
        {"the region is the face: pixel size", {100, 60}, 20, 100, 20},
        {"a large face: six blocks across", {120, 120}, 2, 120, 20},
        {"a region three times its face: blocks of the face", {300, 180}, 2, 60, 10},
    };
    for (const Case& c : cases) {
        cv::Mat plane = noise_plane(c.view + cv::Size(60, 40), 1);
        const cv::Mat before = plane.clone();
        const cv::Rect area(cv::Point(30, 20), c.view);
        cv::Mat view = plane(area);
        const PlaneComponents grey{Component::Y};
        hiding_mode(kPixelate).hide(view, {style(0, c.pixel_size, 71), c.face_side, grey, {}},
                                    scratch());
        for (int y = 0; y + c.block <= c.view.height; y += c.block) {
            for (int x = 0; x + c.block <= c.view.width; x += c.block) {
                const cv::Rect block(area.x + x, area.y + y, c.block, c.block);
                double lo = 0, hi = 0;
                cv::minMaxLoc(plane(block), &lo, &hi);
                ASSERT_EQ(lo, hi) << c.what << ": block at " << block.tl() << " is flat";
                ASSERT_NEAR(lo, cv::mean(before(block))[0], 0.51) << c.what;
            }
        }
        view.copyTo(before(area));
        EXPECT_EQ(worst_difference(plane, before), 0) << c.what << ": nothing outside changes";
    }
}

} // namespace
} // namespace veilcam
