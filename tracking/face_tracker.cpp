#include "tracking/face_tracker.hpp"

#include "tracking/box_geometry.hpp"

#include <algorithm>

namespace veilcam {

FaceTracker::FaceTracker(float smoothing, float match_threshold, int32_t hold_frames) {
    configure(smoothing, match_threshold, hold_frames);
}

void FaceTracker::configure(float smoothing, float match_threshold, int32_t hold_frames) {
    smoothing_ = std::clamp(smoothing, 0.0f, 0.98f);
    match_threshold_ = std::clamp(match_threshold, 0.0f, 1.0f);
    hold_frames_ = std::max(hold_frames, 0);
}

cv::Rect2f hidden_box(const FaceTrack& track, uint64_t frame) {
    const float frames = frame > track.seen_at ? static_cast<float>(frame - track.seen_at) : 0.0f;
    const cv::Rect2f moved(track.seen.tl() + track.velocity * frames, track.seen.size());
    return track.box | track.seen | moved;
}

void FaceTracker::update(const std::vector<FaceDetection>& detections, uint64_t frame,
                         bool new_shot, const PassReach& reach) {
    // Both reservations keep this update from reallocating once the face
    // count is steady.
    taken_.assign(detections.size(), false);
    tracks_.reserve(tracks_.size() + detections.size());
    const float keep = new_shot ? 0.0f : smoothing_;

    // Greedy in track order: the oldest track picks first, so ids stay with
    // the faces that have been seen longest.
    for (FaceTrack& track : tracks_) {
        int best = -1;
        float best_iou = -1.0f;
        for (size_t i = 0; i < detections.size(); ++i) {
            if (taken_[i]) {
                continue;
            }
            const float iou = box_iou(track.box, cv::Rect2f(detections[i]));
            if (iou > best_iou) {
                best_iou = iou;
                best = static_cast<int>(i);
            }
        }
        if (best >= 0 && best_iou >= match_threshold_) {
            const cv::Rect2f found(detections[best]);
            track.box.x = found.x * (1.0f - keep) + track.box.x * keep;
            track.box.y = found.y * (1.0f - keep) + track.box.y * keep;
            track.box.width = found.width * (1.0f - keep) + track.box.width * keep;
            track.box.height = found.height * (1.0f - keep) + track.box.height * keep;
            track.missed = 0;
            const float frames = static_cast<float>(frame - track.seen_at);
            track.velocity = new_shot || frame <= track.seen_at
                                 ? cv::Point2f()
                                 : (found.tl() - track.seen.tl()) * (1.0f / frames);
            track.seen = found;
            track.seen_at = frame;
            taken_[best] = true;
        } else if (reach.covers(track.box)) {
            ++track.missed;
        }
    }

    for (size_t i = 0; i < detections.size(); ++i) {
        if (!taken_[i]) {
            const cv::Rect2f found(detections[i]);
            tracks_.push_back(FaceTrack{next_id_++, found, 0, found, frame, {}, false, false});
            ++tracks_started_;
        }
    }

    end_tracks_if([this](const FaceTrack& t) { return t.missed > hold_frames_; });
    renumber_crossing_tracks();
}

void FaceTracker::renumber_crossing_tracks() {
    for (size_t i = 0; i < tracks_.size(); ++i) {
        bool overlapping = false;
        for (size_t j = 0; j < tracks_.size() && !overlapping; ++j) {
            overlapping = j != i && (tracks_[i].box & tracks_[j].box).area() > 0.0f;
        }
        FaceTrack& track = tracks_[i];
        if (overlapping && !track.overlapping) {
            track.id = next_id_++;
            track.crossed = true;
        }
        track.overlapping = overlapping;
    }
}

} // namespace veilcam
