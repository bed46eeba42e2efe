// The installed module as the host loads it: real libobs, the install layout.
#include "filter/filter_instance.hpp"
#include "settings/settings_schema.hpp"
#include "support/clips.hpp"
#include "support/log_capture.hpp"
#include "support/obs_host.hpp"

#include <gtest/gtest.h>
#include <obs-module.h>
#include <obs.h>

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

class LoadedModule : public ::testing::Test {
  protected:
    void load(const fs::path& data_dir) {
        host_ = std::make_unique<test::ObsHost>();
        ASSERT_TRUE(host_->started()) << host_->error();
        ASSERT_EQ(obs_open_module(&module_, kModuleFile.c_str(), data_dir.c_str()), MODULE_SUCCESS);
        ASSERT_TRUE(obs_init_module(module_));
    }
    void TearDown() override { host_.reset(); }
    static std::string display_name() { return obs_source_get_display_name("veilcam_filter"); }

    test::LogCapture log_;
    std::unique_ptr<test::ObsHost> host_;
    obs_module_t* module_ = nullptr;
};

TEST(InstallLayout, HoldsTheFilesWhereOBSLooksAndTheModuleExportsTheSevenFunctions) {
    for (const char* file :
         {"bin/64bit/obs-veilcam.so", "bin/64bit/libonnxruntime.so.1", "data/locale/en-US.ini",
          "data/models/det_500m.onnx", "data/models/face_detection_yunet_2023mar.onnx",
          "data/models/face_detection_yunet_2023mar_any_size.onnx",
          "data/models/det_500m_any_size.onnx"}) {
        EXPECT_TRUE(fs::is_regular_file(kPluginDir / file)) << file;
    }
    const test::CommandRun nm =
        test::run_command("nm -D --defined-only --format=just-symbols " + kModuleFile.string());
    ASSERT_EQ(nm.exit_code, 0) << nm.output;
    EXPECT_EQ(nm.output, "obs_module_description\nobs_module_free_locale\nobs_module_get_string\n"
                         "obs_module_load\nobs_module_set_locale\nobs_module_set_pointer\n"
                         "obs_module_ver\n");
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
    std::ifstream maps("/proc/self/maps");
    const std::string mapped(std::istreambuf_iterator<char>(maps), {});
    EXPECT_EQ(mapped.find("libonnxruntime"), std::string::npos)
        << "nothing is loaded before a detector on the runtime is asked for";
}

// The panel as libobs builds it from the loaded module: the schema's settings
// in its order, with its controls and ranges, every label in the locale file.
TEST_F(LoadedModule, PropertiesPanelOffersEverySettingOfTheSchema) {
    load(kDataDir);
    std::ifstream locale(kDataDir / "locale/en-US.ini");
    std::set<std::string> locale_keys;
    for (std::string line; std::getline(locale, line);) {
        locale_keys.insert(line.substr(0, line.find('=')));
    }
    obs_properties_t* props = obs_get_source_properties("veilcam_filter");
    ASSERT_NE(props, nullptr);
    obs_property_t* property = obs_properties_first(props);
    for (const SettingSpec& spec : settings_schema()) {
        ASSERT_NE(property, nullptr) << "missing " << spec.key;
        EXPECT_STREQ(obs_property_name(property), spec.key);
        EXPECT_TRUE(locale_keys.count(spec.label)) << spec.label;
        EXPECT_NE(std::string(obs_property_description(property)), spec.label) << spec.key;
        if (obs_property_get_type(property) == OBS_PROPERTY_LIST) {
            EXPECT_EQ(obs_property_list_item_count(property), spec.choices.size()) << spec.key;
        }
        for (const SettingChoice& choice : spec.choices) {
            EXPECT_TRUE(locale_keys.count(choice.label)) << choice.label;
        }
        obs_property_next(&property);
    }
    EXPECT_EQ(property, nullptr) << "more properties than settings";
    // No DXGI on Linux: the three CPU detectors are the only devices.
    obs_property_t* devices = obs_properties_get(props, "tracking_device");
    ASSERT_EQ(obs_property_list_item_count(devices), 3u);
    const std::pair<const char*, const char*> cpu_items[] = {
        {"CPU (YuNet)", "cpu"},
        {"CPU, fast (YuNet on ONNX Runtime)", "cpu-ort"},
        {"CPU, more faces (SCRFD on ONNX Runtime)", "cpu-scrfd"}};
    for (size_t i = 0; i < 3; ++i) {
        EXPECT_STREQ(obs_property_list_item_name(devices, i), cpu_items[i].first);
        EXPECT_STREQ(obs_property_list_item_string(devices, i), cpu_items[i].second);
    }
    EXPECT_EQ(obs_property_list_item_int(obs_properties_get(props, "obscure_mode"), 1), 1);
    EXPECT_STREQ(obs_property_path_filter(obs_properties_get(props, "model_path")),
                 "YuNet ONNX (*.onnx)");
    obs_properties_destroy(props);
}

} // namespace
} // namespace veilcam
