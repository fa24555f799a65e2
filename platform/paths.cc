#include "platform/paths.h"

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
