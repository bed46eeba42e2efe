#pragma once

#include "settings/settings_schema.hpp"

#include <obs.h>
#include <util/text-lookup.h>

#include <string>
#include <vector>

namespace veilcam::video {

struct Options {
    std::vector<std::string> inputs;
    std::string output;     // one input
    std::string output_dir; // any number of inputs
    std::string input;      // the one being worked on
    bool overwrite = false;
    std::string still;     // side-by-side PNG, before and after
    double still_at = 1.0; // seconds into the clip
    bool show_progress = true;
    bool help = false;
    // Photos of one face each: those people stay visible and everyone else
    // is hidden, or those people are hidden and everyone else is shown.
    std::vector<std::string> visible_faces;
    std::vector<std::string> hidden_faces;
};

// Reads the command line; every filter setting goes into `settings` under
// its own key. Throws std::invalid_argument with a message for the user.
Options parse_options(int argc, char** argv, obs_data_t* settings);

// Every option with its default and, from `locale` (the panel's texts; may be
// null), its label and what its values mean.
std::string usage(obs_data_t* defaults, lookup_t* locale,
                  const std::vector<SettingChoice>& devices);

} // namespace veilcam::video
