// One daemon per shared-memory prefix: an exclusive lock on
// /run/pelquarinthos-wired/<shm prefix>daemon.lock (under --root), taken
// before anything shared is touched and held until the process ends.
#pragma once

#include <string>

std::string instance_lock_path(const std::string& root, const std::string& shm_prefix);
// True when this process now holds the lock. False with *why set when
// another process holds it (or it cannot be taken).
bool instance_lock(std::string* why);
