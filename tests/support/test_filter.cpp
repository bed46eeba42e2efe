#include "support/test_filter.hpp"

#include "plugin/filter_callbacks.hpp"

#include <stdexcept>

namespace veilcam::test {

TestFilter::TestFilter(const SettingsEdit& edit) : settings_(obs_data_create()) {
    get_defaults(settings_);
    if (edit) {
        edit(settings_);
    }
    // The models folder sits in the data folder that the table's names start from.
    instance_ = static_cast<FilterInstance*>(
        create_with_models(settings_, nullptr, find_bundled_models([](const char* file) {
                               return std::string(VEILCAM_MODELS_DIR "/../") + file;
                           })));
    if (!instance_) {
        obs_data_release(settings_);
        throw std::runtime_error("create returned no filter");
    }
}

TestFilter::~TestFilter() {
    destroy(instance_);
    obs_data_release(settings_);
}

void TestFilter::update(const SettingsEdit& edit) {
    edit(settings_);
    filter_update(instance_, settings_);
}

obs_source_frame* TestFilter::run(TestFrame& frame) {
    return filter_video(instance_, &frame.frame);
}

} // namespace veilcam::test
