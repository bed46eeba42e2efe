#include "support/test_filter.hpp"

#include "filter/region_obscuring.hpp"
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

std::vector<cv::Rect> hidden_regions(FilterInstance& instance, cv::Size frame_size) {
    std::lock_guard<std::mutex> lock(instance.mutex);
    std::vector<cv::Rect> regions;
    for (const FaceTrack& track : instance.tracker.tracks()) {
        regions.push_back(padded_face_rect(hidden_box(track, instance.frame_index),
                                           instance.settings.padding_percent, frame_size));
    }
    return regions;
}

} // namespace veilcam::test
