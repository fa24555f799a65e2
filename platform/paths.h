// Where the daemon's files outside its working directory live.
//
// On the Pi every path is the absolute one ("/boot/...", "/run/...",
// "/sys/..."). With --root DIR they all move under DIR, shell command texts
// included, so tests and the simulation never touch the host's files.
#pragma once

#include <string>

void paths_set_root(const char* dir);  // "" or nullptr: the real paths
const std::string& paths_root();

// root + absolute path, e.g. root_path("/boot/rcin.cal").
std::string root_path(const char* absolute);

// The directory of the running program ("." when /proc cannot tell): the
// daemon finds pqw-camsim beside itself under --sim.
std::string paths_exe_dir();
