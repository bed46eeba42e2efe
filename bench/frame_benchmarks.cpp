// What one frame costs on OBS's video thread, and what each part of a
// detection frame costs. scripts/benchmark.sh runs these and writes
// docs/PERFORMANCE.md.
#include "bench/scene.hpp"
#include "detection/detection_pass.hpp"
#include "detection/face_alignment.hpp"
#include "detection/yunet_opencv.hpp"
#include "filter/frame_pipeline.hpp"
#include "filter/shot_change.hpp"
#include "ort/face_descriptor.hpp"
#include "ort/scrfd_detector.hpp"
#include "support/frames.hpp"
#include "support/samples.hpp"
#include "support/test_filter.hpp"

#include <benchmark/benchmark.h>
#include <opencv2/core/utility.hpp>
#include <opencv2/imgproc.hpp>
#include <opencv2/objdetect/face.hpp>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <map>
#include <memory>

namespace veilcam::bench {
namespace {

const cv::Size kSizes[] = {{1280, 720}, {1920, 1080}, {3840, 2160}};
const int kFaceCounts[] = {1, 5, 20};
const cv::Size kDetectionImage(640, 360);

std::string size_name(cv::Size size) {
    return std::to_string(size.width) + "x" + std::to_string(size.height);
}

const Scene& scene(cv::Size size, int faces) {
    static std::map<std::tuple<int, int, int>, Scene> scenes;
    auto& made = scenes[{size.width, size.height, faces}];
    if (made.picture.empty()) {
        made = make_scene(size, faces);
    }
    return made;
}

const test::TestFrame& frame_of(cv::Size size, int faces, video_format format) {
    static std::map<std::tuple<int, int, int, int>, test::TestFrame> frames;
    auto key = std::make_tuple(size.width, size.height, faces, static_cast<int>(format));
    auto found = frames.find(key);
    if (found == frames.end()) {
        found = frames.emplace(key, test::make_frame(scene(size, faces).picture, format, 0)).first;
    }
    return found->second;
}

// The least any in-place filter must do: touch every byte of the frame once.
void copy_floor(benchmark::State& state, cv::Size size, video_format format) {
    const test::TestFrame& frame = frame_of(size, 1, format);
    test::TestFrame copy = frame;
    for (auto _ : state) {
        for (int plane = 0; plane < frame.plane_count; ++plane) {
            std::memcpy(copy.storage[plane].data(), frame.storage[plane].data(),
                        frame.storage[plane].size());
        }
        benchmark::ClobberMemory();
    }
}

// The least a detection image can cost: its first plane, all it reads
// (luma alone for YUV, every channel of packed and RGB frames), read once.
void read_floor(benchmark::State& state, cv::Size size, video_format format) {
    const test::TestFrame& frame = frame_of(size, 5, format);
    const cv::Mat plane0(static_cast<int>(frame.frame.height),
                         static_cast<int>(frame.frame.linesize[0]), CV_8UC1, frame.frame.data[0]);
    for (auto _ : state) {
        benchmark::DoNotOptimize(cv::sum(plane0));
    }
}

// The check for a cut that every frame makes.
void shot_check(benchmark::State& state, cv::Size size, video_format format) {
    const test::TestFrame& frame = frame_of(size, 5, format);
    Thumbnail last, now;
    for (auto _ : state) {
        last = now;
        make_thumbnail(frame.frame, *frame_format(format), now);
        benchmark::DoNotOptimize(is_new_shot(last, now));
    }
}

// A frame between two detection passes: hiding (and the overlay) only.
void steady_frame(benchmark::State& state, cv::Size size, int faces, video_format format,
                  bool boxes) {
    test::TestFilter filter([&](obs_data_t* s) {
        obs_data_set_int(s, "detection_interval", 15); // the most there is
        obs_data_set_bool(s, "show_boxes", boxes);
    });
    FilterInstance& f = filter.instance();
    const test::TestFrame& original = frame_of(size, faces, format);
    test::TestFrame frame = original;
    // Two detection frames first, as a live filter has had: every face has
    // been seen twice, and no longer grows as a face seen once may.
    for (int i = 0; i < 16; ++i) {
        frame = original;
        filter.run(frame);
    }
    // The same picture again and again, as a live source hands it over
    // (never the filter's own output, whose hidden faces it could not
    // follow), never a detection frame: the cadence is held where it stands.
    for (auto _ : state) {
        state.PauseTiming();
        frame = original;
        f.frame_counter = 1;
        state.ResumeTiming();
        filter.run(frame);
    }
    state.counters["faces_hidden"] = static_cast<double>(f.tracker.tracks().size());
}

// The filter's detector, timed call by call: the time a detection frame
// spends in the network, measured in the very frames it is part of, so that
// what the rest of the frame costs does not depend on two runs minutes apart
// agreeing.
class TimedModel : public FaceModel {
  public:
    explicit TimedModel(std::unique_ptr<FaceModel> model) : model(std::move(model)) {}

