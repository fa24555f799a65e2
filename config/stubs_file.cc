// Stand-ins until the configuration file reader and writer land.
#include "config/config_file.h"

int config_key_handler(void*, const char*, const char*, const char*) { return 0; }
void rc_map_parse(const char*) {}
void config_save() {}
