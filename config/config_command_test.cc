#include "config/config_command.h"

#include <cjson/cJSON.h>
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "core/config_fields.h"
#include "core/config_record.h"
#include "core/hud_block.h"
#include "config/config_file.h"
#include "config/config_report.h"
#include "testing/sandbox.h"
#include "platform/app_exit.h"
#include "platform/clock.h"
#include "viewer/viewer_send.h"

namespace {

using Lines = std::vector<std::string>;
using ::testing::HasSubstr;

std::mutex g_mu;
std::vector<std::string> g_sent;  // every message handed to the viewers
int g_exit = -1;                  // status of the last app_exit
uint32_t g_slept = 0;
size_t g_cmds_at_sleep = 0;  // commands run before the sleep
TestSandbox* g_box = nullptr;

void tap(int channel, const uint8_t* p, size_t n) {
  std::lock_guard<std::mutex> lock(g_mu);
  g_sent.push_back(std::to_string(channel) + ":" +
                   std::string(reinterpret_cast<const char*>(p), n));
}
void exit_hook(int status) { g_exit = status; }
void fake_sleep(uint32_t us) {
  g_slept += us;
  std::string log = g_box->read("commands.log");
  g_cmds_at_sleep = static_cast<size_t>(std::count(log.begin(), log.end(), '\n'));
}

std::string cmd_json(const std::vector<std::pair<std::string, std::string>>& members) {
  cJSON* o = cJSON_CreateObject();
  for (const auto& [k, v] : members) cJSON_AddStringToObject(o, k.c_str(), v.c_str());
  char* s = cJSON_PrintUnformatted(o);
  std::string out = s;
  cJSON_free(s);
  cJSON_Delete(o);
  return out;
}
std::string up(const std::string& name, const std::string& v, const std::string& v2 = "",
               const std::string& v3 = "") {
  std::vector<std::pair<std::string, std::string>> m = {
      {"cmd", "updateparam"}, {"name", name}, {"value", v}};
  if (!v2.empty()) m.push_back({"value2", v2});
  if (!v3.empty()) m.push_back({"value3", v3});
  return cmd_json(m);
}

class CommandTest : public ::testing::Test {
 protected:
  void SetUp() override {
    g_box = &box;
    memset(config_record(), 0, sizeof(ConfigRecord));
    memset(hud, 0, sizeof hud);
    hud_set_block(hud);
    viewer_set_tap(tap);
    app_exit_set_hook(exit_hook);
    sleep_set_fn(fake_sleep);
    // What a save runs and writes in this sandbox, so that each case can
    // expect exactly the save's commands followed by its own.
    config_save();
    save_cmds = box.take_commands();
    save_writes = box.exists("boot/pelquarinthos-wired.conf");
    unlink((box.dir + "/boot/pelquarinthos-wired.conf").c_str());
    rc_map_parse("tilt");
    map_parse_real = hud_get_u8(hud, HUD_RC_MAP) == 1;
    reset();
  }
  void TearDown() override {
    sleep_set_fn(nullptr);
    app_exit_set_hook(nullptr);
    viewer_set_tap(nullptr);
    hud_set_block(nullptr);
    memset(config_record(), 0, sizeof(ConfigRecord));
    g_box = nullptr;
  }
  void reset() {
    memset(config_record(), 0, sizeof(ConfigRecord));
    memset(hud, 0, sizeof hud);
    hud_set_u8(hud, HUD_RC_STATE, 6);
    box.take_commands();
    unlink((box.dir + "/boot/pelquarinthos-wired.conf").c_str());
    std::lock_guard<std::mutex> lock(g_mu);
    g_sent.clear();
    g_exit = -1;
    g_slept = 0;
    g_cmds_at_sleep = 0;
  }
  void handle(const std::string& text) { config_command_handle(text.c_str(), text.size()); }
  Lines saved_then(const Lines& after) {
    Lines out = save_cmds;
    out.insert(out.end(), after.begin(), after.end());
    return out;
  }
  std::vector<std::string> sent() {
    std::lock_guard<std::mutex> lock(g_mu);
    return g_sent;
  }
  std::string saved_file() { return box.read("boot/pelquarinthos-wired.conf"); }

