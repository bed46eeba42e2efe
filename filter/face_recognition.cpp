#include "filter/face_recognition.hpp"

#include "detection/face_alignment.hpp"
#include "filter/filter_instance.hpp"

#include <opencv2/imgproc.hpp>

#include <algorithm>
#include <stdexcept>
#include <string>

namespace veilcam {
namespace {

// Smaller faces describe too poorly to be told apart.
constexpr float kSmallestDescribed = 48.0f;
// The area taken around a face, in its size, and the side it is brought to.
constexpr float kAreaPerFace = 2.0f;
constexpr int kAreaSide = 300;
// The network, made on first use from the bundled model.
bool net_ready(FaceRecognizer& r, const BundledModels& bundled) {
    if (r.net || r.unavailable) {
        return !r.unavailable;
    }
    try {
        const auto model = bundled.find(kFaceDescriptorModel);
        if (model == bundled.end() || model->second.empty()) {
            throw std::runtime_error(std::string(kFaceDescriptorModel) + " is missing");
        }
        r.net = std::make_unique<FaceDescriptorNet>(model->second);
    } catch (const std::exception& e) {
        r.unavailable = true;
        blog(LOG_WARNING,
             "[veilcam] Faces cannot be recognised (%s): listed faces are known by their ids alone",
             e.what());
    }
    return !r.unavailable;
}

// Whether track `index` overlaps another face this frame's pass found.
bool overlaps_a_found_face(const std::vector<FaceTrack>& tracks, size_t index, uint64_t frame) {
    for (size_t j = 0; j < tracks.size(); ++j) {
        if (j != index && tracks[j].seen_at == frame &&
            (tracks[j].place & tracks[index].place).area() > 0.0f) {
            return true;
        }
    }
    return false;
}

// A shown face is described again at least this often, whoever else waits.
constexpr uint64_t kLongestUnchecked = 1000000000; // nanoseconds
constexpr uint64_t kUsualFrame = 33333333;

// Whether `track` is shown now and was described too long ago.
bool overdue(const FilterInstance& f, const FaceTrack& track, bool shown) {
    const uint64_t frame = f.frame_duration_ns > 0 ? f.frame_duration_ns : kUsualFrame;
    return shown && (f.frame_index - track.checked_at) * frame >= kLongestUnchecked;
}

// The index of the track to describe on this frame; -1 for none. A shown
// face not described for a second goes first, then a listed face still
// being learnt, then a face not described since someone else could be in
// its box, then a shown face (someone else may have taken its place), then
// any other; among equals the one described longest ago.
int pick_track(const FilterInstance& f) {
    const FaceRecognizer& r = f.recognizer;
    const std::vector<FaceTrack>& tracks = f.tracker.tracks();
    int best = -1;
    int best_rank = 0;
    for (size_t i = 0; i < tracks.size(); ++i) {
        const FaceTrack& track = tracks[i];
        // A face another one overlaps is described as neither.
        if (track.seen_at != f.latest_pass ||
            std::min(track.place.width, track.place.height) < kSmallestDescribed ||
            overlaps_a_found_face(tracks, i, f.latest_pass)) {
            continue;
        }
        const bool shown =
            track.checked && !should_obscure(f.settings.selection, track.id, track.crossed,
                                             recognition_of(track, r.remembered));
        const int rank = overdue(f, track, shown)                                    ? 5
                         : r.remembered.learning(track.id, f.settings.selection.ids) ? 4
                         : !track.checked                                            ? 3
                         : shown                                                     ? 2
                                                                                     : 1;
        if (rank > best_rank || (rank == best_rank && track.checked_at < tracks[best].checked_at)) {
            best = static_cast<int>(i);
            best_rank = rank;
        }
    }
    return best;
}

// Two looks of one face from pass to pass correlate well above this; two
// people's faces in one place, below it.
constexpr float kSameLook = 0.6f;

// `r` on even pixels, where chroma and pixel pairs begin, inside `bounds`.
cv::Rect on_even_pixels(const cv::Rect2f& r, cv::Size bounds) {
    const cv::Rect even(static_cast<int>(r.x) & ~1, static_cast<int>(r.y) & ~1,
                        static_cast<int>(r.width) & ~1, static_cast<int>(r.height) & ~1);
    return even & cv::Rect(0, 0, bounds.width & ~1, bounds.height & ~1);
}

float correlation(const FaceLook& a, const FaceLook& b) {
    float sum = 0.0f;
    for (size_t i = 0; i < a.size(); ++i) {
        sum += a[i] * b[i];
    }
    return sum / static_cast<float>(a.size());
}

} // namespace

void compare_looks(FilterInstance& f, const obs_source_frame& frame, const FrameFormat& format) {
    FaceRecognizer& r = f.recognizer;
    if (f.settings.selection.ids.empty() && !r.remembered.any()) {
        return;
    }
    const cv::Size bounds(static_cast<int>(frame.width), static_cast<int>(frame.height));
    for (size_t i = 0; i < f.tracker.tracks().size(); ++i) {
        const FaceTrack& track = f.tracker.tracks()[i];
        const cv::Rect area = on_even_pixels(track.place, bounds);
        if (track.seen_at != f.frame_index || area.width < kLookSide || area.height < kLookSide) {
            continue;
        }
        const cv::Mat* image = &make_detection_image(
            frame, format, area, 2.0 * kLookSide / area.width, false, r.look_images);
        if (image->empty()) {
            continue;
        }
        if (image->channels() == 3) {
            cv::cvtColor(*image, r.look_grey, cv::COLOR_BGR2GRAY);
            image = &r.look_grey;
        }
        cv::resize(*image, r.look, {kLookSide, kLookSide}, 0, 0, cv::INTER_AREA);
        cv::Scalar mean, spread;
        cv::meanStdDev(r.look, mean, spread);
        FaceLook look;
        for (int y = 0; y < kLookSide; ++y) {
            for (int x = 0; x < kLookSide; ++x) {
                look[static_cast<size_t>(y * kLookSide + x)] = static_cast<float>(
                    (r.look.at<uint8_t>(y, x) - mean[0]) / std::max(spread[0], 1.0));
            }
        }
        const float same = correlation(look, track.look);
        f.tracker.note_look(i, look, same >= kSameLook);
    }
}

cv::Rect described_area(const cv::Rect2f& place, cv::Size bounds) {
    const float side = std::max(place.width, place.height) * kAreaPerFace;
    const cv::Point2f middle = (place.tl() + place.br()) * 0.5f;
    return on_even_pixels({middle.x - side / 2, middle.y - side / 2, side, side}, bounds);
}

double described_scale(const cv::Rect& area) {
    return std::min(1.0, static_cast<double>(kAreaSide) / area.width);
}

void recognise_a_face(FilterInstance& f, const obs_source_frame& frame, const FrameFormat& format) {
    FaceRecognizer& r = f.recognizer;
    if (f.settings.selection.ids.empty() && !r.remembered.any()) {
        return;
    }
    const int index = pick_track(f);
    if (index < 0 || !net_ready(r, f.detector_choice.bundled)) {
        return;
    }
    const FaceTrack* track = &f.tracker.tracks()[static_cast<size_t>(index)];
    const cv::Rect area = described_area(
        track->place, {static_cast<int>(frame.width), static_cast<int>(frame.height)});
    if (area.empty()) {
        return;
    }
    const double scale = described_scale(area);
    const cv::Mat* image = &make_detection_image(frame, format, area, scale, true, r.images);
    if (image->empty()) {
        return;
    }
    if (image->channels() == 1) {
        cv::cvtColor(*image, r.colour, cv::COLOR_GRAY2BGR);
        image = &r.colour;
    }
    // Key points into the area's image, which is upright when the frame is flipped.
    FaceKeyPoints points = track->points;
    for (cv::Point2f& point : points) {
        const float y = frame.flip ? static_cast<float>(area.br().y) - point.y
                                   : point.y - static_cast<float>(area.y);
        point = {(point.x - static_cast<float>(area.x)) * static_cast<float>(scale),
                 y * static_cast<float>(scale)};
    }
    align_face(*image, points, r.chip);
    const FaceDescriptor& described = r.net->describe(r.chip);
    if (r.remembered.learning(track->id, f.settings.selection.ids)) {
        r.remembered.learn(track->id, described);
    }
    f.tracker.note_described(static_cast<size_t>(index), described, f.frame_index);
}

} // namespace veilcam
