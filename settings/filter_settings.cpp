#include "settings/filter_settings.hpp"

#include "settings/settings_schema.hpp"

#include <algorithm>
#include <cfloat>
#include <cmath>

namespace veilcam {
namespace {

// Many small faces: a larger detection image, a lower threshold, room for all.
constexpr int32_t kCrowdDetectionSize = 960;
constexpr float kCrowdConfidence = 0.42f;
constexpr int32_t kCrowdMaxFaces = 100;

// A stored NaN means nothing: it takes the default.
float read_float(obs_data_t* data, const SettingSpec& spec) {
    double value = obs_data_get_double(data, spec.key);
    if (std::isnan(value)) {
        value = spec.default_number;
    }
    value = std::clamp(value, std::max(spec.lowest, -static_cast<double>(FLT_MAX)),
                       std::min(spec.highest, static_cast<double>(FLT_MAX)));
    return static_cast<float>(value);
}

template <typename... Visitors> struct Overloaded : Visitors... { using Visitors::operator()...; };
template <typename... Visitors> Overloaded(Visitors...) -> Overloaded<Visitors...>;

} // namespace

FilterSettings read_filter_settings(obs_data_t* data) {
    FilterSettings s;
    for (const SettingSpec& spec : settings_schema()) {
        std::visit(
            Overloaded{
                [&](bool FilterSettings::*field) { s.*field = obs_data_get_bool(data, spec.key); },
                [&](int32_t FilterSettings::*field) { s.*field = read_int(data, spec); },
                [&](float FilterSettings::*field) { s.*field = read_float(data, spec); },
                [&](std::string FilterSettings::*field) { s.*field = read_text(data, spec); },
                [&](SettingReader read) { read(data, spec, s); },
            },
            spec.field);
    }
    if (s.blur_radius % 2 == 0) {
        ++s.blur_radius;
    }
    if (s.crowd_mode) {
        s.detection_max_dimension = std::max(s.detection_max_dimension, kCrowdDetectionSize);
        s.confidence = std::min(s.confidence, kCrowdConfidence);
        s.max_faces = std::max(s.max_faces, kCrowdMaxFaces);
    }
    return s;
}

} // namespace veilcam
