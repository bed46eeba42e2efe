#include "support/test_filter.hpp"

#include "plugin/filter_callbacks.hpp"
#include "support/samples.hpp"

#include <stdexcept>

namespace veilcam::test {

TestFilter::TestFilter(const SettingsEdit& edit) : settings_(obs_data_create()) {
    get_defaults(settings_);
    obs_data_set_string(settings_, "model_path", yunet_model().c_str());
    if (edit) {
        edit(settings_);
    }
    instance_ = static_cast<FilterInstance*>(create_with_models(
        settings_, nullptr,
        {yunet_model(), yunet_any_size_model(), scrfd_model(), scrfd_any_size_model()}));
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
