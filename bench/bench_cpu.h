// CPU time of a process for the benchmarks, from /proc/PID/stat.
#pragma once

#include <sys/types.h>
#include <unistd.h>

#include <fstream>
#include <iterator>
#include <sstream>
#include <string>

// User plus system time of every thread of pid, in seconds; 0 when the
// process is gone. The command name (field 2) may hold blanks and
// parentheses, so the fields are counted from the last ')'.
inline double bench_cpu_seconds(pid_t pid) {
  std::ifstream f("/proc/" + std::to_string(pid) + "/stat");
  std::string s((std::istreambuf_iterator<char>(f)), std::istreambuf_iterator<char>());
  size_t paren = s.rfind(')');
  if (paren == std::string::npos || paren + 2 > s.size()) return 0;
  std::istringstream in(s.substr(paren + 2));
  std::string field;
  unsigned long long utime = 0, stime = 0;
  for (int i = 3; i <= 15 && in >> field; i++) {
    if (i == 14) utime = std::stoull(field);
    if (i == 15) stime = std::stoull(field);
  }
  return double(utime + stime) / double(sysconf(_SC_CLK_TCK));
}
