#include "support/thread_starts.hpp"

#include <dlfcn.h>
#include <execinfo.h>
#include <pthread.h>

#include <atomic>
#include <cstring>
#include <mutex>

namespace veilcam::test {
namespace {

std::atomic<bool> g_recording{false};
std::mutex g_mutex;
// Each start's stack as the file names of its frames, repeats left out.
std::vector<std::vector<std::string>> g_starts;

void record_start() {
    void* frames[64];
    const int depth = backtrace(frames, 64);
    std::vector<std::string> libraries;
    for (int i = 0; i < depth; ++i) {
        Dl_info info{};
        if (dladdr(frames[i], &info) && info.dli_fname) {
            const char* slash = std::strrchr(info.dli_fname, '/');
            const std::string name = slash ? slash + 1 : info.dli_fname;
            if (libraries.empty() || libraries.back() != name) {
                libraries.push_back(name);
            }
        }
    }
    std::lock_guard<std::mutex> lock(g_mutex);
    g_starts.push_back(std::move(libraries));
}

} // namespace

ThreadStarts::ThreadStarts() {
    std::lock_guard<std::mutex> lock(g_mutex);
    g_starts.clear();
    g_recording = true;
}

ThreadStarts::~ThreadStarts() {
    g_recording = false;
}

std::vector<std::string> ThreadStarts::through(std::initializer_list<const char*> libraries) const {
    std::lock_guard<std::mutex> lock(g_mutex);
    std::vector<std::string> found;
    for (const std::vector<std::string>& stack : g_starts) {
        bool matches = false;
        std::string names;
        for (const std::string& name : stack) {
            for (const char* library : libraries) {
                matches |= name.rfind(library, 0) == 0;
            }
            names += (names.empty() ? "" : " < ") + name;
        }
        if (matches) {
            found.push_back(names);
        }
    }
    return found;
}

} // namespace veilcam::test

// Every thread of the process, OBS's, the driver's, the runtime's and
// OpenCV's, is started through here: the program exports it (the build hides
// symbols by default), so it comes before the C library's for every library,
// also those loaded later.
extern "C" __attribute__((visibility("default"))) int
pthread_create(pthread_t* thread, const pthread_attr_t* attributes, void* (*start)(void*),
               void* argument) {
    using Create = int (*)(pthread_t*, const pthread_attr_t*, void* (*)(void*), void*);
    static const auto next = reinterpret_cast<Create>(dlsym(RTLD_NEXT, "pthread_create"));
    if (veilcam::test::g_recording) {
        veilcam::test::record_start();
    }
    return next(thread, attributes, start, argument);
}
