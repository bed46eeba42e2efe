#pragma once

#include "filter/filter_instance.hpp"

#include <obs.h>

namespace veilcam {

// The panel's controls for faces remembered: how many there are, a button
// that forgets them and clears the list, and a photo whose one face is
// remembered, with what became of the last photo picked.
void add_remembered_faces_controls(obs_properties_t* props, FilterInstance& instance);

// Remembers the face of the photo at `path`; what is wrong with the photo
// goes to the log and to the panel.
void remember_face_in_photo(FilterInstance& instance, const char* path);

} // namespace veilcam
