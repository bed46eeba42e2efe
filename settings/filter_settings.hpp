#pragma once

#include "settings/face_selection.hpp"

#include <obs.h>

#include <cstdint>
#include <string>

namespace veilcam {

// What the panel stores for "How to hide".
enum ObscureMode : int32_t { kPixelate = 0, kBlur = 1, kSolid = 2 };

// The user's settings of one filter, bounded so that every consumer can use
// them as they are.
struct FilterSettings {
    bool enabled{};
    int32_t obscure_mode{}; // an ObscureMode
    int32_t pixel_size{};
    int32_t blur_radius{};
    uint32_t solid_colour{}; // as OBS stores a colour: 0xAABBGGRR
    bool show_boxes{};
    FaceSelection selection;
    std::string tracking_device; // normalised device id
    bool mirrored_profile_pass{};
    bool crowd_mode{};
    int32_t detection_max_dimension{};
    float confidence{};
    int32_t detection_interval{};
    int32_t minimum_face_size{};
    int32_t max_faces{};
    int32_t hold_frames{};
    float padding_percent{};
    float smoothing{};
    std::string model_path; // empty: the bundled YuNet model
    bool hide_all_on_failure{};
};

// Reads and bounds what the host's settings object holds (anything a settings
// file or a script may have put there).
FilterSettings read_filter_settings(obs_data_t* data);

} // namespace veilcam
