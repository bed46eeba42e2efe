#include "filter/remembered_faces.hpp"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <memory>
#include <string>

namespace veilcam {

void RememberedFaces::keep_listed(const std::unordered_set<uint64_t>& listed) {
    faces_.erase(std::remove_if(faces_.begin(), faces_.end(),
                                [&](const Face& face) {
                                    return face.id != kFromPhoto && listed.count(face.id) == 0;
                                }),
                 faces_.end());
}

void RememberedFaces::remember(const FaceDescriptor& descriptor) {
    Face face{kFromPhoto, {}, kSamples};
    for (size_t i = 0; i < descriptor.size(); ++i) {
        face.sum[i] = descriptor[i] * static_cast<float>(kSamples);
    }
    faces_.push_back(face);
}

void RememberedFaces::forget() {
    faces_.clear();
}

bool RememberedFaces::learning(uint64_t id, const std::unordered_set<uint64_t>& listed) const {
    return listed.count(id) != 0 && !remembers(id);
}

void RememberedFaces::learn(uint64_t id, const FaceDescriptor& descriptor) {
    auto face =
        std::find_if(faces_.begin(), faces_.end(), [&](const Face& f) { return f.id == id; });
    if (face == faces_.end()) {
        face = faces_.insert(faces_.end(), Face{id, {}, 0});
    }
    for (size_t i = 0; i < descriptor.size(); ++i) {
        face->sum[i] += descriptor[i];
    }
    ++face->samples;
}

bool RememberedFaces::remembers(uint64_t id) const {
    return std::any_of(faces_.begin(), faces_.end(),
                       [&](const Face& f) { return f.id == id && f.samples >= kSamples; });
}

bool RememberedFaces::any() const {
    return count() > 0;
}

int RememberedFaces::count() const {
    return static_cast<int>(std::count_if(faces_.begin(), faces_.end(),
                                          [](const Face& f) { return f.samples >= kSamples; }));
}

namespace {

// Where the scene keeps the remembered faces: each its id and its 128
// numbers as text.
constexpr const char* kRememberedKey = "remembered_faces";

// The host's data objects and arrays, released on every path.
using DataOwner = std::unique_ptr<obs_data_t, void (*)(obs_data_t*)>;
using ArrayOwner = std::unique_ptr<obs_data_array_t, void (*)(obs_data_array_t*)>;

FaceDescriptor mean_of(const FaceDescriptor& sum, int samples) {
    FaceDescriptor mean;
    for (size_t i = 0; i < mean.size(); ++i) {
        mean[i] = sum[i] / static_cast<float>(samples);
    }
    return mean;
}

} // namespace

float RememberedFaces::distance(const FaceDescriptor& descriptor) const {
    float nearest = kNotRemembered;
    for (const Face& face : faces_) {
        if (face.samples >= kSamples) {
            nearest =
                std::min(nearest, descriptor_distance(descriptor, mean_of(face.sum, face.samples)));
        }
    }
    return nearest;
}

void RememberedFaces::save(obs_data_t* settings) const {
    const ArrayOwner array(obs_data_array_create(), obs_data_array_release);
    for (const Face& face : faces_) {
        if (face.samples < kSamples) {
            continue;
        }
        std::string numbers;
        for (const float value : mean_of(face.sum, face.samples)) {
            numbers += std::to_string(value) + " ";
        }
        const DataOwner item(obs_data_create(), obs_data_release);
        obs_data_set_int(item.get(), "id", static_cast<long long>(face.id));
        obs_data_set_string(item.get(), "descriptor", numbers.c_str());
        obs_data_array_push_back(array.get(), item.get());
    }
    obs_data_set_array(settings, kRememberedKey, array.get());
}

void RememberedFaces::load(obs_data_t* settings) {
    faces_.clear();
    const ArrayOwner array(obs_data_get_array(settings, kRememberedKey), obs_data_array_release);
    for (size_t i = 0; i < obs_data_array_count(array.get()); ++i) {
        const DataOwner item(obs_data_array_item(array.get(), i), obs_data_release);
        Face face{static_cast<uint64_t>(obs_data_get_int(item.get(), "id")), {}, kSamples};
        const char* text = obs_data_get_string(item.get(), "descriptor");
        size_t read = 0;
        for (char* end = nullptr; read < face.sum.size(); ++read, text = end) {
            face.sum[read] = std::strtof(text, &end) * static_cast<float>(kSamples);
            if (end == text || !std::isfinite(face.sum[read])) {
                break;
            }
        }
        // A damaged entry remembers nobody: its face stays hidden.
        if (read == face.sum.size()) {
            faces_.push_back(face);
        }
    }
}

Recognition recognition_of(const FaceTrack& track, const RememberedFaces& remembered) {
    return {remembered.any(), remembered.remembers(track.id), track.checked,
            track.checked ? remembered.distance(track.descriptor) : kNotRemembered};
}

} // namespace veilcam
