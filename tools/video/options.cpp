#include "tools/video/options.hpp"

#include "settings/settings_schema.hpp"

#include <cmath>
#include <cstdlib>
#include <iomanip>
#include <sstream>
#include <stdexcept>
#include <vector>

namespace veilcam::video {
namespace {

bool parse_bool(const std::string& key, const std::string& value) {
    if (value == "true" || value == "1" || value == "on") {
        return true;
    }
    if (value == "false" || value == "0" || value == "off") {
        return false;
    }
    throw std::invalid_argument("--" + key + " takes true or false, not '" + value + "'");
}

template <typename Number, typename Parse>
Number parse_number(const std::string& key, const std::string& value, Parse parse) {
    size_t used = 0;
    try {
        const Number number = parse(value, &used);
        if (used == value.size()) {
            return number;
        }
    } catch (const std::exception&) {
    }
    throw std::invalid_argument("--" + key + " takes a number, not '" + value + "'");
}

// "#RRGGBB" (the '#' may be left out), as OBS's colour property stores it:
// 0xAABBGGRR, opaque.
long long parse_colour(const std::string& key, const std::string& value) {
    const std::string digits = value.rfind('#', 0) == 0 ? value.substr(1) : value;
    const bool hex = digits.size() == 6 &&
                     digits.find_first_not_of("0123456789abcdefABCDEF") == std::string::npos;
    if (!hex) {
        throw std::invalid_argument("--" + key + " takes a colour as #RRGGBB, not '" + value + "'");
    }
    const unsigned long rgb = std::stoul(digits, nullptr, 16);
    return 0xFF000000LL | ((rgb & 0xFF) << 16) | (rgb & 0xFF00) | ((rgb >> 16) & 0xFF);
}

std::string colour_text(long long stored) {
    std::ostringstream text;
    text << '#' << std::hex << std::setfill('0') << std::setw(2) << (stored & 0xFF) << std::setw(2)
         << ((stored >> 8) & 0xFF) << std::setw(2) << ((stored >> 16) & 0xFF);
    return text.str();
}

void set_setting(obs_data_t* settings, const SettingSpec& spec, const std::string& value) {
    if (spec.kind == SettingKind::Colour) {
        obs_data_set_int(settings, spec.key, parse_colour(spec.key, value));
        return;
    }
    switch (setting_type(spec)) {
    case SettingType::Bool:
        obs_data_set_bool(settings, spec.key, parse_bool(spec.key, value));
        break;
    case SettingType::Int:
        obs_data_set_int(
            settings, spec.key,
            parse_number<long long>(
                spec.key, value, [](const std::string& s, size_t* n) { return std::stoll(s, n); }));
        break;
    case SettingType::Double:
        obs_data_set_double(
            settings, spec.key,
            parse_number<double>(spec.key, value,
                                 [](const std::string& s, size_t* n) { return std::stod(s, n); }));
        break;
    case SettingType::String:
        obs_data_set_string(settings, spec.key, value.c_str());
        break;
    }
}

std::string default_text(obs_data_t* defaults, const SettingSpec& spec) {
    if (spec.kind == SettingKind::Colour) {
        return colour_text(obs_data_get_default_int(defaults, spec.key));
    }
    std::ostringstream text;
    switch (setting_type(spec)) {
    case SettingType::Bool:
        text << (obs_data_get_default_bool(defaults, spec.key) ? "true" : "false");
        break;
    case SettingType::Int:
        text << obs_data_get_default_int(defaults, spec.key);
        break;
    case SettingType::Double:
        text << obs_data_get_default_double(defaults, spec.key);
        break;
    case SettingType::String:
        text << '"' << obs_data_get_default_string(defaults, spec.key) << '"';
        break;
    }
    return text.str();
}

std::string label(lookup_t* locale, const char* key) {
    const char* text = nullptr;
    return locale && text_lookup_getstr(locale, key, &text) ? text : key;
}

// What the panel says of a setting: its label, then its choices or its range.
std::string meaning(lookup_t* locale, const SettingSpec& spec,
                    const std::vector<SettingChoice>& devices) {
    std::ostringstream text;
    text << label(locale, spec.label);
    const char* separator = ": ";
    for (const SettingChoice& choice :
         spec.kind == SettingKind::DeviceChoice ? devices : spec.choices) {
        text << separator;
        if (choice.id) {
            text << choice.id;
        } else {
            text << choice.value;
        }
        text << " = " << label(locale, choice.label);
        separator = "; ";
    }
    if (std::isfinite(spec.lowest) && std::isfinite(spec.highest)) {
        text << " (" << spec.lowest << " to " << spec.highest << ")";
    }
    return text.str();
}

} // namespace

Options parse_options(int argc, char** argv, obs_data_t* settings) {
    Options options;
    std::vector<std::string> positional;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        auto value = [&]() -> std::string {
            if (i + 1 >= argc) {
                throw std::invalid_argument(arg + " needs a value");
            }
            return argv[++i];
        };
        if (arg == "-h" || arg == "--help") {
            options.help = true;
        } else if (arg == "--overwrite") {
            options.overwrite = true;
        } else if (arg == "--quiet") {
            options.show_progress = false;
        } else if (arg == "--still") {
            options.still = value();
        } else if (arg == "--visible-face") {
            options.visible_faces.push_back(value());
        } else if (arg == "--hidden-face") {
            options.hidden_faces.push_back(value());
        } else if (arg == "--output-dir") {
            options.output_dir = value();
        } else if (arg == "--still-at") {
            options.still_at =
                parse_number<double>("still-at", value(), [](const std::string& s, size_t* n) {
                    return std::stod(s, n);
                });
            if (!(options.still_at >= 0.0 && std::isfinite(options.still_at))) {
                throw std::invalid_argument("--still-at takes a time in seconds from 0 on");
            }
        } else if (arg.rfind("--", 0) == 0) {
            const std::string key = arg.substr(2);
            bool known = false;
            for (const SettingSpec& spec : settings_schema()) {
                if (key == spec.key) {
                    set_setting(settings, spec, value());
                    known = true;
                }
            }
            if (!known) {
                throw std::invalid_argument("unknown option " + arg);
            }
        } else {
            positional.push_back(arg);
        }
    }
    if (options.help) {
        return options;
    }
    if (!options.visible_faces.empty() && !options.hidden_faces.empty()) {
        throw std::invalid_argument(
            "--visible-face and --hidden-face cannot be mixed: the ones shown or the ones hidden");
    }
    if (!options.output_dir.empty()) {
        if (positional.empty()) {
            throw std::invalid_argument("give the input files to write into " + options.output_dir);
        }
        if (!options.still.empty()) {
            throw std::invalid_argument("--still is for one input and its output file");
        }
        options.inputs = positional;
        return options;
    }
    if (positional.size() != 2) {
        throw std::invalid_argument("give an input and an output file");
    }
    options.inputs = {positional[0]};
    options.output = positional[1];
    return options;
}