  TestSandbox box;
  uint8_t hud[kHudSize];
  Lines save_cmds;
  bool save_writes = false;
  bool map_parse_real = false;
};

TEST_F(CommandTest, EverySimpleSetting) {
  ConfigRecord* c = config_record();
  struct Row {
    std::string text;
    std::function<long long()> field;
    long long want;
    int hud_off;  // -1: no HudBlock copy
    Lines after;  // commands after the save
    std::string file_line;
    int exit_status;
    std::function<void()> pre;
  };
  const Lines kRcin = {"killall -q rcin"};
  const Lines kDisplay = {"killall -q display"};
#define F(member) [&] { return static_cast<long long>(c->member); }
  // clang-format off
  std::vector<Row> rows = {
      {up("rcin_enabled", "1"), F(rc_input_enabled), 1,
        -1, kRcin, "rc_input_enabled=1", -1, nullptr},
      {up("rcin_enabled", "true"), F(rc_input_enabled), 1,
        -1, kRcin, "rc_input_enabled=1", -1, nullptr},
      {up("rcin_enabled", "yes"), F(rc_input_enabled), 0,
        -1, kRcin, "rc_input_enabled=0", -1, [&] { c->rc_input_enabled = 1; }},
      {up("rcin_speed", "10", "-20", "300"),
        [&] { return c->rc_input_speed_pan * 1000000LL + c->rc_input_speed_tilt * 1000LL +
                     c->rc_input_speed_dutch; },
        10 * 1000000LL - 20000 + 300, -1, {}, "rc_input_speed_tilt=-20", -1, nullptr},
      {up("rcin_pan", "55"), F(rc_input_speed_pan), 55,
        -1, {}, "rc_input_speed_pan=55", -1, nullptr},
      {up("rcin_tilt", "66abc"), F(rc_input_speed_tilt), 66,
        -1, {}, "rc_input_speed_tilt=66", -1, nullptr},
      {up("rcin_dutch", "-3"), F(rc_input_speed_dutch), -3,
        -1, {}, "rc_input_speed_dutch=-3", -1, nullptr},
      {up("rcin_pan_inv", "1"), F(rc_input_inverse_pan), 1,
        -1, {}, "rc_input_inverse_pan=1", -1, nullptr},
      {up("rcin_tilt_inv", "99999999999"), F(rc_input_inverse_tilt), 2147483647,
        -1, {}, "rc_input_inverse_tilt=2147483647", -1, nullptr},
      {up("rcin_dutch_inv", "2"), F(rc_input_inverse_dutch), 2,
        -1, {}, "rc_input_inverse_dutch=2", -1, nullptr},
      {up("rcin_exp", "1"), F(rc_input_exp), 1, -1, kRcin, "rc_input_exp=1", -1, nullptr},
      {up("rcin_abs", "true"), F(rc_input_abs), 1, -1, {}, "rc_input_abs=1", -1, nullptr},
      {up("hud_enabled", "1"), F(hud_enabled), 1,
        HUD_HUD_ENABLED, {}, "hud_enabled=1", -1, nullptr},
      {up("hud_enabled", "yes"), F(hud_enabled), 0,
        HUD_HUD_ENABLED, {}, "hud_enabled=0", -1,
        [&] { c->hud_enabled = 1; hud_set_u8(hud, HUD_HUD_ENABLED, 1); }},
      {up("internal_camera_enabled", "1"), F(internal_camera_enabled), 1,
        HUD_INTCAM_ENABLED, {"killall -q raspivid"}, "internal_camera_enabled=1", -1, nullptr},
      {up("internal_camera_fullscreen", "true"), F(internal_camera_fullscreen), 1,
        HUD_INTCAM_FULLSCREEN, {"killall -q raspivid"}, "internal_camera_fullscreen=1", -1,
        nullptr},
      {up("fa_enabled", "1"), F(focus_assistant_enabled), 1,
        HUD_FOCUS_ASSISTANT, {}, "focus_assistant_enabled=1", -1, nullptr},
      {up("osd_enabled", "1"), F(osd_enabled), 1,
        HUD_OSD_ENABLED, {}, "osd_enabled=1", -1, nullptr},
      {up("hdmi_enabled", "1"), F(hdmi_enabled), 1,
        -1, {"./scripts/hdmi-change.sh 1"}, "hdmi_enabled=1", -1, nullptr},
      {up("hdmi_enabled", "2"), F(hdmi_enabled), 0,
        -1, {"./scripts/hdmi-change.sh 0"}, "hdmi_enabled=0", -1, [&] { c->hdmi_enabled = 1; }},
      {up("disable_video_stream", "5"), F(disable_video_stream), 1,
        -1, {}, "disable_video_stream=1", -1, nullptr},
      {up("disable_video_stream", "true"), F(disable_video_stream), 0,
        -1, {}, "disable_video_stream=0", -1, [&] { c->disable_video_stream = 1; }},
      {up("video_hflip", "2"), F(video_hflip), 1, -1, kDisplay, "video_hflip=1", -1, nullptr},
      {up("video_vflip", "1"), F(video_vflip), 1, -1, kDisplay, "video_vflip=1", -1, nullptr},
      {up("video_fix", "-1"), F(video_fix), 1, -1, kDisplay, "video_fix=1", -1, nullptr},
      {up("osd_borders", "300", "-1"),
        [&] { return c->osd_border_width * 1000 + c->osd_border_height; }, 44255,
        -1, {"killall -q display hud"}, "osd_border_width=44", -1, nullptr},
      {up("osd_offset", "7", "8"),
        [&] { return c->osd_top_offset * 1000 + c->osd_bottom_offset; }, 7008,
        -1, {"killall -q hud"}, "osd_bottom_offset=8", -1, nullptr},
      {up("osd_top_offset", "256"), F(osd_top_offset), 0,
        -1, {"killall -q hud"}, "osd_top_offset=0", -1, [&] { c->osd_top_offset = 9; }},
      {up("osd_bottom_offset", "12"), F(osd_bottom_offset), 12,
        -1, {"killall -q hud"}, "osd_bottom_offset=12", -1, nullptr},
      {up("camtype", "1"), F(camera_type), 1,
        -1, {"killall -q video-receiver"}, "camera_type=1", -1, nullptr},
      {up("device_mode", "1"), F(device_mode), 1, -1, {}, "device_mode=1", 2, nullptr},
      {up("coop_mode", "257"), F(cooperative_mode), 1, -1, {}, "cooperative_mode=1", 2, nullptr},
      {up("ctrl_enabled", "3"), F(control_enabled), 1, -1, {}, "control_enabled=1", 2, nullptr},
  };
  // clang-format on
#undef F
  for (const Row& r : rows) {
    SCOPED_TRACE(r.text);
    reset();
    if (r.pre) r.pre();
    handle(r.text);
    EXPECT_EQ(r.field(), r.want);
    if (r.hud_off >= 0) {
      EXPECT_EQ(hud_get_u8(hud, r.hud_off), r.want);
    }
    Lines want = saved_then(r.after);
    if (r.after == kRcin) {
      EXPECT_EQ(hud_get_u8(hud, HUD_RC_STATE), 0);
    } else
      EXPECT_EQ(hud_get_u8(hud, HUD_RC_STATE), 6);
    EXPECT_EQ(box.take_commands(), want);
    EXPECT_EQ(g_exit, r.exit_status);
    EXPECT_TRUE(sent().empty());
    if (save_writes) {
      EXPECT_THAT(saved_file(), HasSubstr("\r\n" + r.file_line + "\r\n"));
    }
  }
}

TEST_F(CommandTest, RcModesAndMap) {
  ConfigRecord* c = config_record();
  testing::internal::CaptureStdout();
  handle(up("rcin_mode", "ppm"));
  std::string out = testing::internal::GetCapturedStdout();
  EXPECT_THAT(out,
              HasSubstr("Need to update param rcin_mode to ppm\nSet RC1 mode ppm, RC2 mode \n"));
  EXPECT_STREQ(c->rc_input_mode, "ppm");
  EXPECT_STREQ(c->rc2_input_mode, "");
  EXPECT_EQ(hud_get_u8(hud, HUD_RC_STATE), 0);
  EXPECT_EQ(box.take_commands(), saved_then({"killall -q rcin"}));

  // A value the file cannot carry refuses the setting; nothing changes.
  for (auto [mode, mode2] : {std::pair{"pwm123456", "sbus"}, std::pair{"ppm", "sb\r\nus"}}) {
    reset();
    CFG_TEXT_SET(c->rc_input_mode, "keep");
    testing::internal::CaptureStderr();
    handle(up("rcin_mode", mode, mode2));
    EXPECT_THAT(testing::internal::GetCapturedStderr(), HasSubstr("setting rcin_mode refused"));
    EXPECT_STREQ(c->rc_input_mode, "keep");
    EXPECT_TRUE(box.take_commands().empty());
  }

  reset();
  handle(up("rcin_map", "pan,,tilt"));
  EXPECT_STREQ(c->rc_input_map, "pan,,tilt");
  EXPECT_EQ(hud_get_u8(hud, HUD_RC_STATE), 0);
  EXPECT_EQ(box.take_commands(), saved_then({"killall -q rcin"}));
  if (map_parse_real) {
    EXPECT_EQ(hud_get_u8(hud, HUD_RC_MAP + 0), 0);
    EXPECT_EQ(hud_get_u8(hud, HUD_RC_MAP + 1), 255);
    EXPECT_EQ(hud_get_u8(hud, HUD_RC_MAP + 2), 1);
    EXPECT_EQ(hud_get_u8(hud, HUD_RC_MAP + 31), 255);
  }
  if (save_writes) {
    EXPECT_THAT(saved_file(), HasSubstr("\r\nrc_input_map=pan,,tilt\r\n"));
  }

  reset();
  std::string long_map(600, 'x');
  testing::internal::CaptureStderr();
  handle(up("rcin_map", long_map));
  handle(up("rcin_map", "pan\nosd_enabled=1"));
  std::string err = testing::internal::GetCapturedStderr();
  EXPECT_THAT(err, HasSubstr("rc_input_map (600 characters): the configuration file cannot carry "
                             "it: longer than 511 characters\n"));
  EXPECT_THAT(err, HasSubstr("rc_input_map (17 characters): the configuration file cannot carry "
                             "it: a control character\n"));
  EXPECT_STREQ(c->rc_input_map, "");
  EXPECT_TRUE(box.take_commands().empty());
}

TEST_F(CommandTest, HdmiModeTable) {
  struct Row {
    const char* name;
    int group, code;
  } rows[] = {
      {"default", 0, 0},
      {"640x480@60p CEA", 0, 1},
      {"1280x720@50p CEA", 0, 19},
      {"1280x720@60p CEA", 0, 4},
      {"1920x1080@50i CEA", 0, 20},
      {"1920x1080@50p CEA", 0, 31},
      {"1920x1080@60i CEA", 0, 5},
      {"1920x1080@60p CEA", 0, 16},
      {"640x480@60p DMT", 1, 4},
      {"640x480@75p DMT", 1, 6},
      {"800x600@60p DMT", 1, 9},
      {"800x600@75p DMT", 1, 11},
      {"1024x768@60p DMT", 1, 16},
      {"1024x768@75p DMT", 1, 18},
      {"1152x864@75p DMT", 1, 21},
      {"1280x1024@60p DMT", 1, 35},
      {"1280x1024@75p DMT", 1, 36},
      {"1920x1080@60p DMT", 1, 82},
      {"1920x1080@60p dmt", 0, 0},
      {"", 0, 0},
      {"1920x1080@60p DMT ", 0, 0},
  };
  for (const Row& r : rows) {
    HdmiMode m = hdmi_mode_lookup(r.name);
    EXPECT_EQ(m.group, r.group) << r.name;
    EXPECT_EQ(m.code, r.code) << r.name;
  }
}

TEST_F(CommandTest, HdmiModeCommands) {
  struct Row {
    std::string text;
    Lines cmds;
    const char* log;
  } rows[] = {
      {up("hdmimode", "1920x1080@60p DMT", "1"),
       {"tvservice -e \"DMT 82\"", "./scripts/hdmi-mode.sh 2 82"},
       "set HDMI mode to DMT 82\n"},
      {up("hdmimode", "1280x720@50p CEA"),
       {"tvservice -e \"CEA 19\""},
       "set HDMI mode to CEA 19\n"},
      {up("hdmimode", "640x480@60p CEA", "true"),
       {"tvservice -e \"CEA 1\"", "./scripts/hdmi-mode.sh 1 1"},
       "set HDMI mode to CEA 1\n"},
      {up("hdmimode", "no such mode", "1"),
       {"tvservice -p", "./scripts/hdmi-mode.sh"},
       "set default HDMI mode\n"},
      {up("hdmimode", "default", "yes"), {"tvservice -p"}, "set default HDMI mode\n"},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.text);
    reset();
    testing::internal::CaptureStderr();
    handle(r.text);
    EXPECT_THAT(testing::internal::GetCapturedStderr(), HasSubstr(r.log));
    Lines want = r.cmds;
    want.push_back("killall -q hud");
    want.push_back("killall -q display");
    EXPECT_EQ(box.take_commands(), want);  // no save: no field changes
    EXPECT_EQ(g_slept, 1000000u);
    EXPECT_EQ(g_cmds_at_sleep, r.cmds.size());
    EXPECT_FALSE(box.exists("boot/pelquarinthos-wired.conf"));
  }
}

