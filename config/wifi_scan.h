// Wi-Fi scan: the network names that `iwlist IFACE scan` reports.
//
// The tool prints one ESSID line per cell; the name is what stands between
// the quotes:
//
//   line                                      name
//   `          ESSID:"Home"\n`                 Home
//   `          ESSID:""\n`                     (empty entry)
//   `          ESSID:"a"b"\n`                  a"b   (quotes inside stay)
//   `          ESSID:x\n`                      (empty: fewer than 3 chars)
//   `          Channel:6\n`                    (no entry)
//
// Names are kept in the order the tool gives them, duplicates and empty
// names included.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

inline constexpr size_t kWifiLineMax = 1022;   // longest output line read, without LF
inline constexpr size_t kWifiListMax = 59999;  // names plus separating commas
inline constexpr size_t kWifiNamesMax = 4096;  // names kept per scan

// One output line (without its LF): true and the name when it carries
// "ESSID:".
bool wifi_scan_line(const char* line, size_t length, std::string* name);

// Runs "iwlist IFACE scan 2>/dev/null" (iface may be empty) and appends the
// names to `names`. Lines longer than kWifiLineMax are skipped whole; names
// stop being added once their comma-joined length would pass kWifiListMax.
// A tool that cannot start or prints nothing leaves `names` unchanged.
void wifi_scan(const char* iface, std::vector<std::string>* names);
