#include "platform/paths.h"

#include <unistd.h>

namespace {
// Never destroyed: threads read it until the process ends.
std::string& g_root = *new std::string;
}  // namespace

void paths_set_root(const char* dir) {
  g_root = dir ? dir : "";
  while (g_root.size() > 1 && g_root.back() == '/') g_root.pop_back();
}
const std::string& paths_root() { return g_root; }
std::string root_path(const char* absolute) { return g_root + absolute; }

std::string paths_exe_dir() {
  char buf[4096];
  ssize_t n = readlink("/proc/self/exe", buf, sizeof buf - 1);
  if (n <= 0) return ".";
  buf[n] = 0;
  std::string p = buf;
  return p.substr(0, p.rfind('/'));
}
