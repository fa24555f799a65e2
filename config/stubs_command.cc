// Stand-in until the configuration command handler lands.
#include <cstdio>

#include "config/config_command.h"

void config_command_handle(const char*, size_t) {}
