#include "plugin/module.hpp"

#include "plugin/filter_callbacks.hpp"

#include <util/text-lookup.h>
#ifdef VEILCAM_OWN_OPENCV
#include <opencv2/core/utility.hpp>
#endif

namespace veilcam {
namespace {

obs_module_t* g_module = nullptr;
lookup_t* g_locale = nullptr;

} // namespace

void set_module_handle(obs_module_t* module) {
    g_module = module;
}

obs_module_t* module_handle() {
    return g_module;
}

void set_module_locale(const char* locale) {
    if (g_locale) {
        text_lookup_destroy(g_locale);
    }
    g_locale = obs_module_load_locale(g_module, "en-US", locale);
}

void free_module_locale() {
    text_lookup_destroy(g_locale);
    g_locale = nullptr;
}

bool module_locale_string(const char* key, const char** out) {
    return text_lookup_getstr(g_locale, key, out);
}

const char* module_text(const char* key) {
    const char* out = key;
    text_lookup_getstr(g_locale, key, &out);
    return out;
}

std::string find_module_file(const char* name) {
    std::string path;
    if (char* found = obs_find_module_file(g_module, name)) {
        path = found;
        bfree(found);
    }
    return path;
}

bool load_module() {
#ifdef VEILCAM_OWN_OPENCV
    // Our copy of OpenCV, linked in, is ours alone: it runs on the calling
    // thread and starts no pool of threads inside OBS.
    cv::setNumThreads(0);
#endif
    register_filter();
    blog(LOG_INFO, "[obs-veilcam] loaded v%s", kModuleVersion);
    return true;
}

} // namespace veilcam
