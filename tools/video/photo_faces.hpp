#pragma once

#include "detection/detector_devices.hpp"
#include "tools/video/options.hpp"

#include <obs.h>

namespace veilcam::video {

// Describes the face of each photo given with --visible-face or
// --hidden-face and puts them into `settings` as faces remembered, with the
// selection mode that shows or hides them. Throws VideoError for a photo that
// cannot be read or does not show exactly one face.
void remember_photo_faces(const Options& options, obs_data_t* settings,
                          const BundledModels& models);

} // namespace veilcam::video
