// The configuration file: reader (inih), RC channel map, writer.
#pragma once

#include <cstddef>

int config_key_handler(void* user, const char* section, const char* name, const char* value);
void rc_map_parse(const char* map);
void config_save();
