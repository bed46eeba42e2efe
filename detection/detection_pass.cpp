#include "detection/detection_pass.hpp"

#include "detection/detectors.hpp"
#include "filter/filter_instance.hpp"
#include "filter/frame_formats.hpp"
#include "filter/frame_intake.hpp"

#include <obs-module.h>
#include <opencv2/core.hpp>
#include <opencv2/imgproc.hpp>

#include <algorithm>
#include <cmath>
#include <exception>

namespace veilcam {
namespace {

constexpr int kScrfdMaxDimension = 640;
constexpr float kMergeThreshold = 0.35f;
constexpr int32_t kProfilePassMaxFaces = 2;

int nearest(double value) {
    return static_cast<int>(std::nearbyint(value));
}

// Runs the active detector on `image` and appends the faces it finds, in
// frame pixels and no smaller than `minimum_face_size`, to `out`.
void run_detector(FilterInstance& f, const cv::Mat& image, double scale, bool mirrored,
                  std::vector<FaceDetection>& out) {
    out.clear();
    const int mirror_width = mirrored ? image.cols : 0;
    auto keep = [&](const cv::Rect& raw) {
        const FaceDetection box = map_to_frame(raw, scale, mirror_width);
        if (box.width >= f.minimum_face_size && box.height >= f.minimum_face_size) {
            out.push_back(box);
        }
    };

    if (f.scrfd) {
        for (const cv::Rect& raw : f.scrfd->detect(image, f.confidence, f.max_faces)) {
            keep(raw);
        }
        return;
    }
    f.yunet->setInputSize(image.size());
    f.yunet->setScoreThreshold(f.confidence);
    f.yunet->detect(image, f.yunet_faces);
    for (int row = 0; row < f.yunet_faces.rows; ++row) {
        const float* face = f.yunet_faces.ptr<float>(row);
        keep(cv::Rect(nearest(face[0]), nearest(face[1]), nearest(face[2]), nearest(face[3])));
    }
}

// Faces in profile are found more reliably in the mirror image; the second
// look is held to passes that found nothing or, now and then, few faces.
bool wants_profile_pass(FilterInstance& f, size_t faces_found) {
    bool periodic = false;
    if (!f.crowd_mode) {
        f.profile_pass_counter =
            static_cast<int32_t>(static_cast<uint32_t>(f.profile_pass_counter) + 1u);
        periodic = f.profile_pass_counter % f.profile_pass_period == 0 &&
                   faces_found <= static_cast<size_t>(kProfilePassMaxFaces);
    }
    return f.mirrored_profile_pass && (faces_found == 0 || periodic);
}

void find_faces(FilterInstance& f, double scale, const cv::Rect& frame_rect) {
    auto merge_found = [&] {
        for (const FaceDetection& box : f.raw_detections) {
            merge_detection(f.detections, box & frame_rect, kMergeThreshold);
        }
    };
    run_detector(f, f.detection_image, scale, false, f.raw_detections);
    merge_found();
    if (wants_profile_pass(f, f.detections.size())) {
        cv::flip(f.detection_image, f.mirror_image, 1);
        run_detector(f, f.mirror_image, scale, true, f.raw_detections);
        merge_found();
    }
}

} // namespace

FaceDetection map_to_frame(const cv::Rect& box, double scale, int mirror_width) {
    const float x = mirror_width > 0 ? static_cast<float>(mirror_width - box.x - box.width)
                                     : static_cast<float>(box.x);
    return FaceDetection(nearest(x / scale), nearest(static_cast<float>(box.y) / scale),
                         nearest(static_cast<float>(box.width) / scale),
                         nearest(static_cast<float>(box.height) / scale));
}

void merge_detection(std::vector<FaceDetection>& list, const FaceDetection& box, float threshold) {
    for (FaceDetection& entry : list) {
        const cv::Rect overlap = entry & box;
        const int overlap_area = overlap.width > 0 && overlap.height > 0 ? overlap.area() : 0;
        const float intersection = static_cast<float>(overlap_area);
        const float uni =
            static_cast<float>(entry.width * entry.height + box.width * box.height) - intersection;
        const float iou = uni > 0.0f ? intersection / uni : 0.0f;
        if (iou >= threshold) {
            if (entry.width <= 0 || entry.height <= 0) {
                entry = box;
            } else if (box.width > 0 && box.height > 0) {
                entry = entry | box;
            }
            return;
        }
    }
    list.push_back(box);
}

bool make_detection_image(FilterInstance& f, const obs_source_frame& frame, double scale) {
    const FrameFormat* format = frame_format(frame.format);
    if (scale < 1.0 && format && format->shrinks_before_conversion && frame.data[0]) {
        // A fraction of the work of converting the whole frame, same picture.
        cv::resize(wrap_plane0(frame, *format), f.detection_plane, cv::Size(), scale, scale,
                   cv::INTER_AREA);
        convert_to_bgr(f.detection_plane, *format, f.detection_image);
        return true;
    }
    const cv::Mat working = make_working_image(f, &frame);
    if (working.empty()) {
        return false;
    }
    if (scale < 1.0) {
        cv::resize(working, f.detection_image, cv::Size(), scale, scale, cv::INTER_AREA);
    } else {
        working.copyTo(f.detection_image);
    }
    return true;
}

const std::vector<FaceDetection>& detect_faces(FilterInstance& f, const obs_source_frame& frame) {
    f.detections.clear();
    if (!ensure_detector(f)) {
        return f.detections;
    }
    const int width = static_cast<int>(frame.width);
    const int height = static_cast<int>(frame.height);
    int limit = f.detection_max_dimension;
    if (f.scrfd) {
        limit = std::min(limit, kScrfdMaxDimension);
    }
    const double scale = std::min(1.0, static_cast<double>(limit) / std::max(width, height));
    if (!make_detection_image(f, frame, scale)) {
        return f.detections;
    }

    try {
        find_faces(f, scale, cv::Rect(0, 0, width, height));
    } catch (const std::exception& e) {
        f.detections.clear();
        if (f.active_device == "cpu") {
            blog(LOG_ERROR, "[veilcam] CPU inference failed: %s", e.what());
        } else {
            blog(LOG_WARNING, "[veilcam] GPU inference failed (%s); switching to CPU", e.what());
            f.gpu_failed = true;
            reset_detectors(f);
        }
        return f.detections;
    }

    if (f.detections.size() > static_cast<size_t>(f.max_faces)) {
        f.detections.resize(static_cast<size_t>(f.max_faces));
    }
    if (!f.detections.empty() && !f.first_detection_logged) {
        blog(LOG_INFO, "[veilcam] First face detection succeeded (%zu face(s))",
             f.detections.size());
        f.first_detection_logged = true;
    }
    return f.detections;
}

} // namespace veilcam
