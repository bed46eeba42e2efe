#pragma once

#include <string>

namespace veilcam::test {

// libobs started as OBS starts it on Linux, on the X server named by DISPLAY
// (the test command runs one under Xvfb); shut down again on destruction.
class ObsHost {
  public:
    ObsHost();
    ~ObsHost();
    ObsHost(const ObsHost&) = delete;
    ObsHost& operator=(const ObsHost&) = delete;

    bool started() const { return started_; }
    // Why starting failed, for the test's message.
    const std::string& error() const { return error_; }

  private:
    bool started_ = false;
    std::string error_;
};

} // namespace veilcam::test