TEST_F(CommandTest, WifiSettingsSelectors) {
  ConfigRecord* c = config_record();
  auto wifi = [](const std::string& v4, const std::string& v7, const std::string& band) {
    return cmd_json({{"cmd", "updateparam"},
                     {"name", "wifi"},
                     {"value4", v4},
                     {"value5", "Net 'five'"},
                     {"value6", "pa\\ss;word"},
                     {"value7", v7},
                     {"value8", "MyAP"},
                     {"value9", std::string(64, 'a')},
                     {"value10", band},
                     {"value11", "11"},
                     {"value12", "DE"}});
  };
  struct Row {
    const char* v4;
    const char* v7;
    const char* band;
    const char* lan;
    const char* ap;
    int mode;
  } rows[] = {
      {"0", "0", "2.4", "", "", 2},
      {"1", "2", "5", "wifi0", "wlan0", 5},
      {"2", "1", "5.0", "wlan0", "wifi0", 9},
      {"7", "7", "", "keep1", "keep2", 9},
      {"", "wlan0", "2", "keep1", "keep2", 9},
  };
  for (const Row& r : rows) {
    reset();
    CFG_TEXT_SET(c->wifi_iface, "keep1");
    CFG_TEXT_SET(c->ap_iface, "keep2");
    c->ap_mode = 9;
    std::string text = wifi(r.v4, r.v7, r.band);
    SCOPED_TRACE(text);
    handle(text);
    EXPECT_STREQ(c->wifi_iface, r.lan);
    EXPECT_STREQ(c->ap_iface, r.ap);
    EXPECT_EQ(c->ap_mode, r.mode);
    EXPECT_STREQ(c->wifi_ssid, "Net 'five'");
    EXPECT_STREQ(c->wifi_psk, "pa\\ss;word");
    EXPECT_STREQ(c->ap_ssid, "MyAP");
    EXPECT_EQ(std::string(c->ap_psk), std::string(64, 'a'));
    EXPECT_EQ(c->ap_channel, 11);
    EXPECT_STREQ(c->ap_country, "DE");
    EXPECT_EQ(box.take_commands(), saved_then({"touch " + box.dir + "/run/wlan.update"}));
    if (save_writes) {
      EXPECT_THAT(saved_file(), HasSubstr("\r\nwifi_ssid=\"Net 'five'\"\r\n"));
    }
  }
}

