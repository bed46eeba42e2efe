#pragma once

#include "detection/face_detector.hpp"
#include "tools/video/options.hpp"
#include "tools/video/progress.hpp"

#include <obs.h>

#include <cstdint>
#include <string>

namespace veilcam::video {

struct Summary {
    int64_t frames = 0;
    int64_t damaged_packets = 0; // skipped
    uint64_t faces_tracked = 0;
    double seconds = 0.0;
};

// Runs the filter's own callbacks over every frame of the input and writes the
// result; `settings` holds the filter settings, `models` the models beside
// the tool. Throws VideoError (or another
// std::exception) with what went wrong; the output is then not left behind.
Summary anonymize(const Options& options, obs_data_t* settings, const BundledModels& models,
                  BatchPlace place = {});

} // namespace veilcam::video
