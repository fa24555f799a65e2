// What pqw-web admits before it answers: the Host a request names (a web
// page whose own name was re-pointed at the rig must not count as this
// page), and the Wi-Fi passwords, which the page gets only when it asks for
// them to edit them. No sockets here.
//
//   web_host_allowed("192.168.4.1:8080", names)   -> true (an address)
//   web_host_allowed("evil.example:8080", names)  -> false
//   web_settings_redacted("{...,\"lan_psk\":\"pw\",...}")
//     -> {...,"lan_psk":"",...,"lan_psk_set":true}
#pragma once

#include <string>
#include <vector>

// The names a Host header may carry besides an address literal: localhost,
// this machine's host name and NAME.local, and the extra names given;
// lower-case, without a trailing dot.
std::vector<std::string> web_host_names(const std::vector<std::string>& extra);
// host_header: "NAME", "NAME:PORT", "1.2.3.4[:PORT]" or "[v6][:PORT]".
// Absent or anything else: false.
bool web_host_allowed(const char* host_header, const std::vector<std::string>& names);

// A setting that holds a secret: its value never reaches the page unless the
// page asks for it.
bool web_setting_secret(const char* key);
// The configuration report with every secret replaced by "" and, for each,
// "KEY_set": whether one is set. "" when the report is not a JSON object.
std::string web_settings_redacted(const std::string& report);
