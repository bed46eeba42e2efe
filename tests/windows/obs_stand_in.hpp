#pragma once

#include <obs-module.h>

// What the test host asks of the stand-in obs.dll beyond libobs's own functions.
extern "C" {
obs_data_t* stand_in_data_create(void);
void stand_in_data_destroy(obs_data_t* data);
void stand_in_data_set_string(obs_data_t* data, const char* name, const char* value);
// Where obs_find_module_file finds the module's data.
void stand_in_set_data_dir(const char* folder);
// The source the module registered (all zero before).
const obs_source_info* stand_in_registered_source(void);
// Everything logged so far, a line each: "LEVEL text".
const char* stand_in_log(void);
// The list items of the latest properties, a line each: "list: value = name".
const char* stand_in_list_items(void);
}
