#pragma once

#include "detection/face_key_points.hpp"
#include "tracking/face_description.hpp"
#include "tracking/face_ids.hpp"
#include "tracking/frame_motion.hpp"

#include <opencv2/core/types.hpp>

#include <algorithm>
#include <array>
#include <cstdint>
#include <vector>

namespace veilcam {

// A face that a detection pass found, in frame pixels.
struct FaceDetection {
    FaceDetection() = default;
    FaceDetection(const cv::Rect& found, const FaceKeyPoints& at = {}) : box(found), points(at) {}
    FaceDetection(int x, int y, int width, int height) : box(x, y, width, height) {}

    cv::Rect box;
    FaceKeyPoints points{};
};

// A face's grey levels on a coarse grid, brought to mean 0 and spread 1:
// what it looks like, whatever the light.
inline constexpr int kLookSide = 12;
using FaceLook = std::array<float, kLookSide * kLookSide>;

struct FaceTrack {
    uint64_t id = 0;
    cv::Rect2f box; // smoothed from pass to pass, moved along with the face
    int32_t missed = 0;
    int32_t unreached = 0;       // passes in a row that could not have found it
    uint64_t seen_at = 0;        // the frame it was last found on
    cv::Rect2f place;            // where the face is now: found, then followed frame by frame
    float doubt = 0.0f;          // how far the face may be from `place`, in pixels each way
    cv::Rect2f carried;          // where the camera alone carried the face since it was found
    cv::Point2f velocity;        // its own motion in pixels a frame, the camera's left out
    cv::Point2f guessed;         // its own motion carried along since it was last found or measured
    bool velocity_known = false; // seen twice in one shot
    int32_t missed_since_cut = -1; // passes since a cut that missed it; -1: none
    bool overlapping = false;      // its box overlaps another track's now
    bool crossed = false;          // it has overlapped another: who is who may have swapped
    FaceKeyPoints points{};        // where its key points were when it was last found
    // Whether its face was described since the last event that may have
    // put someone else in its box (a miss, a jump, a crossing, a new look),
    // when, and as what.
    bool checked = false;
    uint64_t checked_at = 0;
    FaceDescriptor descriptor{};
    FaceLook look{}; // when it was last found; all 0 before
};

// What to hide for a track: where its face is now, with the doubt about
// that on every side. A face just found is its found box.
cv::Rect2f hidden_box(const FaceTrack& track);

// Where a detection pass looked for faces: a face it could not have found
// there does not count as missed. Faces whose box has a shorter side than
// `smallest_box` are looked for only inside the areas seen `closer`.
struct PassReach {
    float smallest_box = 0.0f;
    std::array<cv::Rect2f, 2> closer;
    int passes_round = 1; // passes until every part of the picture was seen closer

    bool covers(const cv::Rect2f& box) const {
        return std::min(box.width, box.height) >= smallest_box ||
               std::any_of(closer.begin(), closer.end(),
                           [&](const cv::Rect2f& area) { return (box & area) == box; });
    }
};

// Gives faces stable ids from one detection pass to the next, smooths their
// boxes and keeps a lost face for `hold_frames` passes so that a missed
// detection never uncovers it. No id is handed out twice, and two tracks
// whose boxes come to overlap (faces crossing) both get new ids: boxes
// alone cannot tell which face went where.
class FaceTracker {
  public:
    FaceTracker(float smoothing, float match_threshold, int32_t hold_frames);

    void configure(float smoothing, float match_threshold, int32_t hold_frames);
    // One detection pass on `frame`; after a cut (`new_shot`) a matched box
    // takes its detection as it is, with no motion carried over.
    void update(const std::vector<FaceDetection>& detections, uint64_t frame = 0,
                bool new_shot = false, const PassReach& reach = {});

    // Moves every track of this shot to where its face went between the
    // frames that `before` and `now` sample: measured where its face shows
    // enough, else carried by the camera's `motion` and its own velocity,
    // with a doubt that grows.
    void follow(const CameraMotion& motion, const LevelGrid& before, const LevelGrid& now);
    // A cut: the tracks so far belong to the previous shot. Those that the
    // next two passes do not find again end; until then they stay where
    // they are.
    void start_shot();
    // Ends the tracks that `ended` picks.
    template <typename Predicate> void end_tracks_if(Predicate ended) {
        tracks_.erase(std::remove_if(tracks_.begin(), tracks_.end(), ended), tracks_.end());
    }
    // Hands out no id below `next` from now on.
    void continue_ids_from(uint64_t next) { next_id_ = std::clamp(next, next_id_, kLastFaceId); }
    uint64_t next_id() const { return next_id_; }

    const std::vector<FaceTrack>& tracks() const { return tracks_; }
    // What describing the face of track `index` on `frame` found.
    void note_described(size_t index, const FaceDescriptor& descriptor, uint64_t frame) {
        tracks_[index].checked = true;
        tracks_[index].checked_at = frame;
        tracks_[index].descriptor = descriptor;
    }
    // How the face of track `index` looks where it was found now; where it
    // looks like someone else than on the pass before, who it is is known no
    // more.
    void note_look(size_t index, const FaceLook& look, bool same_face) {
        tracks_[index].look = look;
        tracks_[index].checked = tracks_[index].checked && same_face;
    }
    // Who is in which box is known of no track until it is described again.
    void forget_descriptions() {
        for (FaceTrack& track : tracks_) {
            track.checked = false;
        }
    }
    float smoothing() const { return smoothing_; }
    float match_threshold() const { return match_threshold_; }
    int32_t hold_frames() const { return hold_frames_; }
    // How many faces have been followed so far: new ids after a crossing, and
    // ids skipped, count no new face.
    uint64_t tracks_started() const { return tracks_started_; }

  private:
    void renumber_crossing_tracks();
    void make_room();
    uint64_t hand_out_id();

    float smoothing_ = 0.0f;
    float match_threshold_ = 0.0f;
    int32_t hold_frames_ = 0;
    uint64_t next_id_ = 1;
    uint64_t tracks_started_ = 0;
    std::vector<FaceTrack> tracks_;
    std::vector<bool> taken_;
    std::vector<size_t> by_left_;
    std::vector<bool> overlapping_;
};

} // namespace veilcam
