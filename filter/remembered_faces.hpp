#pragma once

#include "ort/face_descriptor.hpp"
#include "settings/face_selection.hpp"
#include "tracking/face_tracker.hpp"

#include <obs.h>

#include <cstdint>
#include <unordered_set>
#include <vector>

namespace veilcam {

// The faces the user listed, each remembered by a few of its descriptors
// averaged (128 numbers, never an image), so that who is shown follows the
// face and not the number it had.
class RememberedFaces {
  public:
    // Descriptors averaged into one remembered face.
    static constexpr int kSamples = 3;
    // The id of a face remembered from a photo: no track has it, and the
    // list cannot drop it.
    static constexpr uint64_t kFromPhoto = 0;

    // Forgets the faces whose ids are no longer listed (a photo's stay).
    void keep_listed(const std::unordered_set<uint64_t>& listed);
    // Remembers the face of a photo, described once.
    void remember(const FaceDescriptor& descriptor);
    void forget();
    // Whether the face listed as `id` wants another sample.
    bool learning(uint64_t id, const std::unordered_set<uint64_t>& listed) const;
    // Takes a sample of the face listed as `id`.
    void learn(uint64_t id, const FaceDescriptor& descriptor);
    // Whether the face listed as `id` has all its samples.
    bool remembers(uint64_t id) const;
    bool any() const;
    // Faces remembered in full.
    int count() const;
    // From `descriptor` to the nearest face remembered; kNotRemembered for none.
    float distance(const FaceDescriptor& descriptor) const;

    // The faces remembered, to be kept with the scene, and taken back.
    void save(obs_data_t* settings) const;
    void load(obs_data_t* settings);

  private:
    struct Face {
        uint64_t id = 0;
        FaceDescriptor sum{};
        int samples = 0;
    };
    std::vector<Face> faces_;
};

// What the selection rule needs to know of `track`.
Recognition recognition_of(const FaceTrack& track, const RememberedFaces& remembered);

} // namespace veilcam
