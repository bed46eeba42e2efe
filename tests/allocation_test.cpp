// Counts every heap allocation of the calling thread, whoever makes it
// (our code, OpenCV, the C++ library), by standing in for glibc's allocator
// entry points in this executable.
#include "plugin/filter_callbacks.hpp"
#include "support/frames.hpp"
#include "support/samples.hpp"
#include "support/test_filter.hpp"

#include <gtest/gtest.h>
#include <opencv2/imgproc.hpp>

#include <cerrno>
#include <cstdlib>

extern "C" {
void* __libc_malloc(size_t size);
void* __libc_calloc(size_t count, size_t size);
void* __libc_realloc(void* old, size_t size);
void* __libc_memalign(size_t alignment, size_t size);
}

namespace {
thread_local bool g_counting = false;
thread_local long g_allocations = 0;
thread_local long g_failing = 0; // the counted allocation that fails; 0 for none

// True when this allocation is to fail.
bool note_allocation() {
    return g_counting && ++g_allocations == g_failing;
}
} // namespace

extern "C" {
void* malloc(size_t size) {
    return note_allocation() ? nullptr : __libc_malloc(size);
}
void* calloc(size_t count, size_t size) {
    return note_allocation() ? nullptr : __libc_calloc(count, size);
}
void* realloc(void* old, size_t size) {
    return note_allocation() ? nullptr : __libc_realloc(old, size);
}
void* memalign(size_t alignment, size_t size) {
    return note_allocation() ? nullptr : __libc_memalign(alignment, size);
}
void* aligned_alloc(size_t alignment, size_t size) {
    return note_allocation() ? nullptr : __libc_memalign(alignment, size);
}
int posix_memalign(void** out, size_t alignment, size_t size) {
    *out = note_allocation() ? nullptr : __libc_memalign(alignment, size);
    return *out ? 0 : ENOMEM;
}
}

namespace veilcam {
namespace {

long allocations_during(const std::function<void()>& work) {
    g_allocations = 0;
    g_counting = true;
    work();
    g_counting = false;
    return g_allocations;
}

TEST(Allocation, SteadyFramesThatAreNotDetectionFramesAllocateNothing) {
    // The counter sees what OpenCV allocates.
    ASSERT_GT(allocations_during([] { cv::Mat(64, 64, CV_8UC3).setTo(cv::Scalar(1)); }), 0);
    // A 1280 x 720 picture with several faces of different sizes.
    cv::Mat picture(720, 1280, CV_8UC3, cv::Scalar(40, 40, 40));
    const auto& photos = test::labelled_photos();
    photos[0].image.copyTo(picture(cv::Rect(0, 0, 500, 375)));
    photos[2].image.copyTo(picture(cv::Rect(600, 0, 360, 480)));
    photos[3].image.copyTo(picture(cv::Rect(0, 340, 500, 375)));

    for (const int mode : {0, 1}) {
        for (const FrameFormat& format : frame_formats()) {
            test::TestFilter filter([&](obs_data_t* s) {
                obs_data_set_int(s, "obscure_mode", mode);
                obs_data_set_int(s, "detection_interval", 4);
            });
            const test::TestFrame original = test::make_frame(picture, format.format);
            test::TestFrame frame = original;
            // Every fourth frame detects: by frame 27 every face's region has
            // been as large as it gets between detections (and with it the
            // copy of what its oval leaves).
            for (int i = 0; i < 26; ++i) {
                filter.run(frame);
            }
            ASSERT_GE(filter.instance().tracker.tracks().size(), 5u) << format.name;
            EXPECT_EQ(allocations_during([&] { filter.run(frame); }), 0) // frame 27
                << format.name << (mode == 1 ? " blurred" : " pixelated");
        }
    }
}

// Out of memory while the filter starts: whichever allocation fails, the
// filter OBS gets hides the faces. (Without the first, the filter itself,
// there is no filter to give.)
TEST(Allocation, AFilterThatCannotStartHidesThePicture) {
    const test::LabelledPhoto& photo = test::labelled_photos()[3];
    const test::TestFrame original = test::make_frame(photo.image, VIDEO_FORMAT_NV12);
    obs_data_t* settings = obs_data_create();
    get_defaults(settings);
    obs_data_set_string(settings, "model_path", test::yunet_model().c_str());
    for (long failing = 2, made = failing; made >= failing; ++failing) {
        void* filter = nullptr;
        g_failing = failing;
        made = allocations_during([&] { filter = create_with_models(settings, nullptr, {}); });
        g_failing = 0;
        ASSERT_NE(filter, nullptr) << "allocation " << failing << " failed";
        test::TestFrame frame = original;
        EXPECT_EQ(filter_video(filter, &frame.frame), &frame.frame);
        EXPECT_EQ(test::faces_left_visible(original, frame, photo.faces), 0)
            << "allocation " << failing << " failed";
        destroy(filter);
    }
    obs_data_release(settings);
}

} // namespace
} // namespace veilcam
