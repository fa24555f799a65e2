// The configuration report: every setting a viewer can edit, in one JSON line.
//
// Key order and formats are fixed by the viewer protocol (the viewers index
// some members by position), e.g. for a fresh record with version 0.14.11 and
// one interface eth0 at 192.168.1.5:
//
//   {"app":"wired","camtype":0,"dmode":0,"cmode":0,"ctrl_en":0,"rcin_en":0,
//    "rcin_mode":"pwm","rcin2_mode":"sbus","rcin_map":",,,...","rcin_pan":0,
//    ... ,"apstate":0,"ap_iface":"0","ap_ssid":"","ap_psk":"","ap_mode":0,
//    "ap_channel":0,"ap_country":"","lan_iface":"0","lan_ssid":"",
//    "lan_psk":"","cam_iface":"","cam_ssid":"","cam_psk":"",
//    "version":"0.14.11","ifaces":[{"name":"eth0","addr":"192.168.1.5"}]}
//
// (one line, no blanks). Interface codes are texts: "wlan0" -> "2",
// "wifi0" -> "1", anything else -> "0". Every text is JSON-escaped.
#pragma once

#include <cstddef>
#include <string>

#include "viewer/viewer_send.h"

struct ifaddrs;

inline constexpr size_t kReportMax = kViewerDataMax;  // one viewer data message
inline constexpr size_t kIfaceListMax = 1023;         // interface list without its NUL

// Builds the report from the process-wide ConfigRecord. Each call builds its
// own text, so configuration requests on several workers never share a buffer.
// The report goes out as one data message: the interface list is cut at a
// whole object so that the report stays within kReportMax (the settings
// alone, every text escaped at its longest, stay below it).
std::string config_report_build();

// The IPv4 interfaces except "lo", as {"name":"..","addr":".."} objects
// separated by commas, in the system's order; an interface with several IPv4
// addresses is listed once for each. Cut after the last whole object that
// fits in max_len. Empty when the interface query fails.
std::string iface_list(size_t max_len = kIfaceListMax);

// Interface code of an interface name: "wlan0" 2, "wifi0" 1, else 0.
int iface_code(const char* name);

// Test seam: the interface query and its release (getifaddrs/freeifaddrs
// when nullptr).
using IfaceQuery = int (*)(ifaddrs** list);
using IfaceRelease = void (*)(ifaddrs* list);
void iface_set_query(IfaceQuery query, IfaceRelease release);
