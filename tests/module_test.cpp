// The installed module as the host loads it: real libobs, the install layout.
#include "filter/filter_instance.hpp"
#include "support/log_capture.hpp"
#include "support/obs_host.hpp"

#include <gtest/gtest.h>
#include <obs-module.h>
#include <obs.h>

#include <dlfcn.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <memory>
#include <set>
#include <string>

namespace veilcam {
namespace {

namespace fs = std::filesystem;

const fs::path kPluginDir = fs::path(VEILCAM_TEST_PREFIX) / "obs-veilcam";
const fs::path kModuleFile = kPluginDir / "bin/64bit/obs-veilcam.so";
const fs::path kDataDir = kPluginDir / "data";

// A copy of the installed data folder that a test may change.
class DataCopy {
  public:
    DataCopy() : path_(fs::temp_directory_path() / ("veilcam-data-" + std::to_string(::getpid()))) {
        fs::remove_all(path_);
        fs::copy(kDataDir, path_, fs::copy_options::recursive);
    }
    ~DataCopy() { fs::remove_all(path_); }
    const fs::path& path() const { return path_; }

  private:
    fs::path path_;
};

class LoadedModule : public ::testing::Test {
  protected:
    void load(const fs::path& data_dir) {
        host_ = std::make_unique<test::ObsHost>();
        ASSERT_TRUE(host_->started()) << host_->error();
        ASSERT_EQ(obs_open_module(&module_, kModuleFile.c_str(), data_dir.c_str()), MODULE_SUCCESS);
        ASSERT_TRUE(obs_init_module(module_));
    }
    void TearDown() override { host_.reset(); }
    template <typename Function> Function module_function(const char* name) {
        return reinterpret_cast<Function>(dlsym(obs_get_module_lib(module_), name));
    }
    static std::string display_name() { return obs_source_get_display_name("veilcam_filter"); }

