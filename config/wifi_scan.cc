#include "config/wifi_scan.h"

#include <cstdio>
#include <cstring>

#include "platform/shell.h"

bool wifi_scan_line(const char* line, size_t length, std::string* name) {
  static const char kKey[] = "ESSID:";
  const size_t key_len = sizeof kKey - 1;
  const char* found = nullptr;
  for (size_t i = 0; i + key_len <= length; i++) {
    if (memcmp(line + i, kKey, key_len) == 0) {
      found = line + i;
      break;
    }
  }
  if (!found) return false;
  // The remainder still counts its line feed, as the tool prints it: drop the
  // opening quote at the front and the closing quote and line feed at the end.
  size_t rest = length - static_cast<size_t>(found + key_len - line) + 1;
  name->clear();
  if (rest >= 3) name->assign(found + key_len + 1, rest - 3);
  return true;
}

void wifi_scan(const char* iface, std::vector<std::string>* names) {
  std::string cmd = "iwlist ";
  cmd += iface ? iface : "";
  cmd += " scan 2>/dev/null";
  FILE* f = shell_popen(cmd.c_str());
  if (!f) return;

  size_t list_len = 0;
  for (const std::string& n : *names) list_len += n.size() + 1;
  bool full = false;
  char line[kWifiLineMax + 2];  // the line, its LF and the NUL
  bool skipping = false;        // inside a line longer than the limit
  while (fgets(line, sizeof line, f)) {
    size_t len = strlen(line);
    bool complete = len > 0 && line[len - 1] == '\n';
    if (skipping) {
      // The tail of an over-long line: never read as a line of its own, or a
      // long name could turn into a second entry.
      if (complete) skipping = false;
      continue;
    }
    if (!complete && len == sizeof line - 1) {
      skipping = true;
      continue;
    }
    if (complete) len--;
    std::string name;
    if (full || !wifi_scan_line(line, len, &name)) continue;
    size_t add = name.size() + (names->empty() ? 0 : 1);
    if (list_len + add > kWifiListMax || names->size() >= kWifiNamesMax) {
      full = true;  // read on so that the tool can finish and exit normally
      continue;
    }
    list_len += add;
    names->push_back(std::move(name));
  }
  shell_pclose(f);
}
