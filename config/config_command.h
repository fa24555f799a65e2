// Configuration and system commands from viewers and the HUD mailbox.
#pragma once

#include <cstddef>

void config_command_handle(const char* text, size_t length);