TEST_F(CommandTest, WifiValuesTheFileOrWifiCannotTakeAreRefused) {
  ConfigRecord* c = config_record();
  // One field wrong at a time (value number, value); the others are valid.
  struct Row {
    int field;
    std::string value;
    const char* why;
  } rows[] = {
      {6, "pw1 ;comment-part",
       "wifi_psk (17 characters): the configuration file cannot carry it: "
       "a ';' after a blank"},
      {8, "ap\"ss\"idx=1",
       "ap_ssid (11 characters): the configuration file cannot carry it: a "
       "double quote"},
      {9, std::string(255, 'p'), "ap_psk (255 characters): a WPA passphrase is 8 to 63"},
      {9, "short", "ap_psk (5 characters): a WPA passphrase"},
      {6, std::string(63, 'g') + "0", "wifi_psk (64 characters): a WPA passphrase"},
      {6, "tab\there12", "wifi_psk (10 characters): a WPA passphrase"},
      {5, "evil\r\nosd_enabled=1",
       "wifi_ssid (19 characters): the configuration file cannot "
       "carry it: a control character"},
      {8, std::string(33, 's'), "ap_ssid (33 characters): an SSID is 1 to 32 bytes"},
      {5, " lead", "wifi_ssid (5 characters): the configuration file cannot carry it: a blank"},
      {9, "trailing-space ",
       "ap_psk (15 characters): the configuration file cannot carry it: "
       "a blank at its start or end"},
      {12, "ABCDEFGHIJKL",
       "ap_country (12 characters): the configuration file cannot carry it: "
       "longer than 9 characters"},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.value);
    reset();
    CFG_TEXT_SET(c->wifi_ssid, "old");
    std::vector<std::string> v = {
        "",  "",   "",  "", "2", "HomeNet", "home-secret-psk", "1", "RigAP", "rig-ap-pass",
        "5", "36", "DE"};
    v[static_cast<size_t>(r.field)] = r.value;
    std::vector<std::pair<std::string, std::string>> m = {{"cmd", "updateparam"}, {"name", "wifi"}};
    for (int i = 4; i <= 12; i++) m.push_back({"value" + std::to_string(i), v[size_t(i)]});
    testing::internal::CaptureStderr();
    testing::internal::CaptureStdout();
    handle(cmd_json(m));
    std::string out = testing::internal::GetCapturedStdout();
    std::string err = testing::internal::GetCapturedStderr();
    EXPECT_THAT(err, HasSubstr("setting wifi refused, nothing changed: " + std::string(r.why)));
    EXPECT_STREQ(c->wifi_ssid, "old");
    EXPECT_EQ(c->ap_channel, 0);
    EXPECT_TRUE(box.take_commands().empty());
    EXPECT_FALSE(box.exists("boot/pelquarinthos-wired.conf"));
    EXPECT_EQ((out + err).find("secret"), std::string::npos);
  }
  // A valid change logs the passwords' lengths, never the passwords.
  reset();
  testing::internal::CaptureStdout();
  handle(cmd_json({{"cmd", "updateparam"},
                   {"name", "wifi"},
                   {"value4", "2"},
                   {"value5", "HomeNet"},
                   {"value6", "home-secret-psk"},
                   {"value7", "1"},
                   {"value8", "RigAP"},
                   {"value9", "rig-ap-secret"},
                   {"value10", "5"},
                   {"value11", "36"},
                   {"value12", "DE"}}));
  std::string out = testing::internal::GetCapturedStdout();
  EXPECT_THAT(out, HasSubstr("network iface 2 ssid HomeNet pass (15 characters)\n"));
  EXPECT_THAT(out, HasSubstr("AP iface 1 ssid RigAP pass (13 characters) mode 5 channel 36"));
  EXPECT_EQ(out.find("secret"), std::string::npos) << out;
  EXPECT_STREQ(c->wifi_psk, "home-secret-psk");
}