    test::LogCapture log_;
    std::unique_ptr<test::ObsHost> host_;
    obs_module_t* module_ = nullptr;
};

bool runtime_is_loaded() {
    std::ifstream maps("/proc/self/maps");
    std::string line;
    while (std::getline(maps, line)) {
        if (line.find("libonnxruntime") != std::string::npos) {
            return true;
        }
    }
    return false;
}

TEST(InstallLayout, PutsTheModuleRuntimeLocaleAndModelsWhereOBSLooks) {
    for (const char* file :
         {"bin/64bit/obs-veilcam.so", "bin/64bit/libonnxruntime.so.1", "data/locale/en-US.ini",
          "data/models/det_500m.onnx", "data/models/face_detection_yunet_2023mar.onnx"}) {
        EXPECT_TRUE(fs::is_regular_file(kPluginDir / file)) << file;
    }
}

TEST(ModuleExports, AreExactlyTheSevenModuleFunctions) {
    const std::string command = "nm -D --defined-only " + kModuleFile.string();
    FILE* pipe = popen(command.c_str(), "r");
    ASSERT_NE(pipe, nullptr);
    std::set<std::string> names;
    char line[512];
    while (fgets(line, sizeof(line), pipe)) {
        char address[64], kind[8], name[400];
        if (sscanf(line, "%63s %7s %399s", address, kind, name) == 3) {
            names.insert(name);
        }
    }
    ASSERT_EQ(pclose(pipe), 0);
    const std::set<std::string> expected = {"obs_module_set_pointer", "obs_module_ver",
                                            "obs_module_load",        "obs_module_description",
                                            "obs_module_set_locale",  "obs_module_free_locale",
                                            "obs_module_get_string"};
    EXPECT_EQ(names, expected);
}

TEST_F(LoadedModule, RegistersTheAsyncVideoFilterAndWritesTheBannerOnce) {
    load(kDataDir);
    const char* id = nullptr;
    bool listed = false;
    for (size_t i = 0; obs_enum_filter_types(i, &id); ++i) {
        listed = listed || std::string(id) == "veilcam_filter";
    }
    EXPECT_TRUE(listed);
    EXPECT_EQ(obs_get_source_output_flags("veilcam_filter"), OBS_SOURCE_VIDEO | OBS_SOURCE_ASYNC);
    EXPECT_EQ(display_name(), "Face Anonymizer (veilcam)");
    EXPECT_STREQ(obs_get_module_description(module_),
                 "Automatic face tracking and pixelation demo filter");
    EXPECT_EQ(log_.count("[obs-veilcam] loaded v0.6.0", LOG_INFO), 1);
    EXPECT_EQ(log_.count("obs-veilcam] loaded"), 1);
    EXPECT_EQ(log_.count("[veilcam]"), 0);
    EXPECT_FALSE(runtime_is_loaded()) << "nothing is loaded before a GPU detector is asked for";
}

TEST_F(LoadedModule, LocaleWithoutTheNameYieldsTheKey) {
    DataCopy data;
    std::ofstream(data.path() / "locale/en-US.ini") << "Enabled=\"On\"\n";
    load(data.path());
    EXPECT_EQ(display_name(), "VeilcamFilter.Name");
}

TEST_F(LoadedModule, NoLocaleYieldsTheKey) {
    DataCopy data;
    fs::remove_all(data.path() / "locale");
    load(data.path());
    EXPECT_EQ(display_name(), "VeilcamFilter.Name");
}

TEST_F(LoadedModule, LocaleCanBeFreedAndSetAgain) {
    load(kDataDir);
    auto set_locale = module_function<void (*)(const char*)>("obs_module_set_locale");
    auto free_locale = module_function<void (*)()>("obs_module_free_locale");
    auto get_string = module_function<bool (*)(const char*, const char**)>("obs_module_get_string");
    ASSERT_TRUE(set_locale && free_locale && get_string);

    free_locale();
    EXPECT_EQ(display_name(), "VeilcamFilter.Name");
    free_locale();
    set_locale("en-US");
    set_locale("de-DE"); // falls back to en-US for every key
    EXPECT_EQ(display_name(), "Face Anonymizer (veilcam)");
    const char* text = nullptr;
    EXPECT_TRUE(get_string("TrackingCpu", &text));
    EXPECT_STREQ(text, "CPU (YuNet)");
    EXPECT_FALSE(get_string("NoSuchKey", &text));
}

TEST_F(LoadedModule, CreatesAndDestroysFiltersWithAndWithoutModels) {
    DataCopy without_models;
    fs::remove_all(without_models.path() / "models");
    load(without_models.path());
    obs_data_t* settings = obs_data_create();
    obs_data_set_string(settings, "excluded_face_ids", "4, 2");
    obs_source_t* filter = obs_source_create_private("veilcam_filter", "veil", settings);
    ASSERT_NE(filter, nullptr);
    const auto* instance = static_cast<const FilterInstance*>(obs_obj_get_data(filter));
    ASSERT_NE(instance, nullptr);
    EXPECT_EQ(instance->gpu_model_path, "");
    EXPECT_EQ(instance->model_path, "");
    EXPECT_EQ(instance->face_ids, (std::unordered_set<uint64_t>{2, 4}));
    EXPECT_EQ(instance->blur_radius, 71) << "created with the host's defaults";
    obs_source_release(filter);
    obs_data_release(settings);
    EXPECT_EQ(log_.count("[veilcam]", LOG_ERROR), 0);
}

TEST_F(LoadedModule, FindsBothModelsInTheDataFolder) {
    load(kDataDir);
    obs_source_t* filter = obs_source_create_private("veilcam_filter", "veil", nullptr);
    ASSERT_NE(filter, nullptr);
    const auto* instance = static_cast<const FilterInstance*>(obs_obj_get_data(filter));
    ASSERT_NE(instance, nullptr);
    EXPECT_TRUE(fs::equivalent(instance->gpu_model_path, kDataDir / "models/det_500m.onnx"));
    EXPECT_TRUE(fs::equivalent(instance->model_path,
                               kDataDir / "models/face_detection_yunet_2023mar.onnx"));
    EXPECT_FALSE(instance->detector_ready);
    obs_source_release(filter);
}

TEST_F(LoadedModule, PropertiesPanelListsTheNineteenSettingsInOrder) {
    load(kDataDir);
    struct Expected {
        const char* name;
        obs_property_type type;
        const char* label;
        double min, max, step; // sliders only
    };
    const Expected expected[] = {
        {"enabled", OBS_PROPERTY_BOOL, "Hide faces", 0, 0, 0},
        {"obscure_mode", OBS_PROPERTY_LIST, "How to hide", 0, 0, 0},
        {"pixel_size", OBS_PROPERTY_INT, "Pixel block size", 4, 100, 1},
        {"blur_radius", OBS_PROPERTY_INT, "Blur strength", 3, 151, 2},
        {"show_boxes", OBS_PROPERTY_BOOL, "Show face boxes and ids", 0, 0, 0},
        {"face_selection_mode", OBS_PROPERTY_LIST, "Listed faces", 0, 0, 0},
        {"excluded_face_ids", OBS_PROPERTY_TEXT, "Face ids (e.g. 1, 4, 7)", 0, 0, 0},
        {"tracking_device", OBS_PROPERTY_LIST, "Detection device", 0, 0, 0},
        {"mirrored_profile_pass", OBS_PROPERTY_BOOL, "Also look for faces in profile", 0, 0, 0},
        {"crowd_mode", OBS_PROPERTY_BOOL, "Crowd mode (many small faces)", 0, 0, 0},
        {"detection_max_dimension", OBS_PROPERTY_INT, "Detection image size", 320, 1280, 64},
        {"confidence", OBS_PROPERTY_FLOAT, "Detection confidence", 0.25, 0.95, 0.01},
        {"detection_interval", OBS_PROPERTY_INT, "Detect every n-th frame", 1, 15, 1},
        {"minimum_face_size", OBS_PROPERTY_INT, "Smallest face (pixels)", 12, 300, 1},
        {"max_faces", OBS_PROPERTY_INT, "Most faces", 1, 50, 1},
        {"hold_frames", OBS_PROPERTY_INT, "Keep a lost face hidden for (detections)", 0, 120, 1},
        {"padding_percent", OBS_PROPERTY_FLOAT, "Margin around each face (%)", 0, 100, 1},
        {"smoothing", OBS_PROPERTY_FLOAT, "Box smoothing", 0, 0.98, 0.01},
        {"model_path", OBS_PROPERTY_PATH, "YuNet model file (empty: bundled model)", 0, 0, 0},
    };
    obs_properties_t* props = obs_get_source_properties("veilcam_filter");
    ASSERT_NE(props, nullptr);
    obs_property_t* property = obs_properties_first(props);
    for (const Expected& e : expected) {
        ASSERT_NE(property, nullptr) << "missing " << e.name;
        EXPECT_STREQ(obs_property_name(property), e.name);
        EXPECT_EQ(obs_property_get_type(property), e.type) << e.name;
        EXPECT_STREQ(obs_property_description(property), e.label);
        if (e.type == OBS_PROPERTY_INT) {
            EXPECT_EQ(obs_property_int_type(property), OBS_NUMBER_SLIDER) << e.name;
            EXPECT_EQ(obs_property_int_min(property), e.min) << e.name;
            EXPECT_EQ(obs_property_int_max(property), e.max) << e.name;
            EXPECT_EQ(obs_property_int_step(property), e.step) << e.name;
        }
        if (e.type == OBS_PROPERTY_FLOAT) {
            EXPECT_EQ(obs_property_float_type(property), OBS_NUMBER_SLIDER) << e.name;
            EXPECT_DOUBLE_EQ(obs_property_float_min(property), e.min) << e.name;
            EXPECT_DOUBLE_EQ(obs_property_float_max(property), e.max) << e.name;
            EXPECT_DOUBLE_EQ(obs_property_float_step(property), e.step) << e.name;
        }
        obs_property_next(&property);
    }
    EXPECT_EQ(property, nullptr) << "more than nineteen properties";

    auto int_items = [&](const char* name) {
        std::vector<std::pair<std::string, long long>> items;
        obs_property_t* list = obs_properties_get(props, name);
        EXPECT_EQ(obs_property_list_type(list), OBS_COMBO_TYPE_LIST);
        EXPECT_EQ(obs_property_list_format(list), OBS_COMBO_FORMAT_INT);
        for (size_t i = 0; i < obs_property_list_item_count(list); ++i) {
            items.emplace_back(obs_property_list_item_name(list, i),
                               obs_property_list_item_int(list, i));
        }
        return items;
    };
    using IntItems = std::vector<std::pair<std::string, long long>>;
    EXPECT_EQ(int_items("obscure_mode"), (IntItems{{"Pixelate", 0}, {"Blur", 1}}));
    EXPECT_EQ(int_items("face_selection_mode"), (IntItems{{"Stay visible (hide all others)", 0},
                                                          {"Are hidden (show all others)", 1}}));

    // No DXGI on Linux: the CPU is the only device.
    obs_property_t* devices = obs_properties_get(props, "tracking_device");
    EXPECT_EQ(obs_property_list_format(devices), OBS_COMBO_FORMAT_STRING);
    ASSERT_EQ(obs_property_list_item_count(devices), 1u);
    EXPECT_STREQ(obs_property_list_item_name(devices, 0), "CPU (YuNet)");
    EXPECT_STREQ(obs_property_list_item_string(devices, 0), "cpu");

    obs_property_t* text = obs_properties_get(props, "excluded_face_ids");
    EXPECT_EQ(obs_property_text_type(text), OBS_TEXT_DEFAULT);
    obs_property_t* path = obs_properties_get(props, "model_path");
    EXPECT_EQ(obs_property_path_type(path), OBS_PATH_FILE);
    EXPECT_STREQ(obs_property_path_filter(path), "YuNet ONNX (*.onnx)");
    EXPECT_EQ(obs_property_path_default_path(path), nullptr);
    obs_properties_destroy(props);
}

TEST_F(LoadedModule, PanelLabelsAreTheKeysWithoutALocale) {
    DataCopy data;
    fs::remove_all(data.path() / "locale");
    load(data.path());
    obs_properties_t* props = obs_get_source_properties("veilcam_filter");
    EXPECT_STREQ(obs_property_description(obs_properties_get(props, "enabled")), "Enabled");
    EXPECT_STREQ(obs_property_description(obs_properties_get(props, "padding_percent")), "Padding");
    EXPECT_STREQ(obs_property_list_item_name(obs_properties_get(props, "tracking_device"), 0),
                 "TrackingCpu");
    obs_properties_destroy(props);
}

} // namespace
} // namespace veilcam
