// The health counters for local processes: a JSON document replaced once a
// second (write to a temporary file, then rename, so readers never see half
// of one) at /run/pelquarinthos-wired/<shm prefix>stats.json (under --root).
#pragma once

#include <string>

inline constexpr char kHealthDir[] = "/run/pelquarinthos-wired";

// The file for a root and shared-memory prefix (pqw-hud --stats reads it).
std::string health_file_path(const std::string& root, const std::string& shm_prefix);
// The document: every counter by name, plus "viewers" and "uptime_s".
std::string health_file_json(int viewers, long uptime_s);
// Writes the daemon's file; false when it cannot.
bool health_file_publish();