TEST_F(CommandTest, EveryValueTheFileTakesComesBackUnchanged) {
  // What config_text_fits accepts, written and read back, is the same text;
  // what it refuses would not be.
  struct Row {
    const char* key;
    std::string value;
    bool fits;
  } rows[] = {
      {"wifi_psk", "a;b c;d", true},
      {"wifi_psk", "a ;b", false},
      {"wifi_psk", "a\t;b", false},
      {"ap_ssid", "x=y #z", true},
      {"ap_ssid", "say \"hi\"", false},
      {"ap_country", "DE", true},
      {"rc_input_mode", "sbus", true},
      {"rc_input_mode", "sbus12", false},
      {"wifi_ssid", std::string(187, 'n'), true},
      {"wifi_ssid", std::string(190, 'n'), false},
      {"rc_input_map", std::string(511, 'm'), true},
      {"rc_input_map", " pan", false},
      {"wifi_ssid", "caf\xc3\xa9", true},
      {"wifi_ssid", "del\x7f", true},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(std::string(r.key) + "=" + r.value);
    std::string why;
    EXPECT_EQ(config_text_fits(r.key, r.value.c_str(), &why), r.fits) << why;
    ConfigRecord written{};
    const ConfigField* f = config_field_by_key(r.key);
    ASSERT_NE(f, nullptr);
    cfg_text_set(config_field_text(&written, *f), f->slot.size, r.value.c_str());
    std::string text = config_file_text(&written);
    memset(config_record(), 0, sizeof(ConfigRecord));
    config_read_text(text.data(), text.size());
    char back[512];
    cfg_text_get(back, sizeof back, config_field_text(config_record(), *f), f->slot.size);
    EXPECT_EQ(back == r.value, r.fits) << back;
  }
  std::string why;
  EXPECT_FALSE(config_text_fits("camera_type", "1", &why));
  EXPECT_FALSE(config_text_fits(nullptr, "1", &why));
}

