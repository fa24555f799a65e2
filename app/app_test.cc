// Start-up pieces: the status beacon, the supervisor's hostapd check, the
// command line.
#include <gtest/gtest.h>

#include <unistd.h>

#include <cstring>
#include <vector>

#include "core/config_record.h"
#include "core/hud_block.h"
#include "app/options.h"
#include "core/shm_names.h"
#include "app/startup.h"
#include "platform/clock.h"
#include "platform/paths.h"
#include "platform/ports.h"
#include "platform/shell.h"
#include "testing/sandbox.h"
#include "viewer/viewer_send.h"

namespace {

alignas(8) uint8_t g_hud[kHudSize];

TEST(Beacon, BytesAndFlags) {
  ConfigRecord rec{};
  memset(g_hud, 0, sizeof g_hud);
  uint8_t b[kBeaconSize];
  beacon_build(&rec, g_hud, b);
  const uint8_t idle[kBeaconSize] = {6, 0x01, 0, 0, 0, 0, 0};
  EXPECT_EQ(memcmp(b, idle, sizeof b), 0);

  struct Case {
    void (*set)(ConfigRecord*, uint8_t*);
    uint8_t flags;
  } cases[] = {
      {[](ConfigRecord* r, uint8_t*) { r->apstate = 1; }, 0x03},
      {[](ConfigRecord* r, uint8_t*) { r->hdmi_enabled = 1; }, 0x05},
      {[](ConfigRecord* r, uint8_t*) { r->camera_connected = 1; }, 0x11},
      {[](ConfigRecord*, uint8_t* h) { h[HUD_BEACON_BIT6] = 0xFE; }, 0x01},  // only bit 0 counts
      {[](ConfigRecord*, uint8_t* h) { h[HUD_BEACON_BIT6] = 0x03; }, 0x41},
      {[](ConfigRecord*, uint8_t* h) { h[HUD_BEACON_BIT7] = 0x01; }, 0x81},
      {[](ConfigRecord* r, uint8_t* h) {
         r->apstate = r->hdmi_enabled = r->camera_connected = 1;
         h[HUD_BEACON_BIT6] = h[HUD_BEACON_BIT7] = 0xFF;
         r->control_enabled = r->osd_enabled = 1;  // not in the flags
       },
       0xD7},
  };
  for (const Case& c : cases) {
    ConfigRecord r{};
    memset(g_hud, 0, sizeof g_hud);
    c.set(&r, g_hud);
    EXPECT_EQ(beacon_flags(&r, g_hud), c.flags);
    EXPECT_EQ(beacon_flags(&r, g_hud) & 0x28, 0);
  }

  memset(g_hud, 0, sizeof g_hud);
  rec.focus_assistant_enabled = 1;
  g_hud[HUD_CLIENT_COUNT] = 3;
  g_hud[HUD_RC_STATE] = 6;
  beacon_build(&rec, g_hud, b);
  const uint8_t busy[kBeaconSize] = {6, 0x01, 3, 0, 1, 6, 0};
  EXPECT_EQ(memcmp(b, busy, sizeof b), 0);
}

std::vector<std::vector<uint8_t>> g_sent;
std::vector<uint32_t> g_slept;

TEST(Beacon, CycleSendsThreeThenWaits) {
  hud_set_block(g_hud);
  memset(g_hud, 0, sizeof g_hud);
  memset(config_record(), 0, sizeof(ConfigRecord));
  g_hud[HUD_CLIENT_COUNT] = 2;
  g_sent.clear();
  g_slept.clear();
  viewer_set_tap([](int channel, const uint8_t* p, size_t n) {
    if (channel == 0) g_sent.emplace_back(p, p + n);
  });
  sleep_set_fn([](uint32_t us) { g_slept.push_back(us); });
  beacon_cycle();
  sleep_set_fn(nullptr);
  viewer_set_tap(nullptr);
  const std::vector<uint8_t> want = {6, 1, 2, 0, 0, 0, 0};
  ASSERT_EQ(g_sent.size(), 3u);
  for (const auto& m : g_sent) EXPECT_EQ(m, want);
  EXPECT_EQ(g_slept, (std::vector<uint32_t>{100000, 100000, 100000, 500000}));
}

TEST(Supervisor, HostapdCheckFollowsApIface) {
  TestSandbox t("app-test");
  hud_set_block(g_hud);
  ConfigRecord* rec = config_record();
  memset(rec, 0, sizeof *rec);

  rec->apstate = 1;
  supervisor_pass();  // no interface: nothing is run, apstate 0
  EXPECT_EQ(rec->apstate, 0);
  EXPECT_EQ(t.read("commands.log").find("pidof"), std::string::npos);

  CFG_TEXT_SET(rec->ap_iface, "wlan1");
  supervisor_pass();  // no pidof at all reads as not running
  EXPECT_EQ(rec->apstate, 0);
  t.tool("pidof", "exit 0");
  supervisor_pass();
  EXPECT_EQ(rec->apstate, 1);
  t.tool("pidof", "exit 1");
  supervisor_pass();
  EXPECT_EQ(rec->apstate, 0);
  EXPECT_EQ(t.read("commands.log"),
            "pidof hostapd > /dev/null\npidof hostapd > /dev/null\npidof hostapd > /dev/null\n");
}

TEST(Options, EveryOptionAndErrors) {
  std::vector<std::string> args = {"pelquarinthos-wired",
                                   "--sim",
                                   "--sim-dir",
                                   "/tmp/s",
                                   "--root=/tmp/r",
                                   "--shm-prefix",
                                   "",
                                   "--shell-sandbox",
                                   "/tmp/b",
                                   "--gpio-log",
                                   "/tmp/g.log",
                                   "--pwm-channel",
                                   "1",
                                   "--can",
                                   "udp:1:127.0.0.1:2",
                                   "--i2c=udp:3",
                                   "--camera-ftp",
                                   "ftp://127.0.0.1:2121",
                                   "--viewer-port",
                                   "4243",
                                   "--video-port=5001",
                                   "--djigo-port",
                                   "6790",
                                   "--capture",
                                   "rig.pcap",
                                   "--capture-size=2",
                                   "--replay",
                                   "/tmp/old.pcap"};
  std::vector<char*> argv;
  for (auto& a : args) argv.push_back(a.data());
  AppOptions o;
  std::string err;
  ASSERT_TRUE(options_parse(static_cast<int>(argv.size()), argv.data(), &o, &err)) << err;
  EXPECT_TRUE(o.sim);
  EXPECT_EQ(o.sim_dir, "/tmp/s");
  EXPECT_EQ(o.root, "/tmp/r");
  EXPECT_TRUE(o.shm_prefix_set);
  EXPECT_EQ(o.shm_prefix, "");
  EXPECT_EQ(o.shell_sandbox, "/tmp/b");
  EXPECT_EQ(o.gpio_log, "/tmp/g.log");
  EXPECT_EQ(o.pwm_channel, 1);
  EXPECT_EQ(o.can, "udp:1:127.0.0.1:2");
  EXPECT_EQ(o.i2c, "udp:3");
  EXPECT_EQ(o.camera_ftp, "ftp://127.0.0.1:2121");
  EXPECT_EQ(o.viewer_port, 4243);
  EXPECT_EQ(o.video_port, 5001);
  EXPECT_EQ(o.djigo_port, 6790);
  // Relative to where the daemon started: --sim moves its working directory.
  char cwd[4096];
  ASSERT_NE(getcwd(cwd, sizeof cwd), nullptr);
  EXPECT_EQ(o.capture, std::string(cwd) + "/rig.pcap");
  EXPECT_EQ(o.capture_size, 2);
  EXPECT_EQ(o.replay, "/tmp/old.pcap");

  for (std::vector<std::string> bad : {std::vector<std::string>{"x", "--bogus"},
                                       {"x", "--viewer-port"},
                                       {"x", "--viewer-port", "70000"},
                                       {"x", "--video-port", "12ab"},
                                       {"x", "--capture-size", "0"},
                                       {"x", "--replay", "rig.pcap"}}) {
    std::vector<char*> bv;
    for (auto& a : bad) bv.push_back(a.data());
    EXPECT_FALSE(options_parse(static_cast<int>(bv.size()), bv.data(), &o, &err)) << bad[1];
    EXPECT_FALSE(err.empty());
  }

  // Without options everything stays as on the Pi.
  char name[] = "x";
  char* plain[] = {name};
  AppOptions none;
  ASSERT_TRUE(options_parse(1, plain, &none, &err));
  options_apply(none);
  EXPECT_EQ(net_ports().viewer, 4242);
  EXPECT_EQ(net_ports().video, 5000);
  EXPECT_EQ(net_ports().djigo, 6789);
  EXPECT_EQ(paths_root(), "");
  EXPECT_EQ(shell_sandbox(), "");
  EXPECT_EQ(hud_shm_name(), "/hud_mem");
  EXPECT_EQ(config_shm_name(), "/config_mem");
}

}  // namespace
