// veilcam-collateral ORIGINAL ANONYMISED
// What hiding cost a clip's picture and which faces it let through, frame by
// frame. The faces are those that two detectors (YuNet and SCRFD, on the
// CPU) find on the original; each counts with its box grown by half its size
// on every side. A part of the picture counts as changed where an 8 x 8 block's
// mean change in luma is over 6 levels: more than re-encoding leaves.
#include "detection/detector_devices.hpp"
#include "detection/face_model.hpp"
#include "settings/device_choice.hpp"
#include "tools/video/frame_convert.hpp"
#include "tools/video/video_reader.hpp"
#include "tracking/box_geometry.hpp"

#include <opencv2/imgproc.hpp>

#include <algorithm>
#include <cstdio>
#include <memory>
#include <numeric>
#include <vector>

namespace veilcam {
namespace {

constexpr int kBlock = 8;
constexpr double kChangedLevels = 6.0;
constexpr float kConfidence = 0.5f;
// Boxes of two detectors that overlap this much are one face.
constexpr float kSameFace = 0.3f;

using Models = std::vector<std::unique_ptr<FaceModel>>;

// The faces that any of `models` finds in `bgr`, in its pixels, each once.
std::vector<cv::Rect2f> faces_in(const cv::Mat& bgr, Models& models, cv::Mat& scaled) {
    std::vector<cv::Rect2f> faces;
    for (const auto& model : models) {
        const double scale = std::min(1.0, static_cast<double>(model->largest_side()) /
                                               std::max(bgr.cols, bgr.rows));
        cv::resize(bgr, scaled, {}, scale, scale, cv::INTER_AREA);
        for (const FoundFace& found : model->detect(scaled, kConfidence, 1000)) {
            const cv::Rect2f& box = found.box;
            const float back = static_cast<float>(1.0 / scale);
            const cv::Rect2f face(box.x * back, box.y * back, box.width * back, box.height * back);
            if (std::none_of(faces.begin(), faces.end(),
                             [&](const cv::Rect2f& f) { return box_iou(f, face) >= kSameFace; })) {
                faces.push_back(face);
            }
        }
    }
    return faces;
}

// The blocks changed from `before` to `after`: all of them, and those
// whose middle lies in no face's grown box.
std::pair<int, int> changed_blocks(const cv::Mat& before, const cv::Mat& after,
                                   const std::vector<cv::Rect2f>& faces) {
    cv::Mat grey_before, grey_after, difference, blocks;
    cv::cvtColor(before, grey_before, cv::COLOR_BGR2GRAY);
    cv::cvtColor(after, grey_after, cv::COLOR_BGR2GRAY);
    cv::absdiff(grey_before, grey_after, difference);
    cv::resize(difference, blocks, {before.cols / kBlock, before.rows / kBlock}, 0, 0,
               cv::INTER_AREA);
    int changed = 0, away = 0;
    for (int y = 0; y < blocks.rows; ++y) {
        for (int x = 0; x < blocks.cols; ++x) {
            if (blocks.at<uint8_t>(y, x) <= kChangedLevels) {
                continue;
            }
            ++changed;
            const cv::Point2f middle((x + 0.5f) * kBlock, (y + 0.5f) * kBlock);
            away += std::none_of(faces.begin(), faces.end(), [&](const cv::Rect2f& f) {
                return grown_box(f, 0.5f * std::max(f.width, f.height)).contains(middle);
            });
        }
    }
    return {changed, away};
}

double percentile(std::vector<double> values, double share) {
    std::sort(values.begin(), values.end());
    return values[std::min(values.size() - 1, static_cast<size_t>(share * values.size()))];
}

void report(const char* what, const std::vector<double>& shares) {
    const auto worst = std::max_element(shares.begin(), shares.end());
    const double mean = std::accumulate(shares.begin(), shares.end(), 0.0) / shares.size();
    std::printf("%s: mean %.1f %%, 90th percentile %.1f %%, worst %.1f %% (frame %d)\n", what,
                100 * mean, 100 * percentile(shares, 0.9), 100 * *worst,
                static_cast<int>(worst - shares.begin()));
}

int measure(const char* original_path, const char* anonymised_path) {
    const auto data = video::data_beside_tool();
    const BundledModels bundled =
        find_bundled_models([&](const char* file) { return (data / file).string(); });
    Models models;
    for (const char* id : {kCpuDevice, kCpuScrfdDevice}) {
        const DetectorDevice& device = device_for(id);
        models.push_back(device.make({bundled_model(bundled, device)}));
    }
    video::VideoReader original(original_path), anonymised(anonymised_path);
    std::vector<video::PacketPtr> other_streams;
    video::ScalePtr original_scaler, anonymised_scaler;
    video::FramePtr original_bgr, anonymised_bgr;
    std::vector<double> away, all;
    int faces = 0, found_again = 0, over_a_third = 0;
    cv::Mat scaled;
    while (AVFrame* before_frame = original.next_frame(other_streams)) {
        AVFrame* after_frame = anonymised.next_frame(other_streams);
        other_streams.clear();
        if (!after_frame) {
            break;
        }
        const cv::Mat before = video::to_bgr(original_scaler, *before_frame, original_bgr);
        const cv::Mat after = video::to_bgr(anonymised_scaler, *after_frame, anonymised_bgr);
        if (before.size() != after.size()) {
            throw video::VideoError("the two clips' pictures differ in size");
        }
        const std::vector<cv::Rect2f> found = faces_in(before, models, scaled);
        const std::vector<cv::Rect2f> shown = faces_in(after, models, scaled);
        const auto [changed, changed_away] = changed_blocks(before, after, found);
        const double blocks = static_cast<double>(before.cols / kBlock) * (before.rows / kBlock);
        away.push_back(changed_away / blocks);
        all.push_back(changed / blocks);
        over_a_third += changed > blocks / 3;
        for (const cv::Rect2f& face : found) {
            ++faces;
            found_again += std::any_of(shown.begin(), shown.end(), [&](const cv::Rect2f& s) {
                return box_iou(face, s) >= kSameFace;
            });
        }
    }
    if (all.empty()) {
        throw video::VideoError("no frame to compare");
    }
    std::printf("frames: %zu, faces on the original: %d, found again on the copy: %d\n", all.size(),
                faces, found_again);
    report("changed away from the faces", away);
    report("changed in all", all);
    std::printf("frames with over a third of the picture changed: %d\n", over_a_third);
    return 0;
}

} // namespace
} // namespace veilcam

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: veilcam-collateral ORIGINAL ANONYMISED\n");
        return 2;
    }
    // FFmpeg's own warnings (a full-range picture, say) say nothing of the result.
    av_log_set_level(AV_LOG_ERROR);
    try {
        return veilcam::measure(argv[1], argv[2]);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "veilcam-collateral: %s\n", e.what());
        return 1;
    }
}
