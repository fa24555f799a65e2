// --sim: a self-contained run on any Linux machine. Lays out a fresh
// directory (fake root, shell sandbox, GPIO log, working directory with a
// configuration and fake scripts), moves into it, picks loopback ports for the
// CAN and I2C buses and starts pqw-camsim when it sits beside the daemon.
#pragma once

#include <string>

struct AppOptions;

// Fills in every option the caller left empty; false when the directory
// cannot be made.
bool sim_prepare(AppOptions* opt);
// Starts pqw-camsim (if present) as a child that dies with the daemon and
// prints where everything is. After options_apply.
void sim_start(const AppOptions& opt);