std::string usage(obs_data_t* defaults, lookup_t* locale,
                  const std::vector<SettingChoice>& devices) {
    std::ostringstream text;
    text << "usage: veilcam-video [options] INPUT OUTPUT\n"
            "       veilcam-video [options] INPUT... --output-dir DIR\n"
            "Hides the faces in video files with the veilcam filter; writes H.264 with the\n"
            "input's audio copied unchanged (into DIR as NAME.mkv for many inputs).\n\n"
            "  --overwrite            replace an output if it exists (never an input)\n"
            "  --still PNG            also write a before/after still\n"
            "  --still-at SECONDS     time of the still (default 1.0)\n"
            "  --quiet                no progress line\n"
            "  --visible-face PHOTO   keep the person in PHOTO (one face) visible, hide\n"
            "                         everyone else; repeat for more people\n"
            "  --hidden-face PHOTO    hide the person in PHOTO (one face), show everyone\n"
            "                         else; repeat for more people\n\n"
            "Filter settings, with their defaults:\n";
    for (const SettingSpec& spec : settings_schema()) {
        const std::string option =
            "--" + std::string(spec.key) + " " + default_text(defaults, spec);
        text << "  " << std::left << std::setw(35) << option << ' '
             << meaning(locale, spec, devices) << "\n";
    }
    text << "  (model_path empty: the model beside the tool, data/models/;\n"
            "   detection_interval: 1 here, 2 in OBS, where a detection on every frame\n"
            "   would cost dropped frames; a file has time to search every frame)\n";
    return text.str();
}

} // namespace veilcam::video