    const std::vector<FoundFace>& detect(const cv::Mat& image, float confidence,
                                         int32_t limit) override {
        const auto start = std::chrono::steady_clock::now();
        const std::vector<FoundFace>& found = model->detect(image, confidence, limit);
        spent += std::chrono::steady_clock::now() - start;
        ++calls;
        return found;
    }
    int largest_side() const override { return model->largest_side(); }
    bool wants_colour() const override { return model->wants_colour(); }

    std::chrono::duration<double, std::milli> spent{};
    int64_t calls = 0;

  private:
    std::unique_ptr<FaceModel> model;
};

// Puts the timing in place of the filter's detector, which the filter must
// have built.
TimedModel& time_detector(FilterInstance& f) {
    auto timed = std::make_unique<TimedModel>(std::move(f.detector.model));
    TimedModel& detector = *timed;
    f.detector.model = std::move(timed);
    return detector;
}

// The detector's time and calls for each of the `passes` detection frames an
// iteration makes.
void report_detector(benchmark::State& state, const TimedModel& detector, int passes) {
    const double frames = static_cast<double>(state.iterations()) * passes;
    state.counters["detector_ms"] = detector.spent.count() / frames;
    state.counters["detector_calls"] = static_cast<double>(detector.calls) / frames;
}

// A whole detection frame through filter_video: detection, tracking, hiding;
// beside it the share of it spent in the detector's calls.
// A large minimum face size leaves out the tile's closer look.
void detection_frame(benchmark::State& state, cv::Size size, int faces, video_format format,
                     std::string device, int minimum_face_size) {
    test::TestFilter filter([&](obs_data_t* s) {
        obs_data_set_int(s, "minimum_face_size", minimum_face_size);
        obs_data_set_int(s, "detection_interval", 1);
        obs_data_set_bool(s, "mirrored_profile_pass", false);
        obs_data_set_string(s, "tracking_device", device.c_str());
    });
    const test::TestFrame& original = frame_of(size, faces, format);
    test::TestFrame frame = original;
    filter.run(frame); // builds the detector
    FilterInstance& f = filter.instance();
    const TimedModel& detector = time_detector(f);
    for (auto _ : state) {
        state.PauseTiming();
        frame = original;
        state.ResumeTiming();
        filter.run(frame);
    }
    report_detector(state, detector, 1);
    state.counters["faces_found"] = static_cast<double>(f.detection.detections.size());
}

// Detection frames as a user runs them, at the default settings: each
// iteration is three passes in a row, one of which also looks at the picture
// turned a quarter.
void default_detection_frames(benchmark::State& state, cv::Size size, int faces) {
    test::TestFilter filter([](obs_data_t* s) { obs_data_set_int(s, "detection_interval", 1); });
    const test::TestFrame& original = frame_of(size, faces, VIDEO_FORMAT_NV12);
    test::TestFrame frame = original;
    filter.run(frame); // builds the detector
    const TimedModel& detector = time_detector(filter.instance());
    for (auto _ : state) {
        for (int pass = 0; pass < 3; ++pass) {
            state.PauseTiming();
            frame = original;
            state.ResumeTiming();
            filter.run(frame);
        }
    }
    report_detector(state, detector, 3);
}

// Faces recognised at OBS's detection interval, every face new to the
// filter as when people come into the picture: the detection frame, which
// also compares how the faces look, or the frame after it, which describes
// one of them. Beside detection_frame, what recognising faces adds.
void recognising_frame(benchmark::State& state, int faces, bool frame_after_pass) {
    test::TestFilter filter([&](obs_data_t* s) {
        obs_data_set_int(s, "minimum_face_size", 20);
        obs_data_set_int(s, "detection_interval", 2);
        obs_data_set_bool(s, "mirrored_profile_pass", false);
        obs_data_set_string(s, "excluded_face_ids", "1");
    });
    const test::TestFrame& original = frame_of({1920, 1080}, faces, VIDEO_FORMAT_NV12);
    test::TestFrame frame = original;
    filter.run(frame); // builds the detector
    filter.run(frame); // and the descriptor's network
    FilterInstance& f = filter.instance();
    for (auto _ : state) {
        state.PauseTiming();
        f.tracker.end_tracks_if([](const FaceTrack&) { return true; });
        f.frame_counter = 0;
        frame = original;
        if (frame_after_pass) {
            filter.run(frame);
            frame = original;
        }
        state.ResumeTiming();
        filter.run(frame);
    }
    FaceTracker& tracker = f.tracker;
    state.counters["faces_described"] =
        static_cast<double>(std::count_if(tracker.tracks().begin(), tracker.tracks().end(),
                                          [](const FaceTrack& track) { return track.checked; }));
}

void working_image(benchmark::State& state, cv::Size size, video_format format) {
    const test::TestFrame& frame = frame_of(size, 5, format);
    DetectionImages images;
    for (auto _ : state) {
        make_working_image(frame.frame, *frame_format(format), images);
        benchmark::DoNotOptimize(images.working.data);
    }
}

// The frame made into the detection image (640 pixels wide), as a pass does.
void detection_image_stage(benchmark::State& state, cv::Size size, video_format format) {
    const test::TestFrame& frame = frame_of(size, 5, format);
    DetectionImages images;
    for (auto _ : state) {
        make_detection_image(frame.frame, *frame_format(format), cv::Rect(cv::Point(), size),
                             640.0 / size.width, false, images);
        benchmark::DoNotOptimize(images.detection.data);
    }
}

cv::Mat detection_image() {
    cv::Mat small;
    cv::resize(scene({1920, 1080}, 5).picture, small, kDetectionImage, 0, 0, cv::INTER_AREA);
    return small;
}

// YuNet through OpenCV as the filter calls it, with OpenCV's thread count
// (the others run without a pool, as the packaged module's OpenCV does).
void yunet(benchmark::State& state, int threads) {
    cv::setNumThreads(threads);
    const cv::Mat image = detection_image();
    auto detector =
        cv::FaceDetectorYN::create(test::yunet_model(), "", image.size(), 0.5f, 0.3f, 5000, 0, 0);
    cv::Mat faces;
    for (auto _ : state) {
        detector->detect(image, faces);
    }
    state.counters["faces_found"] = faces.rows;
    cv::setNumThreads(0);
}

void scrfd(benchmark::State& state) {
    const cv::Mat image = detection_image();
    ScrfdDetector detector(test::scrfd_any_size_model(), 0, OrtProvider::Cpu);
    size_t found = 0;
    for (auto _ : state) {
        found = detector.detect(image, 0.5f, 20).size();
    }
    state.counters["faces_found"] = static_cast<double>(found);
}

// One face of a photo described: laid out from its key points, then the network.
void descriptor(benchmark::State& state) {
    const cv::Mat photo = test::load_sample("2008_001322.jpg");
    const FaceKeyPoints points =
        YunetOpencvDetector(test::yunet_model(), 0.5f).detect(photo, 0.5f, 1).at(0).points;
    FaceDescriptorNet net(test::face_descriptor_model());
    cv::Mat crop;
    for (auto _ : state) {
        align_face(photo, points, crop);
        benchmark::DoNotOptimize(net.describe(crop).data());
    }
}

void map_and_merge(benchmark::State& state, int faces) {
    const std::vector<cv::Rect>& boxes = scene({640, 360}, faces).faces;
    std::vector<FaceDetection> merged;
    merged.reserve(64);
    for (auto _ : state) {
        merged.clear();
        for (const cv::Rect& box : boxes) {
            merge_detection(merged, map_to_frame(box, 1.0 / 3.0, {}) & cv::Rect(0, 0, 1920, 1080),
                            0.35f);
        }
        benchmark::DoNotOptimize(merged.data());
    }
}

void tracker(benchmark::State& state, int faces) {
    const std::vector<cv::Rect>& found = scene({1920, 1080}, faces).faces;
    const std::vector<FaceDetection> boxes(found.begin(), found.end());
    FaceTracker tracker(0.72f, 0.12f, 24);
    tracker.update(boxes);
    for (auto _ : state) {
        tracker.update(boxes);
    }
}

void register_all() {
    using benchmark::RegisterBenchmark;
    // Frames that take tens of milliseconds get a few more iterations than
    // the default gives: figures read beside each other (a frame and its
    // detector calls) are otherwise a handful of runs apart.
    constexpr double kLongFrameSeconds = 0.3;
    for (const cv::Size size : kSizes) {
        for (const FrameFormat& format : frame_formats()) {
            const std::string where = std::string(format.name) + "/" + size_name(size);
            RegisterBenchmark(("copy_floor/" + where).c_str(), copy_floor, size, format.format);
            RegisterBenchmark(("shot_check/" + where).c_str(), shot_check, size, format.format);
            RegisterBenchmark(("working_image/" + where).c_str(), working_image, size,
                              format.format);
            RegisterBenchmark(("detection_image/" + where).c_str(), detection_image_stage, size,
                              format.format);
            RegisterBenchmark(("read_floor/" + where).c_str(), read_floor, size, format.format);
            for (const int faces : kFaceCounts) {
                const std::string with = where + "/" + std::to_string(faces) + "_faces";
                RegisterBenchmark(("steady_frame/" + with).c_str(), steady_frame, size, faces,
                                  format.format, false);
                RegisterBenchmark(("detection_frame/" + with).c_str(), detection_frame, size, faces,
                                  format.format, kCpuOrtDevice, 20)
                    ->Unit(benchmark::kMillisecond)
                    ->MinTime(kLongFrameSeconds);
            }
        }
    }
    // The detectors on ONNX Runtime's CPU provider, beside "cpu" in the same run.
    for (const cv::Size size : kSizes) {
        for (const char* device : {kCpuDevice, kCpuOrtDevice, kCpuScrfdDevice}) {
            const std::string where = std::string(device) + "/NV12/" + size_name(size) + "/5_faces";
            RegisterBenchmark(("device_detection_frame/" + where).c_str(), detection_frame, size, 5,
                              VIDEO_FORMAT_NV12, device, 20)
                ->Unit(benchmark::kMillisecond)
                ->MinTime(kLongFrameSeconds);
            RegisterBenchmark(("device_whole_picture_only/" + where).c_str(), detection_frame, size,
                              5, VIDEO_FORMAT_NV12, device, 300)
                ->Unit(benchmark::kMillisecond)
                ->MinTime(kLongFrameSeconds);
        }
    }
    for (const cv::Size size : kSizes) {
        for (const int faces : {0, 1, 20}) {
            const std::string with = size_name(size) + "/" + std::to_string(faces) + "_faces";
            RegisterBenchmark(("default_detection_frames/NV12/" + with).c_str(),
                              default_detection_frames, size, faces)
                ->Unit(benchmark::kMillisecond)
                ->MinTime(kLongFrameSeconds);
        }
    }
    RegisterBenchmark("steady_frame_with_boxes/NV12/1920x1080/5_faces", steady_frame,
                      cv::Size(1920, 1080), 5, VIDEO_FORMAT_NV12, true);
    for (const int threads : {0, 1, 2}) {
        RegisterBenchmark(("detector/yunet/640x360/threads_" + std::to_string(threads)).c_str(),
                          yunet, threads)
            ->Unit(benchmark::kMillisecond);
    }
    RegisterBenchmark("detector/scrfd_cpu/640x360", scrfd)->Unit(benchmark::kMillisecond);
    RegisterBenchmark("descriptor/one_face", descriptor)->Unit(benchmark::kMillisecond);
    for (const int faces : kFaceCounts) {
        const std::string with = "NV12/1920x1080/" + std::to_string(faces) + "_faces";
        // What recognising adds is measured against the same device's frame.
        RegisterBenchmark(("unrecognised_pass/" + with).c_str(), detection_frame,
                          cv::Size(1920, 1080), faces, VIDEO_FORMAT_NV12, kCpuOrtDevice, 20)
            ->Unit(benchmark::kMillisecond)
            ->MinTime(kLongFrameSeconds);
        RegisterBenchmark(("recognising_pass/" + with).c_str(), recognising_frame, faces, false)
            ->Unit(benchmark::kMillisecond)
            ->MinTime(kLongFrameSeconds);
        RegisterBenchmark(("describing_frame/" + with).c_str(), recognising_frame, faces, true)
            ->Unit(benchmark::kMillisecond)
            ->MinTime(kLongFrameSeconds);
    }
    for (const int faces : kFaceCounts) {
        RegisterBenchmark(("map_and_merge/" + std::to_string(faces) + "_faces").c_str(),
                          map_and_merge, faces);
        RegisterBenchmark(("tracker/" + std::to_string(faces) + "_faces").c_str(), tracker, faces);
    }
}

} // namespace
} // namespace veilcam::bench

int main(int argc, char** argv) {
    // A host that has handled video has freed frame-sized blocks, which moves
    // glibc's adaptive mmap threshold up; without this the first benchmarks
    // would run under a different allocator policy than the later ones.
    // --fresh-heap keeps glibc's initial policy, to see what that costs.
    bool fresh_heap = false;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--fresh-heap") == 0) {
            fresh_heap = true;
            std::copy(argv + i + 1, argv + argc, argv + i);
            --argc;
            break;
        }
    }
    if (!fresh_heap) {
        void* volatile frame_sized = std::malloc(24 << 20);
        std::free(frame_sized);
    }
    // The packaged module's own OpenCV runs on the calling thread; a pool
    // here would also make the detection frames vary with the machine's load.
    cv::setNumThreads(0);
    benchmark::Initialize(&argc, argv);
    veilcam::bench::register_all();
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
