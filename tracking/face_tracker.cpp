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

namespace {

// A face on camera moves no faster than this, in pixels a frame.
constexpr float kFastestFace = 80.0f;
// A region reaches no further from where the face was seen than this many
// times its size: motion guessed from two detections does not go on for ever.
constexpr float kFurthestReach = 2.0f;

float frames_since_seen(const FaceTrack& track, uint64_t frame) {
    return frame > track.seen_at ? static_cast<float>(frame - track.seen_at) : 0.0f;
}

// How far the face of `track` has moved by `frame`, as far as it is known.
cv::Point2f motion(const FaceTrack& track, uint64_t frame) {
    const cv::Point2f moved = track.velocity * frames_since_seen(track, frame);
    const float reach_x = kFurthestReach * track.seen.width;
    const float reach_y = kFurthestReach * track.seen.height;
    return {std::clamp(moved.x, -reach_x, reach_x), std::clamp(moved.y, -reach_y, reach_y)};
}

// Where a face seen once may be by `frame`, moving at up to kFastestFace.
cv::Rect2f reach(const FaceTrack& track, uint64_t frame) {
    const float moved = kFastestFace * frames_since_seen(track, frame);
    const float x = std::min(moved, kFurthestReach * track.seen.width);
    const float y = std::min(moved, kFurthestReach * track.seen.height);
    return {track.seen.x - x, track.seen.y - y, track.seen.width + 2 * x,
            track.seen.height + 2 * y};
}

// How well `found` continues `track`: the overlap with where the face is
// expected; for a face seen once, anything of about its size within its
// reach is enough to follow it.
float match_score(const FaceTrack& track, const cv::Rect2f& found, uint64_t frame,
                  float match_threshold) {
    const float iou = box_iou(predicted_box(track, frame), found);
    if (track.velocity_known) {
        return iou;
    }
    const float size = found.width / track.seen.width;
    const bool within = (reach(track, frame) & found).area() >= 0.5f * found.area();
    return within && size > 0.67f && size < 1.5f ? std::max(iou, match_threshold) : iou;
}

} // namespace

cv::Rect2f predicted_box(const FaceTrack& track, uint64_t frame) {
    return {track.seen.tl() + motion(track, frame), track.seen.size()};
}

cv::Rect2f hidden_box(const FaceTrack& track, uint64_t frame) {
    const cv::Rect2f region = track.box | track.seen | predicted_box(track, frame);
    return track.moving ? region | reach(track, frame) : region;
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
        float best_score = -1.0f;
        for (size_t i = 0; i < detections.size(); ++i) {
            if (taken_[i]) {
                continue;
            }
            const float score =
                match_score(track, cv::Rect2f(detections[i]), frame, match_threshold_);
            if (score > best_score) {
                best_score = score;
                best = static_cast<int>(i);
            }
        }
        if (best >= 0 && best_score >= match_threshold_) {
            const cv::Rect2f found(detections[best]);
            // Smoothed towards the face, not towards where it was.
            const cv::Point2f moved = new_shot ? cv::Point2f() : motion(track, frame);
            track.box.x = found.x * (1.0f - keep) + (track.box.x + moved.x) * keep;
            track.box.y = found.y * (1.0f - keep) + (track.box.y + moved.y) * keep;
            track.box.width = found.width * (1.0f - keep) + track.box.width * keep;
            track.box.height = found.height * (1.0f - keep) + track.box.height * keep;
            track.missed = 0;
            const float frames = static_cast<float>(frame - track.seen_at);
            track.velocity = new_shot || frame <= track.seen_at
                                 ? cv::Point2f()
                                 : (found.tl() - track.seen.tl()) * (1.0f / frames);
            track.velocity_known = !new_shot;
            track.moving = false;
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
            tracks_.push_back(
                FaceTrack{next_id_++, found, 0, found, frame, {}, false, false, false, false});
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
