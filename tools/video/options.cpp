#include "tools/video/options.hpp"

#include "settings/keys.hpp"

#include <cstdlib>
#include <sstream>
#include <stdexcept>
#include <vector>

namespace veilcam::video {
namespace {

enum class Kind { Bool, Int, Double, String };

struct SettingOption {
    const char* key;
    Kind kind;
};

const std::vector<SettingOption>& setting_options() {
    using namespace setting;
    static const std::vector<SettingOption> options = {
        {kEnabled, Kind::Bool},
        {kObscureMode, Kind::Int},
        {kPixelSize, Kind::Int},
        {kBlurRadius, Kind::Int},
        {kShowBoxes, Kind::Bool},
        {kFaceSelectionMode, Kind::Int},
        {kFaceIds, Kind::String},
        {kTrackingDevice, Kind::String},
        {kMirroredProfilePass, Kind::Bool},
        {kCrowdMode, Kind::Bool},
        {kDetectionMaxDimension, Kind::Int},
        {kConfidence, Kind::Double},
        {kDetectionInterval, Kind::Int},
        {kMinimumFaceSize, Kind::Int},
        {kMaxFaces, Kind::Int},
        {kHoldFrames, Kind::Int},
        {kPaddingPercent, Kind::Double},
        {kSmoothing, Kind::Double},
        {kModelPath, Kind::String},
    };
    return options;
}

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

void set_setting(obs_data_t* settings, const SettingOption& option, const std::string& value) {
    switch (option.kind) {
    case Kind::Bool:
        obs_data_set_bool(settings, option.key, parse_bool(option.key, value));
        break;
    case Kind::Int:
        obs_data_set_int(
            settings, option.key,
            parse_number<long long>(option.key, value, [](const std::string& s, size_t* n) {
                return std::stoll(s, n);
            }));
        break;
    case Kind::Double:
        obs_data_set_double(
            settings, option.key,
            parse_number<double>(option.key, value,
                                 [](const std::string& s, size_t* n) { return std::stod(s, n); }));
        break;
    case Kind::String:
        obs_data_set_string(settings, option.key, value.c_str());
        break;
    }
}

std::string default_text(obs_data_t* defaults, const SettingOption& option) {
    std::ostringstream text;
    switch (option.kind) {
    case Kind::Bool:
        text << (obs_data_get_default_bool(defaults, option.key) ? "true" : "false");
        break;
    case Kind::Int:
        text << obs_data_get_default_int(defaults, option.key);
        break;
    case Kind::Double:
        text << obs_data_get_default_double(defaults, option.key);
        break;
    case Kind::String:
        text << '"' << obs_data_get_default_string(defaults, option.key) << '"';
        break;
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
        } else if (arg == "--still-at") {
            options.still_at =
                parse_number<double>("still-at", value(), [](const std::string& s, size_t* n) {
                    return std::stod(s, n);
                });
        } else if (arg == "--detector") {
            const std::string detector = value();
            if (detector != "yunet" && detector != "scrfd-cpu") {
                throw std::invalid_argument("--detector takes yunet or scrfd-cpu, not '" +
                                            detector + "'");
            }
            options.scrfd_cpu = detector == "scrfd-cpu";
        } else if (arg.rfind("--", 0) == 0) {
            const std::string key = arg.substr(2);
            bool known = false;
            for (const SettingOption& option : setting_options()) {
                if (key == option.key) {
                    set_setting(settings, option, value());
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
    if (positional.size() != 2) {
        throw std::invalid_argument("give an input and an output file");
    }
    options.input = positional[0];
    options.output = positional[1];
    return options;
}

std::string usage(obs_data_t* defaults) {
    std::ostringstream text;
    text << "usage: veilcam-video [options] INPUT OUTPUT\n"
            "Hides the faces in a video file with the veilcam filter; writes H.264 with the\n"
            "input's audio copied unchanged.\n\n"
            "  --overwrite            replace OUTPUT if it exists (never the input)\n"
            "  --detector NAME        yunet (default) or scrfd-cpu\n"
            "  --still PNG            also write a before/after still\n"
            "  --still-at SECONDS     time of the still (default 1.0)\n"
            "  --quiet                no progress line\n\n"
            "Filter settings, with their defaults:\n";
    for (const SettingOption& option : setting_options()) {
        text << "  --" << option.key << " " << default_text(defaults, option) << "\n";
    }
    text << "  (model_path empty: the model beside the tool, data/models/)\n";
    return text.str();
}

} // namespace veilcam::video
