// Which Host headers are served, and how the Wi-Fi passwords stay off the
// page.
#include "web/web_guard.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <string>

namespace {

TEST(WebGuard, HostHeaders) {
  const auto names = web_host_names({"Rig.Example.", "", "camera-rig"});
  char me[256] = {};
  ASSERT_EQ(gethostname(me, sizeof me - 1), 0);
  const std::string self = me;
  const struct {
    std::string host;
    bool ok;
  } kHosts[] = {
      {"192.168.4.1", true},
      {"192.168.4.1:8080", true},
      {"[::1]", true},
      {"[fe80::1]:8080", true},
      {"localhost:8080", true},
      {"LocalHost.", true},
      {"rig.example:80", true},
      {"CAMERA-RIG", true},
      {self, true},
      {self + ".local:8080", true},
      {"evil.example", false},
      {"192.168.4.1.nip.io", false},
      {"rig.example.evil.example", false},
      {"localhost.evil.example", false},
      {"192.168.4.1:", false},
      {"192.168.4.1:80x", false},
      {"192.168.4.1:123456", false},
      {"localhost:80:80", false},
      {"[::1", false},
      {"[::1]x", false},
      {"[::1]:", false},
      {"[evil.example]", false},
      {"::1", false},
      {"", false},
      {".", false},
      {":8080", false},
      {std::string(300, 'a'), false},
      {"local", false},
  };
  for (const auto& h : kHosts) EXPECT_EQ(web_host_allowed(h.host.c_str(), names), h.ok) << h.host;
  EXPECT_FALSE(web_host_allowed(nullptr, names));
}

TEST(WebGuard, SecretsStayOffThePage) {
  const struct {
    const char* report;
    const char* shown;
  } kReports[] = {
      {"{\"ap_ssid\":\"rig\",\"ap_psk\":\"ap-pass-1\",\"lan_psk\":\"\",\"cam_psk\":\"x\",\"n\":3}",
       "{\"ap_ssid\":\"rig\",\"ap_psk\":\"\",\"lan_psk\":\"\",\"cam_psk\":\"\",\"n\":3,"
       "\"ap_psk_set\":true,\"lan_psk_set\":false,\"cam_psk_set\":true}"},
      {"{\"lan_psk\":7,\"lan_psk_set\":false}", "{\"lan_psk\":\"\",\"lan_psk_set\":true}"},
      {"{\"ifaces\":[{\"name\":\"eth0\"}]}", "{\"ifaces\":[{\"name\":\"eth0\"}]}"},
      {"{\"ap_psk\":\"\",\"ap_psk\":\"again\"}",
       "{\"ap_psk\":\"\",\"ap_psk\":\"\",\"ap_psk_set\":true}"},
      {"[1]", ""},
      {"{\"ap_psk\":", ""},
  };
  for (const auto& r : kReports) EXPECT_EQ(web_settings_redacted(r.report), r.shown) << r.report;
}

}  // namespace
