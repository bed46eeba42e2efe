#include "filter/detection_image.hpp"
#include "filter/frame_pipeline.hpp"
#include "filter/region_obscuring.hpp"
#include "plugin/filter_callbacks.hpp"
#include "support/frames.hpp"
#include "support/log_capture.hpp"
#include "support/samples.hpp"
#include "support/test_filter.hpp"

#include <gtest/gtest.h>
#include <opencv2/imgproc.hpp>

#include <cmath>
#include <utility>
#include <vector>

namespace veilcam {
namespace {

using test::TestFilter;
using test::TestFrame;

// The frame regions the filter hides at its latest frame.
std::vector<cv::Rect> hidden_regions(FilterInstance& instance) {
    std::vector<cv::Rect> regions;
    for (const FaceRegion& face : instance.face_regions) {
        if (face.hidden) {
            regions.push_back(face.region);
        }
    }
    return regions;
}

// The labelled faces with a colour pattern laid over them at their own
// brightness, so that every plane has samples to hide, chroma included.
cv::Mat colour_textured(const test::LabelledPhoto& photo) {
    cv::Mat ycrcb;
    cv::cvtColor(photo.image, ycrcb, cv::COLOR_BGR2YCrCb);
    for (const cv::Rect& face : photo.faces) {
        for (int y = face.y; y < face.br().y; ++y) {
            for (int x = face.x; x < face.br().x; ++x) {
                cv::Vec3b& pixel = ycrcb.at<cv::Vec3b>(y, x);
                pixel[1] = cv::saturate_cast<uchar>(pixel[1] + ((x / 4 + y / 4) % 2 ? 20 : -20));
                pixel[2] = cv::saturate_cast<uchar>(pixel[2] + (x / 4 % 2 ? 20 : -20));
            }
        }
    }
    cv::Mat bgr;
    cv::cvtColor(ycrcb, bgr, cv::COLOR_YCrCb2BGR);
    return bgr;
}

// Every picture format OBS Studio 32 hands a filter: what cameras, capture
// cards and media sources deliver. Written here, so that a format dropped
// from the filter's table fails instead of going untested.
const video_format kDeliveredFormats[] = {
    VIDEO_FORMAT_I420, VIDEO_FORMAT_NV12, VIDEO_FORMAT_YVYU, VIDEO_FORMAT_YUY2, VIDEO_FORMAT_UYVY,
    VIDEO_FORMAT_RGBA, VIDEO_FORMAT_BGRA, VIDEO_FORMAT_BGRX, VIDEO_FORMAT_Y800, VIDEO_FORMAT_I444,
    VIDEO_FORMAT_BGR3, VIDEO_FORMAT_I422, VIDEO_FORMAT_I40A, VIDEO_FORMAT_I42A, VIDEO_FORMAT_YUVA,
    VIDEO_FORMAT_AYUV, VIDEO_FORMAT_I010, VIDEO_FORMAT_P010, VIDEO_FORMAT_I210, VIDEO_FORMAT_I412,
    VIDEO_FORMAT_YA2L, VIDEO_FORMAT_P216, VIDEO_FORMAT_P416, VIDEO_FORMAT_V210, VIDEO_FORMAT_R10L,
};

class EveryFormat : public ::testing::TestWithParam<video_format> {};

TEST_P(EveryFormat, HidesEveryLabelledFaceAndTouchesNothingElse) {
    const FrameFormat* format = frame_format(GetParam());
    ASSERT_NE(format, nullptr) << get_video_format_name(GetParam()) << " is not taken";
    struct Mode {
        int obscure_mode;
        int blur_radius;
        const char* name;
    };
    for (const Mode mode : {Mode{0, 70, "pixelated"}, Mode{1, 151, "blurred"}}) {
        for (const test::LabelledPhoto& photo : test::labelled_photos()) {
            TestFilter filter([&](obs_data_t* s) {
                obs_data_set_int(s, "obscure_mode", mode.obscure_mode);
                obs_data_set_int(s, "blur_radius", mode.blur_radius);
            });
            // Rows of 16-bit samples padded by an odd number of bytes, as
            // some sources hand them over.
            const int padding = test::sample_depth(format->format) > 8 ? 25 : 24;
            const TestFrame original =
                test::make_frame(colour_textured(photo), format->format, padding);
            TestFrame frame = original;
            ASSERT_EQ(filter.run(frame), &frame.frame);

            const std::string where = photo.file + " " + mode.name;
            for (const cv::Rect& face : photo.faces) {
                EXPECT_LT(test::unchanged_share(original, frame, face), 0.25)
                    << where << ", face " << face;
            }
            for (int plane = 0; plane < frame.plane_count; ++plane) {
                EXPECT_EQ(test::changed_bytes_outside(original, frame, plane,
                                                      hidden_regions(filter.instance())),
                          0)
                    << where << ", plane " << plane;
            }
            int alpha_changed = 0;
            for (int y = 0; y < static_cast<int>(frame.frame.height); ++y) {
                for (int x = 0; x < static_cast<int>(frame.frame.width); ++x) {
                    alpha_changed +=
                        test::sample_at(frame, 3, x, y) != test::sample_at(original, 3, x, y);
                }
            }
            EXPECT_EQ(alpha_changed, 0) << where;
            EXPECT_EQ(test::misplaced_bits(frame), 0) << where;
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Formats, EveryFormat, ::testing::ValuesIn(kDeliveredFormats),
                         [](const auto& info) {
                             return std::string(get_video_format_name(info.param));
                         });

// Between passes a still face is followed by the picture's detail around
// it. In a dim room that detail is faint, and it is the luma's: a format
// whose colour samples were mixed in lost it, and its faces' regions swelled
// as if they could not be seen (AYUV to 11 times the faces' area, packed
// 4:2:2 to 7), hiding much more of the picture than in planar formats.
TEST_P(EveryFormat, AStillFaceBetweenPassesStaysHiddenInATightRegion) {
    const FrameFormat* format = frame_format(GetParam());
    ASSERT_NE(format, nullptr) << get_video_format_name(GetParam()) << " is not taken";
    for (const test::LabelledPhoto& photo : test::labelled_photos()) {
        TestFilter filter([](obs_data_t* s) { obs_data_set_int(s, "detection_interval", 15); });
        // Three times as large, at three tenths of the contrast.
        cv::Mat dim;
        cv::resize(photo.image, dim, {}, 3, 3, cv::INTER_LINEAR);
        dim.convertTo(dim, -1, 0.3, 0.7 * 128);
        const TestFrame original = test::make_frame(dim, format->format);
        double faces = 0;
        for (const cv::Rect& face : photo.faces) {
            faces += 9.0 * face.area();
        }
        for (int n = 0; n < 15; ++n) {
            TestFrame frame = original;
            filter.run(frame);
            double hidden = 0;
            for (const cv::Rect& region : hidden_regions(filter.instance())) {
                hidden += region.area();
            }
            // About 4 to 5 times where it is followed: a margin, the oval.
            ASSERT_LT(hidden, 5.5 * faces) << photo.file << ", frame " << n;
        }
    }
}

// The frame as the detector reads it, from its samples read here: luma, or
// blue, green and red, at 8 bits.
cv::Mat samples_seen(const TestFrame& frame) {
    const video_format format = frame.frame.format;
    const double to_8_bits = 1.0 / (1 << (test::sample_depth(format) - 8));
    const bool rgb = test::is_rgb(format);
    cv::Mat seen(frame.size(), rgb ? CV_8UC3 : CV_8UC1);
    for (int y = 0; y < seen.rows; ++y) {
        for (int x = 0; x < seen.cols; ++x) {
            for (int c = 0; c < seen.channels(); ++c) {
                // FFmpeg's order is red first.
                const int component = rgb ? 2 - c : 0;
                seen.ptr(y)[x * seen.channels() + c] =
                    cv::saturate_cast<uint8_t>(test::sample_at(frame, component, x, y) * to_8_bits);
            }
        }
    }
    return seen;
}

// Every format is shrunk before it is converted; the detector sees what
// converting the whole frame and then shrinking it showed, whole and in tiles.
TEST_P(EveryFormat, TheDetectionImageIsTheWholeConversionShrunk) {
    const FrameFormat* format = frame_format(GetParam());
    ASSERT_NE(format, nullptr) << get_video_format_name(GetParam()) << " is not taken";
    // Sides that the factors divide: elsewhere a whole factor's blocks and
    // the old shrink's fractional ones drift apart by up to a pixel. A side
    // of two more than fours leaves pixels over after whole vectors.
    cv::Mat photo = test::labelled_photos()[3].image(cv::Rect(0, 0, 492, 372)).clone();
    // White down the right edge, whose last pixels are shrunk one at a time:
    // 10-bit white is 255.75 at 8 bits.
    photo.colRange(photo.cols - 24, photo.cols).setTo(cv::Scalar::all(255));
    const TestFrame frame = test::make_frame(photo, format->format);
    const cv::Mat whole = samples_seen(frame);
    DetectionImages images;
    const std::vector<double> every_scale{0.5, 1.0 / 3, 0.25, 1.0 / 6, 0.37, 1.0 / 40};
    const std::pair<cv::Rect, std::vector<double>> cases[] = {
        {{0, 0, 492, 372}, every_scale},
        {{64, 30, 300, 192}, every_scale},
        {{64, 30, 302, 192}, {0.5}},
    };
    for (const auto& [area, scales] : cases) {
        for (const double scale : scales) {
            const cv::Mat made =
                make_detection_image(frame.frame, *format, area, scale, false, images);
            cv::Mat expected, difference;
            cv::resize(whole(area), expected, made.size(), 0, 0, cv::INTER_AREA);
            cv::absdiff(made, expected, difference);
            EXPECT_LT(cv::mean(difference.reshape(1))[0], 0.6) << area << " at " << scale;
            // Means rounded down, not to the nearest, darken every pixel by
            // half a level on average.
            EXPECT_LT(std::abs(cv::mean(made.reshape(1))[0] - cv::mean(expected.reshape(1))[0]),
                      0.25)
                << area << " at " << scale;
            EXPECT_LE(cv::countNonZero(difference.reshape(1) > 3), difference.total() / 200)
                << area << " at " << scale;
        }
    }
}

// The SCRFD devices see packed 4:2:2 in the colours of planar 4:2:2: each
// pixel pair's U and V, taken apart.
TEST(PackedChroma, ShowsTheColoursOfPlanar422) {
    const cv::Mat photo = test::labelled_photos()[3].image;
    const TestFrame planar = test::make_frame(photo, VIDEO_FORMAT_I422);
    const cv::Rect area(64, 30, 300, 198);
    DetectionImages planar_images, images;
    const cv::Mat expected = make_detection_image(planar.frame, *frame_format(VIDEO_FORMAT_I422),
                                                  area, 0.5, true, planar_images);
    for (const video_format packed :
         {VIDEO_FORMAT_YUY2, VIDEO_FORMAT_UYVY, VIDEO_FORMAT_YVYU, VIDEO_FORMAT_V210}) {
        const TestFrame frame = test::make_frame(photo, packed);
        const cv::Mat made =
            make_detection_image(frame.frame, *frame_format(packed), area, 0.5, true, images);
        ASSERT_EQ(made.type(), CV_8UC3) << get_video_format_name(packed);
        cv::Mat difference;
        cv::absdiff(made, expected, difference);
        // FFmpeg filters packed and planar chroma a little differently.
        EXPECT_LT(cv::mean(difference.reshape(1))[0], 2.0) << get_video_format_name(packed);
    }
}

// The mean of each component (Y, U, V or R, G, B, then alpha) over frame
// region `r`, on the 8-bit scale; -1 for a component the format lacks.
cv::Vec4d component_means(const TestFrame& frame, const cv::Rect& r) {
    const double scale = 1.0 / (1 << (test::sample_depth(frame.frame.format) - 8));
    cv::Vec4d means;
    for (int c = 0; c < 4; ++c) {
        double sum = 0;
        for (int y = r.y; y < r.br().y; ++y) {
            for (int x = r.x; x < r.br().x; ++x) {
                sum += test::sample_at(frame, c, x, y);
            }
        }
        means[c] = sum < 0 ? -1 : sum * scale / r.area();
    }
    return means;
}

// The mean, the lowest and the highest of each colour component over frame
// region `r`, on the 8-bit scale.
struct ComponentRange {
    cv::Vec4d mean;
    cv::Vec3d lowest, highest;
};

ComponentRange component_range(const TestFrame& frame, const cv::Rect& r) {
    const double scale = 1.0 / (1 << (test::sample_depth(frame.frame.format) - 8));
    ComponentRange range{component_means(frame, r), cv::Vec3d::all(1e9), cv::Vec3d::all(-1e9)};
    for (int c = 0; c < 3; ++c) {
        for (int y = r.y; y < r.br().y; ++y) {
            for (int x = r.x; x < r.br().x; ++x) {
                const double level = test::sample_at(frame, c, x, y) * scale;
                range.lowest[c] = std::min(range.lowest[c], level);
                range.highest[c] = std::max(range.highest[c], level);
            }
        }
    }
    return range;
}

// Hiding a face takes away its likeness, not its colours: over a hidden
// region, each component keeps its mean, whatever the format packs together;
// a solid colour is that colour in every sample, in the frame's own matrix.
TEST_P(EveryFormat, HidingKeepsEachColourComponentsMean) {
    const FrameFormat* format = frame_format(GetParam());
    ASSERT_NE(format, nullptr) << get_video_format_name(GetParam()) << " is not taken";
    const test::LabelledPhoto& photo = test::labelled_photos()[0];
    const TestFrame original = test::make_frame(colour_textured(photo), format->format);
    const cv::Rect picture(cv::Point(), original.size());
    // Whole regions on even pixels: no oval puts samples back, and no
    // subsampled chroma reaches outside them.
    std::vector<FaceRegion> faces;
    for (const cv::Rect& face : photo.faces) {
        FaceRegion hidden;
        hidden.region =
            cv::Rect(face.x & ~1, face.y & ~1, (face.width + 3) & ~1, (face.height + 3) & ~1) &
            picture;
        hidden.face_side = std::max(face.width, face.height);
        faces.push_back(hidden);
    }
    struct Way {
        const char* name;
        int mode;
        bool whole_picture;
        double within;           // levels
        bool bt601_full = false; // the frame tagged BT.601 at full range, else untagged
    };
    const Way ways[] = {{"pixelated", 0, false, 1.0},
                        {"blurred", 1, false, 3.0},
                        {"the whole picture pixelated", 0, true, 1.0},
                        {"solid red", 2, false, 1.0},
                        {"solid red, BT.601 full range", 2, false, 1.0, true}};
    for (const Way& way : ways) {
        TestFrame frame = original;
        if (way.bt601_full) {
            video_format_get_parameters_for_format(
                VIDEO_CS_601, VIDEO_RANGE_FULL, format->format, frame.frame.color_matrix,
                frame.frame.color_range_min, frame.frame.color_range_max);
        }
        RegionScratch scratch;
        std::vector<cv::Rect> regions{picture};
        if (way.whole_picture) {
            obscure_whole_frame(frame.frame, *format, 16, scratch);
        } else {
            FilterSettings settings;
            settings.obscure_mode = way.mode;
            settings.blur_radius = 151;
            settings.solid_colour = 0xFF0000FF; // red, as OBS stores it
            // A solid box is tried on regions that start on odd pixels (the
            // chroma of packed pixel pairs half outside them is the outside
            // half's, so their first and last columns are not judged), with
            // ovals that leave the corners, which it fills all the same.
            std::vector<FaceRegion> tried = faces;
            regions.clear();
            for (FaceRegion& face : tried) {
                if (way.mode == 2) {
                    face.region.x |= 1;
                    face.region &= picture;
                    face.oval = cv::Rect2f(face.region);
                    regions.push_back(face.region + cv::Point(1, 0) - cv::Size(2, 0));
                } else {
                    regions.push_back(face.region);
                }
            }
            obscure_frame(frame.frame, *format, tried, settings, scratch);
            std::vector<cv::Rect> hidden;
            for (const FaceRegion& face : tried) {
                hidden.push_back(face.region);
            }
            for (int plane = 0; plane < frame.plane_count; ++plane) {
                EXPECT_EQ(test::changed_bytes_outside(original, frame, plane, hidden), 0)
                    << way.name << ", plane " << plane;
            }
        }
        // Red in Y, U and V by BT.709 at limited range, or by BT.601 at full.
        const cv::Vec3d red = test::is_rgb(format->format) ? cv::Vec3d(255, 0, 0)
                              : way.bt601_full             ? cv::Vec3d(76.2, 85.0, 255.0)
                                                           : cv::Vec3d(62.6, 102.3, 240.0);
        for (const cv::Rect& region : regions) {
            const cv::Vec4d before = component_means(original, region);
            const ComponentRange after = component_range(frame, region);
            EXPECT_EQ(after.mean[3], before[3]) << way.name << ": alpha as it was";
            for (int c = 0; c < 3 && before[c] >= 0; ++c) {
                if (way.mode == 2) {
                    EXPECT_NEAR(after.lowest[c], red[c], way.within)
                        << way.name << ", region " << region << ", component " << c;
                    EXPECT_NEAR(after.highest[c], red[c], way.within)
                        << way.name << ", region " << region << ", component " << c;
                } else {
                    EXPECT_NEAR(after.mean[c], before[c], way.within)
                        << way.name << ", region " << region << ", component " << c;
                }
            }
        }
    }
}

TEST(FrameIntake, FramesTheFilterCannotHandlePassUntouched) {
    test::LogCapture log;
    EXPECT_EQ(filter_video(&TestFilter().instance(), nullptr), nullptr);
    const TestFrame original =
        test::make_frame(test::load_sample("2008_001322.jpg"), VIDEO_FORMAT_YUY2);
    struct Case {
        const char* what;
        void (*spoil)(obs_source_frame&);
        bool enabled;
        bool shown; // else dropped: the whole-picture fail-safe is on by default
    };
    const Case cases[] = {
        {"no first plane", [](obs_source_frame& f) { f.data[0] = nullptr; }, true, true},
        {"no width", [](obs_source_frame& f) { f.width = 0; }, true, true},
        {"no height", [](obs_source_frame& f) { f.height = 0; }, true, true},
        {"filter disabled", [](obs_source_frame&) {}, false, true},
        {"unknown", [](obs_source_frame& f) { f.format = test::kUnknownFormat; }, true, false},
        {"NONE", [](obs_source_frame& f) { f.format = VIDEO_FORMAT_NONE; }, true, false},
    };
    for (const Case& c : cases) {
        TestFilter filter([&](obs_data_t* s) { obs_data_set_bool(s, "enabled", c.enabled); });
        for (int run = 0; run < 2; ++run) {
            TestFrame frame = original;
            c.spoil(frame.frame);
            EXPECT_EQ(filter.run(frame), c.shown ? &frame.frame : nullptr) << c.what;
            EXPECT_EQ(frame.storage, original.storage) << c.what;
        }
    }
    // Once per instance, not once per frame.
    EXPECT_EQ(log.count("[veilcam] Unsupported source frame format: ", LOG_WARNING), 2);
    EXPECT_EQ(log.count("format: " + std::to_string(static_cast<int>(test::kUnknownFormat))), 1);
}

} // namespace
} // namespace veilcam