TEST_F(CommandTest, ConfigRequestSendsTheReport) {
  CFG_TEXT_SET(config_record()->ap_ssid, "a\"b");
  testing::internal::CaptureStderr();
  handle("{\"cmd\":\"configrequest\"}");
  EXPECT_THAT(testing::internal::GetCapturedStderr(), HasSubstr("config request\n"));
  auto msgs = sent();
  ASSERT_EQ(msgs.size(), 1u);
  EXPECT_EQ(msgs[0], "0:" + config_report_build());
  cJSON* root = cJSON_Parse(msgs[0].c_str() + 2);
  ASSERT_NE(root, nullptr);
  EXPECT_STREQ(cJSON_GetObjectItem(root, "ap_ssid")->valuestring, "a\"b");
  cJSON_Delete(root);
  EXPECT_TRUE(box.take_commands().empty());
}

class ScanCommandTest : public CommandTest {
 protected:
  void fake_iwlist(const std::string& output, int status = 0) {
    box.write("out.txt", output);
    box.tool("iwlist", "/bin/cat '" + box.dir + "/out.txt'\nexit " + std::to_string(status));
  }
  std::string scan(const std::string& value) {
    reset();
    handle(cmd_json({{"cmd", "wlan"}, {"param", "scan"}, {"value", value}}));
    auto msgs = sent();
    if (msgs.empty()) return "(none)";
    EXPECT_EQ(msgs.size(), 1u);
    EXPECT_EQ(msgs[0].substr(0, 2), "0:");
    return msgs[0].substr(2);
  }
};

