// The seven functions the host looks up in the module file, and nothing else:
// the link exports only these names.
#include "plugin/module.hpp"

MODULE_EXPORT void obs_module_set_pointer(obs_module_t* module) {
    veilcam::set_module_handle(module);
}

MODULE_EXPORT uint32_t obs_module_ver(void) {
    return veilcam::kModuleApiVersion;
}

MODULE_EXPORT bool obs_module_load(void) {
    return veilcam::load_module();
}

MODULE_EXPORT const char* obs_module_description(void) {
    return veilcam::kModuleDescription;
}

MODULE_EXPORT void obs_module_set_locale(const char* locale) {
    veilcam::set_module_locale(locale);
}

MODULE_EXPORT void obs_module_free_locale(void) {
    veilcam::free_module_locale();
}

MODULE_EXPORT bool obs_module_get_string(const char* key, const char** out) {
    return veilcam::module_locale_string(key, out);
}
