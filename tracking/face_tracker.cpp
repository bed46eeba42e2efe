#include "tracking/face_tracker.hpp"

#include "tracking/box_geometry.hpp"

#include <algorithm>
#include <cmath>

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

// Far more faces than any picture holds: a crowd that keeps coming cannot
// grow the list without end.
constexpr size_t kMostTracks = 512;

// A face on camera moves no faster than this, in pixels a frame, beyond
// what the camera's own motion adds.
constexpr float kFastestFace = 80.0f;
// Doubt added a frame about a face whose shift was measured, in grid
// pitches, up to one pitch: a measure is good to a fraction of a pitch, and
// each frame's is taken afresh. About one only carried along, a share of its
// speed, or of its size while that is not known.
constexpr float kMeasuredDoubt = 0.25f;
constexpr float kCarriedDoubt = 0.25f;
// The area measured around a face, in its size on each side.
constexpr float kMeasuredMargin = 0.25f;
// The doubt about a face's place never exceeds this share of its size.
constexpr float kMostDoubt = 0.5f;
// A face's own motion, guessed from two detections, carries it no further
// than this many times its size from where the camera took it.
constexpr float kFurthestReach = 2.0f;

// A face found half its size or more away from where it was followed, or at
// a size a third off, may be someone else's.
bool jumped(const cv::Rect2f& followed, const cv::Rect2f& found) {
    const float side = std::max(followed.width, followed.height);
    const float ratio = std::max(found.width, found.height) / std::max(side, 1.0f);
    return cv::norm(box_middle(found) - box_middle(followed)) > 0.5f * side || ratio > 1.33f ||
           ratio < 0.75f;
}

// How well `found` continues `track`: the overlap with where its face is
// now; for a face seen once, anything of about its size mostly within where
// it may be is enough to follow it.
float match_score(const FaceTrack& track, const cv::Rect2f& found, float match_threshold) {
    const float iou = box_iou(track.place, found);
    if (track.velocity_known) {
        return iou;
    }
    const float size = found.width / track.place.width;
    const bool within = (hidden_box(track) & found).area() >= 0.5f * found.area();
    return within && size > 0.67f && size < 1.5f ? std::max(iou, match_threshold) : iou;
}

} // namespace

cv::Rect2f hidden_box(const FaceTrack& track) {
    // The motion it was carried by since it was last found or measured is a
    // guess from two detections, whose boxes may differ by more than a small
    // face moves: the face may still be where that guess set out from.
    const cv::Rect2f set_out(track.place.tl() - track.guessed, track.place.size());
    return grown_box(track.place | set_out, track.doubt);
}

void FaceTracker::follow(const CameraMotion& motion, const LevelGrid& before,
                         const LevelGrid& now) {
    const float pitch = std::max(now.pitch().x, now.pitch().y);
    for (FaceTrack& track : tracks_) {
        if (track.missed_since_cut >= 0) {
            continue; // the previous shot's: not carried into the new one
        }
        const float size = std::max(track.place.width, track.place.height);
        track.carried = motion.apply(track.carried);
        // Its own motion goes on, but carried along unmeasured it takes the
        // face no further than a face goes from where it was last found or
        // measured: a speed guessed from two detections may be wrong.
        const float limit = kFurthestReach * size;
        const cv::Point2f own = track.guessed + track.velocity;
        const cv::Point2f kept(std::clamp(own.x, -limit, limit), std::clamp(own.y, -limit, limit));
        const cv::Point2f camera = box_middle(motion.apply(track.place)) - box_middle(track.place);
        const cv::Point2f guess = camera + kept - track.guessed;
        cv::Point2f shift;
        // The face with some of its hair and surroundings, which move with it.
        const cv::Rect2f around = grown_box(track.place, kMeasuredMargin * size);
        if (measure_shift(before, now, around, guess, kFastestFace, shift)) {
            // A shift more than a grid pitch from both the camera's and the
            // face's own motion may have followed something else near the
            // face: the face may be anywhere between them.
            const double surprise = std::max(
                0.0, std::min(cv::norm(shift - guess), cv::norm(shift - camera)) - 0.5 * pitch);
            track.guessed = {};
            track.doubt =
                std::max(track.doubt, std::min(track.doubt + kMeasuredDoubt * pitch, pitch)) +
                static_cast<float>(surprise);
        } else {
            // Carried along: a face followed across two passes keeps to its
            // motion within a share of a grid pitch and of its own speed a
            // frame; one seen once may be moving in any way.
            shift = guess;
            track.guessed = kept;
            track.doubt += track.velocity_known
                               ? kMeasuredDoubt * pitch +
                                     kCarriedDoubt * std::hypot(track.velocity.x, track.velocity.y)
                               : std::max(pitch, kCarriedDoubt * size);
        }
        track.doubt = std::min(track.doubt, kMostDoubt * size);
        const cv::Rect2f was = track.place;
        track.place = moved_box(track.place, shift, motion.scale);
        // Its key points go with it: a face is described between passes.
        for (cv::Point2f& point : track.points) {
            point = track.place.tl() + (point - was.tl()) * (track.place.width / was.width);
        }
        track.box = moved_box(track.box, shift, motion.scale);
    }
}