TEST_F(ScanCommandTest, RepliesWithEscapedNames) {
  fake_iwlist(
      "          Cell 01 - Address: 00:11:22:33:44:55\n"
      "                    ESSID:\"Home\"\n"
      "                    ESSID:\"Say \"hi\"\\\"\n"
      "                    ESSID:\"\"\n"
      "                    ESSID:\"Office\"\n");
  std::string reply = scan("2");
  EXPECT_EQ(reply,
            "{\"cmd\":\"wlanscan\",\"param\":\"2\",\"value\":\"Home,Say \\\"hi\\\"\\\\,,Office\"}");
  cJSON* root = cJSON_Parse(reply.c_str());
  ASSERT_NE(root, nullptr);
  EXPECT_STREQ(cJSON_GetObjectItem(root, "value")->valuestring, "Home,Say \"hi\"\\,,Office");
  cJSON_Delete(root);
  EXPECT_EQ(box.take_commands(), (Lines{"iwlist wlan0 scan 2>/dev/null"}));

  scan("1");
  EXPECT_EQ(box.take_commands(), (Lines{"iwlist wifi0 scan 2>/dev/null"}));
  reply = scan("3");
  EXPECT_EQ(box.take_commands(), (Lines{"iwlist  scan 2>/dev/null"}));
  EXPECT_EQ(reply.rfind("{\"cmd\":\"wlanscan\",\"param\":\"3\",\"value\":\"", 0), 0u);
  reply = scan("\"x");
  EXPECT_EQ(reply.rfind("{\"cmd\":\"wlanscan\",\"param\":\"\\\"x\",\"value\":\"", 0), 0u);

  EXPECT_EQ(scan("0"), "(none)");
  EXPECT_TRUE(box.take_commands().empty());
}

TEST_F(ScanCommandTest, EmptyRepliesWhenNothingFound) {
  const std::string empty = "{\"cmd\":\"wlanscan\",\"param\":\"2\",\"value\":\"\"}";
  fake_iwlist("");
  EXPECT_EQ(scan("2"), empty);
  fake_iwlist("wlan0     Interface doesn't support scanning.\n", 255);
  EXPECT_EQ(scan("2"), empty);
  unlink((box.dir + "/bin/iwlist").c_str());
  EXPECT_EQ(scan("2"), empty);
}

TEST_F(ScanCommandTest, LongReplyIsCutAtWholeName) {
  std::string out;
  std::vector<std::string> names;
  for (int i = 0; i < 400; i++) {
    names.push_back("n\"\xc3\xa9" + std::to_string(i) + std::string(20, '\\'));
    out += "ESSID:\"" + names.back() + "\"\n";
  }
  fake_iwlist(out);
  std::string reply = scan("2");
  EXPECT_LE(reply.size(), kViewerDataMax);
  cJSON* root = cJSON_Parse(reply.c_str());
  ASSERT_NE(root, nullptr);
  std::string value = cJSON_GetObjectItem(root, "value")->valuestring;
  cJSON_Delete(root);
  std::string joined;
  size_t n = 0;
  for (; n < names.size(); n++) {
    std::string next = n ? joined + "," + names[n] : names[n];
    if (next.size() > value.size()) break;
    joined = next;
  }
  EXPECT_GT(n, 10u);
  EXPECT_LT(n, names.size());
  EXPECT_EQ(value, joined);
}

TEST_F(CommandTest, RcRecalibrateAndShowChannels) {
  box.tool("rm", "exec /bin/rm \"$@\"");
  box.write("boot/rcin.cal", "cal");
  const std::string boot = box.dir + "/boot";
  handle("{\"cmd\":\"rc\",\"name\":\"recalibrate\"}");
  EXPECT_EQ(box.take_commands(),
            (Lines{"mount -o rw,remount " + boot, "rm -f " + boot + "/rcin.cal",
                   "sync && umount " + boot + " && mount " + boot, "killall -q rcin"}));
  EXPECT_FALSE(box.exists("boot/rcin.cal"));
  EXPECT_EQ(hud_get_u8(hud, HUD_RC_STATE), 6);

  handle("{\"cmd\":\"rc\",\"name\":\"showchannels\",\"value\":\"true\"}");
  EXPECT_EQ(hud_get_u8(hud, HUD_RC_SHOW_CHANNELS), 1);
  handle("{\"cmd\":\"rc\",\"name\":\"showchannels\",\"value\":\"on\"}");
  EXPECT_EQ(hud_get_u8(hud, HUD_RC_SHOW_CHANNELS), 0);
  handle("{\"cmd\":\"rc\",\"name\":\"other\",\"value\":\"1\"}");
  EXPECT_EQ(hud_get_u8(hud, HUD_RC_SHOW_CHANNELS), 0);
  EXPECT_TRUE(box.take_commands().empty());
}

