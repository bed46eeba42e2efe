#pragma once

#include <initializer_list>
#include <string>
#include <vector>

namespace veilcam::test {

// Records, while it lives, which libraries were on the stack of every thread
// the process starts. Counting the process's threads cannot tell the plug-in's
// from OBS's or the graphics driver's, and a thread carries the name of the
// one that started it; the code that started it can.
// Programs that use it take over pthread_create (see thread_starts.cpp).
class ThreadStarts {
  public:
    ThreadStarts();
    ~ThreadStarts();
    ThreadStarts(const ThreadStarts&) = delete;
    ThreadStarts& operator=(const ThreadStarts&) = delete;

    // The starts whose stack went through a library whose file name begins
    // with one of `libraries`, each as the file names of its stack.
    std::vector<std::string> through(std::initializer_list<const char*> libraries) const;
};

} // namespace veilcam::test
