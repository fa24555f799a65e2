// Shared-memory names with the --shm-prefix applied: "/" + prefix + name.
#pragma once

#include <string>

std::string hud_shm_name();     // "/hud_mem" on the Pi
std::string config_shm_name();  // "/config_mem" on the Pi