TEST_F(CommandTest, SystemCommands) {
  handle("{\"cmd\":\"reboot\"}");
  EXPECT_EQ(box.take_commands(), (Lines{"reboot"}));
  EXPECT_EQ(g_exit, -1);  // returns; the system ends the process
  handle("{\"cmd\":\"shutdown\"}");
  EXPECT_EQ(box.take_commands(), (Lines{"shutdown"}));
  EXPECT_EQ(g_exit, -1);
  handle("{\"cmd\":\"restart\"}");
  EXPECT_EQ(g_exit, 3);
  EXPECT_TRUE(box.take_commands().empty());
  // Member names match without regard to case, command names exactly.
  handle("{\"CMD\":\"reboot\"}");
  EXPECT_EQ(box.take_commands(), (Lines{"reboot"}));
  handle("{\"cmd\":\"Reboot\"}");
  EXPECT_TRUE(box.take_commands().empty());
}

TEST_F(CommandTest, ProcessEndingCommandsExitInChild) {
  // The re-executing style is the safe one beside the sandbox's threads; an
  // emulator that cannot re-execute the binary asks for fork-only instead.
  if (!getenv("GTEST_DEATH_TEST_STYLE")) GTEST_FLAG_SET(death_test_style, "threadsafe");
  // The child runs the real exit path; its own sandbox goes with it.
  auto real = [](const char* text) {
    app_exit_set_hook(nullptr);
    atexit([] { test_remove_tree(g_box->dir); });
    config_command_handle(text, strlen(text));
    exit(0);
  };
  EXPECT_EXIT(real("{\"cmd\":\"restart\"}"), testing::ExitedWithCode(3), "");
  EXPECT_EXIT(real("{\"cmd\":\"updateparam\",\"name\":\"device_mode\",\"value\":\"1\"}"),
              testing::ExitedWithCode(2), "");
  EXPECT_EXIT(real("{\"cmd\":\"updateparam\",\"name\":\"coop_mode\",\"value\":\"0\"}"),
              testing::ExitedWithCode(2), "");
  EXPECT_EXIT(real("{\"cmd\":\"updateparam\",\"name\":\"ctrl_enabled\",\"value\":\"1\"}"),
              testing::ExitedWithCode(2), "");
  EXPECT_EXIT(real("{\"cmd\":\"reboot\"}"), testing::ExitedWithCode(0), "");
}

TEST_F(CommandTest, UnknownAndMalformedTextsDoNothing) {
  ConfigRecord before;
  memcpy(&before, config_record(), sizeof before);
  uint8_t hud_before[kHudSize];
  memcpy(hud_before, hud, sizeof hud);
  const char* texts[] = {
      "",
      "not json",
      "{\"cmd\":",
      "[\"configrequest\"]",
      "\"configrequest\"",
      "{\"cmd\":5}",
      "{\"cmd\":null,\"name\":\"hud_enabled\",\"value\":\"1\"}",
      "{\"cmd\":\"bogus\",\"name\":\"hud_enabled\",\"value\":\"1\"}",
      "{\"cmd\":\"updateparam\",\"name\":\"bogus\",\"value\":\"1\"}",
      "{\"cmd\":\"updateparam\",\"name\":[\"hud_enabled\"],\"value\":\"1\"}",
      "{\"cmd\":\"updateparam\",\"value\":\"1\"}",
      "{\"cmd\":\"wlan\",\"param\":\"scanx\",\"value\":\"2\"}",
      "{\"cmd\":\"rc\"}",
  };
  for (const char* t : texts) {
    SCOPED_TRACE(t);
    handle(t);
    EXPECT_EQ(memcmp(&before, config_record(), sizeof before), 0);
    EXPECT_EQ(memcmp(hud_before, hud, sizeof hud), 0);
    EXPECT_TRUE(box.take_commands().empty());
    EXPECT_TRUE(sent().empty());
    EXPECT_EQ(g_exit, -1);
  }
  config_command_handle(nullptr, 0);
}

TEST_F(CommandTest, UnknownSettingNameIsLoggedOncePerName) {
  auto unknown = [&](const char* name) {
    testing::internal::CaptureStderr();
    handle(cmd_json({{"cmd", "updateparam"}, {"name", name}, {"value", "1"}}));
    return testing::internal::GetCapturedStderr();
  };
  EXPECT_THAT(unknown("hud_enable"),
              HasSubstr("updateparam: unknown setting \"hud_enable\" ignored"));
  EXPECT_EQ(unknown("hud_enable"), "");
  EXPECT_THAT(unknown("line\nbreak"), HasSubstr("\"line?break\""));
  EXPECT_THAT(unknown("hud_enabled"), testing::Not(HasSubstr("unknown setting")));  // a known name
}

}  // namespace
