#include "filter/frame_formats.hpp"
#include "filter/hiding_modes.hpp"
#include "filter/region_obscuring.hpp"
#include "support/frames.hpp"

#include <gtest/gtest.h>
#include <opencv2/imgproc.hpp>

namespace veilcam {
namespace {

// A plane of varied bytes, so that any change shows.
cv::Mat noise_plane(cv::Size size, int channels, uint64_t seed = 7, int depth = CV_8U) {
    cv::Mat plane(size, CV_MAKETYPE(depth, channels));
    cv::RNG rng(seed);
    rng.fill(plane, cv::RNG::UNIFORM, 0, depth == CV_16U ? 65536 : 256);
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

double sample(const cv::Mat& plane, int x, int y, int channel) {
    const int at = x * plane.channels() + channel;
    return plane.depth() == CV_16U ? plane.ptr<uint16_t>(y)[at] : plane.ptr<uint8_t>(y)[at];
}

TEST(Pixelation, BlocksAreSquareFromTheViewCornerWithTheirMeansAndFollowTheFace) {
    struct Case {
        const char* what;
        cv::Size view;
        int pixel_size, face_side, block;
        int depth = CV_8U;
        bool pairs = false; // packed 4:2:2: luma, then U and V in turn
    };
    const Case cases[] = {
        {"the region is the face: pixel size", {100, 60}, 20, 100, 20},
        {"a large face: six blocks across", {120, 120}, 2, 120, 20},
        {"a region three times its face: blocks of the face", {300, 180}, 2, 60, 10},
        {"blocks of an odd number of rows", {105, 63}, 21, 105, 21},
        {"blocks taller than 16-bit sums hold", {300, 300}, 2, 1800, 300},
        {"16-bit samples", {100, 60}, 20, 100, 20, CV_16U},
        {"packed 4:2:2: U and V in blocks apart", {100, 60}, 10, 60, 10, CV_8U, true},
    };
    for (const Case& c : cases) {
        cv::Mat plane = noise_plane(c.view + cv::Size(60, 40), c.pairs ? 2 : 1, 7, c.depth);
        const cv::Mat before = plane.clone();
        const cv::Rect area(cv::Point(30, 20), c.view);
        cv::Mat view = plane(area);
        const PlaneComponents held =
            c.pairs ? PlaneComponents{Component::Y, Component::UV} : PlaneComponents{Component::Y};
        hiding_mode(kPixelate).hide(view, {style(0, c.pixel_size, 71), c.face_side, held, {}},
                                    scratch());
        // A block is `block` samples of one component each way: of every
        // pixel, or of every other pixel from `first` where two take turns.
        for (int channel = 0; channel < plane.channels(); ++channel) {
            const int step = c.pairs && channel == 1 ? 2 : 1;
            for (int first = 0; first < step; ++first) {
                for (int y = 0; y + c.block <= c.view.height; y += c.block) {
                    for (int k = 0; (k + c.block) * step <= c.view.width; k += c.block) {
                        double lo = 1e9, hi = -1, mean = 0;
                        for (int dy = 0; dy < c.block; ++dy) {
                            for (int dk = 0; dk < c.block; ++dk) {
                                const int x = area.x + first + (k + dk) * step;
                                const double now = sample(plane, x, area.y + y + dy, channel);
                                lo = std::min(lo, now);
                                hi = std::max(hi, now);
                                mean += sample(before, x, area.y + y + dy, channel);
                            }
                        }
                        const std::string block = std::string(c.what) + ": block " +
                                                  std::to_string(k) + "," + std::to_string(y) +
                                                  " of channel " + std::to_string(channel);
                        ASSERT_EQ(lo, hi) << block << " is flat";
                        ASSERT_NEAR(lo, mean / (c.block * c.block), 0.51) << block;
                    }
                }
            }
        }
        view.copyTo(before(area));
        EXPECT_EQ(worst_difference(plane, before), 0) << c.what << ": nothing outside changes";
    }
}

// A face is hidden within an oval: every sample whose middle lies inside it
// changes, in every plane, whatever the sample's share of frame pixels,
// pixelated or blurred (blurring takes packed samples apart). The picture is
// a checkerboard of blue and yellow cells of 2x2 pixels, which every block's
// mean changes in every component, the chroma of 4:2:0 too.
TEST(Ovals, EverySampleWhoseMiddleIsInsideIsHidden) {
    struct Case {
        video_format format;
        int chroma_across, chroma_down; // frame pixels to a chroma sample
    };
    const Case cases[] = {{VIDEO_FORMAT_I444, 1, 1},
                          {VIDEO_FORMAT_YUY2, 2, 1},
                          {VIDEO_FORMAT_NV12, 2, 2},
                          {VIDEO_FORMAT_V210, 2, 1},
                          {VIDEO_FORMAT_R10L, 1, 1}};
    cv::Mat cells(120, 160, CV_8UC3);
    for (int y = 0; y < cells.rows; ++y) {
        for (int x = 0; x < cells.cols; ++x) {
            cells.at<cv::Vec3b>(y, x) =
                (x / 2 + y / 2) % 2 ? cv::Vec3b(255, 0, 0) : cv::Vec3b(0, 255, 255);
        }
    }
    FaceRegion face;
    face.region = cv::Rect(31, 17, 98, 82);
    face.face_side = 98;
    // The second oval moves less than a pixel within the same region, as a
    // face's does from frame to frame; the third moves and keeps its size.
    const cv::Rect2f ovals[] = {
        {31.3f, 17.6f, 96.5f, 80.2f}, {32.1f, 17.1f, 96.5f, 80.9f}, {31.3f, 17.8f, 96.5f, 80.9f}};
    for (const Case& c : cases) {
        RegionScratch reused;
        for (const cv::Rect2f& oval : ovals) {
            for (const int mode : {kPixelate, kBlur}) {
                const test::TestFrame before = test::make_frame(cells, c.format);
                test::TestFrame frame = before;
                face.oval = oval;
                obscure_frame(frame.frame, *frame_format(c.format), {face}, style(mode, 16, 20),
                              reused);
                const cv::Point2f middle(oval.x + oval.width / 2, oval.y + oval.height / 2);
                int shown = 0;
                for (int y = 0; y < cells.rows; ++y) {
                    for (int x = 0; x < cells.cols; ++x) {
                        for (int component = 0; component < 3; ++component) {
                            const int across = component == 0 ? 1 : c.chroma_across;
                            const int down = component == 0 ? 1 : c.chroma_down;
                            const float dx = ((x / across + 0.5f) * across - middle.x) / oval.width;
                            const float dy = ((y / down + 0.5f) * down - middle.y) / oval.height;
                            const bool inside = dx * dx + dy * dy < 0.25f;
                            shown += inside && test::sample_at(frame, component, x, y) ==
                                                   test::sample_at(before, component, x, y);
                        }
                    }
                }
                EXPECT_EQ(shown, 0) << get_video_format_name(c.format) << ", oval " << oval
                                    << (mode == kBlur ? ", blurred" : ", pixelated");
            }
        }
    }
}

} // namespace
} // namespace veilcam