void FaceTracker::start_shot() {
    for (FaceTrack& track : tracks_) {
        track.missed_since_cut = 0;
    }
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
            const float score = match_score(track, cv::Rect2f(detections[i].box), match_threshold_);
            if (score > best_score) {
                best_score = score;
                best = static_cast<int>(i);
            }
        }
        if (best >= 0 && best_score >= match_threshold_) {
            const cv::Rect2f found(detections[best].box);
            // Someone else may be in the box now: found again after a miss,
            // or found far from where it was followed.
            track.checked = track.checked && track.missed == 0 && !jumped(track.place, found);
            track.points = detections[best].points;
            track.box.x = found.x * (1.0f - keep) + track.box.x * keep;
            track.box.y = found.y * (1.0f - keep) + track.box.y * keep;
            track.box.width = found.width * (1.0f - keep) + track.box.width * keep;
            track.box.height = found.height * (1.0f - keep) + track.box.height * keep;
            track.missed = 0;
            track.unreached = 0;
            // Its own motion: how far it got from where the camera took it.
            const bool timed = !new_shot && frame > track.seen_at;
            track.velocity = timed ? (box_middle(found) - box_middle(track.carried)) *
                                         (1.0f / (frame - track.seen_at))
                                   : cv::Point2f();
            track.velocity_known = !new_shot;
            track.place = track.carried = found;
            track.guessed = {};
            track.seen_at = frame;
            track.doubt = 0.0f;
            track.missed_since_cut = -1;
            taken_[best] = true;
        } else if (track.missed_since_cut >= 0) {
            ++track.missed_since_cut;
            ++track.missed;
        } else if (reach.covers(track.place)) {
            ++track.missed;
            track.unreached = 0;
        } else {
            ++track.unreached;
        }
    }

    for (size_t i = 0; i < detections.size(); ++i) {
        if (!taken_[i]) {
            make_room();
            const cv::Rect2f found(detections[i].box);
            FaceTrack track;
            track.id = hand_out_id();
            track.box = track.place = track.carried = found;
            track.seen_at = frame;
            track.points = detections[i].points;
            tracks_.push_back(track);
            ++tracks_started_;
        }
    }

    // The previous shot's faces that two passes of the new one did not find.
    constexpr int32_t kPassesAfterCut = 2;
    // A face out of every pass's reach for its hold over as many rounds of
    // the picture has gone unseen as long as a missed one.
    const int64_t unreached_hold = static_cast<int64_t>(hold_frames_) * reach.passes_round;
    end_tracks_if([&](const FaceTrack& t) {
        return t.missed > hold_frames_ || t.missed_since_cut >= kPassesAfterCut ||
               t.unreached > unreached_hold;
    });
    renumber_crossing_tracks();
}

uint64_t FaceTracker::hand_out_id() {
    const uint64_t id = next_id_;
    next_id_ = std::min(next_id_ + 1, kLastFaceId);
    return id;
}

void FaceTracker::make_room() {
    if (tracks_.size() < kMostTracks) {
        return;
    }
    // The face unseen longest gives way: a face found now is hidden whatever.
    const auto stalest = std::min_element(
        tracks_.begin(), tracks_.end(),
        [](const FaceTrack& a, const FaceTrack& b) { return a.seen_at < b.seen_at; });
    tracks_.erase(stalest);
}

void FaceTracker::renumber_crossing_tracks() {
    // Swept from left to right: a box meets only those that start before it
    // ends, so many faces cost little more than their sorting.
    by_left_.resize(tracks_.size());
    for (size_t i = 0; i < by_left_.size(); ++i) {
        by_left_[i] = i;
    }
    std::sort(by_left_.begin(), by_left_.end(),
              [this](size_t a, size_t b) { return tracks_[a].box.x < tracks_[b].box.x; });
    overlapping_.assign(tracks_.size(), false);
    for (size_t n = 0; n < by_left_.size(); ++n) {
        const cv::Rect2f& box = tracks_[by_left_[n]].box;
        for (size_t m = n + 1;
             m < by_left_.size() && tracks_[by_left_[m]].box.x < box.x + box.width; ++m) {
            if ((box & tracks_[by_left_[m]].box).area() > 0.0f) {
                overlapping_[by_left_[n]] = overlapping_[by_left_[m]] = true;
            }
        }
    }
    for (size_t i = 0; i < tracks_.size(); ++i) {
        FaceTrack& track = tracks_[i];
        if (overlapping_[i] && !track.overlapping) {
            track.id = hand_out_id();
            track.crossed = true;
            track.checked = false;
        }
        track.overlapping = overlapping_[i];
    }
}

} // namespace veilcam
