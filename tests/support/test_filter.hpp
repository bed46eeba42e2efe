#pragma once

#include "filter/filter_instance.hpp"
#include "support/frames.hpp"

#include <obs.h>

#include <functional>

namespace veilcam::test {

using SettingsEdit = std::function<void(obs_data_t*)>;

// A filter made through the host callbacks, as libobs makes one: defaults
// first, then the test's own settings, with the YuNet model of the build.
class TestFilter {
  public:
    explicit TestFilter(const SettingsEdit& edit = {});
    ~TestFilter();
    TestFilter(const TestFilter&) = delete;
    TestFilter& operator=(const TestFilter&) = delete;

    FilterInstance& instance() { return *instance_; }
    // The settings as the host keeps them, with what the filter stored there.
    obs_data_t* settings() { return settings_; }
    // Changes settings and hands them to the filter through `update`.
    void update(const SettingsEdit& edit);
    obs_source_frame* run(TestFrame& frame);

  private:
    obs_data_t* settings_;
    FilterInstance* instance_;
};

} // namespace veilcam::test
