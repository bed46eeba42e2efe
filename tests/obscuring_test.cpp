#include "filter/region_obscuring.hpp"
#include "support/test_filter.hpp"

#include <gtest/gtest.h>
#include <opencv2/imgproc.hpp>

namespace veilcam {
namespace {

using test::TestFilter;

// A plane of varied bytes, so that any change shows.
cv::Mat noise_plane(int width, int height, int channels, uint64_t seed = 7) {
    cv::Mat plane(height, width, CV_8UC(channels));
    cv::RNG rng(seed);
    rng.fill(plane, cv::RNG::UNIFORM, 0, 256);
    return plane;
}

void obscure(TestFilter& filter, cv::Mat& plane, const cv::Rect& rect) {
    obscure_region(filter.instance(), plane.data, static_cast<uint32_t>(plane.step), plane.cols,
                   plane.rows, plane.channels(), rect);
}

int changed_pixels(const cv::Mat& a, const cv::Mat& b) {
    cv::Mat diff;
    cv::absdiff(a, b, diff);
    return cv::countNonZero(diff.reshape(1));
}

TEST(PaddedFaceRect, WidensByPaddingAndCutsToTheFrame) {
    struct Case {
        cv::Rect2f box;
        float padding;
        cv::Rect expected;
    };
    const Case cases[] = {
        {{100, 100, 40, 40}, 35.0f, {86, 86, 68, 68}},
        {{100.5f, 100.5f, 40, 40}, 0.0f, {100, 100, 40, 40}},
        {{100, 100, 41, 41}, 10.0f, {95, 95, 50, 50}},
        {{0, 0, 40, 40}, 35.0f, {0, 0, 54, 54}},
        {{620, 340, 40, 40}, 35.0f, {606, 326, 34, 34}},
        {{100, 100, 40, 40}, -50.0f, {0, 0, 0, 0}},
        {{1000, 1000, 40, 40}, 35.0f, {0, 0, 0, 0}},
        {{100, 100, 40, 40}, 1e30f, {0, 0, 640, 360}},
    };
    obs_source_frame frame{};
    frame.width = 640;
    frame.height = 360;
    for (const Case& c : cases) {
        TestFilter filter(
            [&](obs_data_t* s) { obs_data_set_double(s, "padding_percent", c.padding); });
        const FaceTrack track{1, c.box, 0};
        EXPECT_EQ(padded_face_rect(filter.instance(), track, frame), c.expected)
            << "box " << c.box << " padding " << c.padding;
    }
}

TEST(Pixelation, BlocksArePixelSizeSquareFromTheRegionCorner) {
    TestFilter filter; // pixel size 20
    cv::Mat plane = noise_plane(200, 120, 1);
    const cv::Mat before = plane.clone();
    obscure(filter, plane, {30, 20, 100, 60});
    for (int by = 0; by < 3; ++by) {
        for (int bx = 0; bx < 5; ++bx) {
            const cv::Rect block(30 + 20 * bx, 20 + 20 * by, 20, 20);
            const double mean = cv::mean(before(block))[0];
            double lo = 0, hi = 0;
            cv::minMaxLoc(plane(block), &lo, &hi);
            EXPECT_EQ(lo, hi) << "block " << bx << "," << by << " is flat";
            EXPECT_NEAR(lo, mean, 0.51);
        }
    }
    plane(cv::Rect(30, 20, 100, 60)).copyTo(before(cv::Rect(30, 20, 100, 60)));
    EXPECT_EQ(changed_pixels(plane, before), 0) << "nothing outside the region changes";
}

TEST(Pixelation, MatchesOpenCvAreaThenNearestResize) {
    TestFilter filter([](obs_data_t* s) { obs_data_set_int(s, "pixel_size", 16); });
    for (const int channels : {1, 2, 3, 4}) {
        for (const cv::Size size : {cv::Size(96, 64), cv::Size(101, 77), cv::Size(15, 40)}) {
            cv::Mat plane = noise_plane(size.width, size.height, channels);
            cv::Mat expected_small, expected;
            const cv::Size small(std::max(size.width / 16, 1), std::max(size.height / 16, 1));
            cv::resize(plane, expected_small, small, 0, 0, cv::INTER_AREA);
            cv::resize(expected_small, expected, size, 0, 0, cv::INTER_NEAREST);
            obscure(filter, plane, {0, 0, size.width, size.height});
            cv::Mat diff;
            cv::absdiff(plane, expected, diff);
            double worst = 0;
            cv::minMaxLoc(diff.reshape(1), nullptr, &worst);
            if (size.width % small.width == 0 && size.height % small.height == 0) {
                // Same blocks; only a mean that ends in .5 may round the other way.
                EXPECT_LE(worst, 1.0) << size << " x" << channels;
            } else {
                // Uneven blocks: the same grid, means over slightly different areas.
                EXPECT_LT(cv::mean(diff.reshape(1))[0], 4.0) << size << " x" << channels;
            }
        }
    }
}

TEST(ObscureRegion, DegenerateRegionsLeaveThePlaneAlone) {
    struct Case {
        const char* what;
        cv::Rect rect;
    };
    const Case cases[] = {
        {"cut to 2 pixels wide at the right edge", {98, 10, 20, 20}},
        {"cut to 2 pixels high at the bottom edge", {10, 58, 20, 20}},
        {"wholly outside", {200, 200, 20, 20}},
        {"empty", {0, 0, 0, 0}},
        {"2 x 40", {10, 10, 2, 40}},
    };
    for (const int mode : {0, 1}) {
        TestFilter filter([&](obs_data_t* s) { obs_data_set_int(s, "obscure_mode", mode); });
        for (const Case& c : cases) {
            cv::Mat plane = noise_plane(100, 60, 2);
            const cv::Mat before = plane.clone();
            obscure(filter, plane, c.rect);
            EXPECT_EQ(changed_pixels(plane, before), 0) << c.what << ", mode " << mode;
        }
        cv::Mat plane = noise_plane(100, 60, 1);
        obscure_region(filter.instance(), nullptr, 100, 100, 60, 1, {0, 0, 50, 50});
        obscure_region(filter.instance(), plane.data, 100, 0, 60, 1, {0, 0, 50, 50});
    }
}

TEST(Blur, RegionIsReducedToTheTargetSmoothedAndEnlarged) {
    for (const int channels : {1, 2, 3, 4}) {
        TestFilter filter([](obs_data_t* s) {
            obs_data_set_int(s, "obscure_mode", 1);
            obs_data_set_int(s, "blur_radius", 31);
        });
        cv::Mat plane = noise_plane(400, 300, channels);
        const cv::Mat before = plane.clone();
        const cv::Rect region(50, 40, 240, 180);
        obscure(filter, plane, region);

        // The same reduce-smooth-enlarge through OpenCV: target 80 for radius 31.
        cv::Mat small, expected;
        cv::resize(before(region), small, cv::Size(80, 60), 0, 0, cv::INTER_AREA);
        cv::blur(small, small, cv::Size(3, 3), cv::Point(-1, -1), cv::BORDER_REPLICATE);
        cv::resize(small, expected, region.size(), 0, 0, cv::INTER_LINEAR);
        cv::Mat diff;
        cv::absdiff(plane(region), expected, diff);
        double worst = 0;
        cv::minMaxLoc(diff.reshape(1), nullptr, &worst);
        EXPECT_LE(worst, 2.0) << channels << " channels";
        plane(region).copyTo(before(region));
        EXPECT_EQ(changed_pixels(plane, before), 0);
    }
}

TEST(Blur, RadiusSetsTheTargetSize) {
    auto blurred = [](int radius) {
        TestFilter filter([&](obs_data_t* s) {
            obs_data_set_int(s, "obscure_mode", 1);
            obs_data_set_int(s, "blur_radius", radius);
        });
        cv::Mat plane = noise_plane(300, 300, 1, 3);
        obscure(filter, plane, {0, 0, 300, 300});
        return plane;
    };
    EXPECT_EQ(changed_pixels(blurred(31), blurred(33)), 0) << "both target 80";
    EXPECT_GT(changed_pixels(blurred(33), blurred(35)), 0) << "35 targets 79";
    EXPECT_EQ(changed_pixels(blurred(151), blurred(1001)), 0) << "clamped to 151";
}

} // namespace
} // namespace veilcam
