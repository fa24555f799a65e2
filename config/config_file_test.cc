// The configuration file: inih's reading rules, the 48 keys, the channel
// map, the exact text written, the round trip, and saves that survive kills.
#include "config/config_file.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <csignal>
#include <cstring>
#include <fstream>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

#include "core/config_record.h"
#include "core/hud_block.h"
#include "platform/paths.h"
#include "platform/shell.h"
#include "testing/sandbox.h"

namespace {

alignas(8) uint8_t g_hud[kHudSize];

ConfigRecord* fresh_record() {
  hud_set_block(g_hud);
  memset(g_hud, 0, sizeof g_hud);
  ConfigRecord* rec = config_record();
  memset(rec, 0, sizeof *rec);
  return rec;
}

int read_text(const std::string& text) { return config_read_text(text.data(), text.size()); }

std::string text_of(const char* field, size_t size) {
  char buf[600];
  cfg_text_get(buf, sizeof buf, field, size);
  return buf;
}
#define TEXT(f) text_of(f, sizeof(f))

TEST(ConfigReader, NumbersFlagsBytesAndSeconds) {
  struct Case {
    const char* line;
    int32_t ConfigRecord::*i32;
    uint8_t ConfigRecord::*u8;
    int64_t want;
  } cases[] = {
      {"control_enabled=7", nullptr, &ConfigRecord::control_enabled, 1},
      {"control_enabled=true", nullptr, &ConfigRecord::control_enabled, 0},
      {"control_enabled=-1", nullptr, &ConfigRecord::control_enabled, 1},
      {"osd_border_width=300", nullptr, &ConfigRecord::osd_border_width, 44},
      {"camera_type=-1", nullptr, &ConfigRecord::camera_type, 255},
      {"camera_type: 2", nullptr, &ConfigRecord::camera_type, 2},
      {"camera_type = 2 ; X5", nullptr, &ConfigRecord::camera_type, 2},
      {"camera_type=2;3", nullptr, &ConfigRecord::camera_type, 2},
      {"  camera_type=2", nullptr, &ConfigRecord::camera_type, 2},
      {"Camera_type=2", nullptr, &ConfigRecord::camera_type, 0},
      {"disabled=257", nullptr, &ConfigRecord::disabled, 1},
      {"rc_input_speed_pan=abc", &ConfigRecord::rc_input_speed_pan, nullptr, 0},
      {"rc_input_speed_pan=12abc", &ConfigRecord::rc_input_speed_pan, nullptr, 12},
      {"rc_input_speed_pan=-40", &ConfigRecord::rc_input_speed_pan, nullptr, -40},
      {"ap_mode=99999999999", &ConfigRecord::ap_mode, nullptr, INT32_MAX},
      {"ap_channel=-99999999999", &ConfigRecord::ap_channel, nullptr, INT32_MIN},
      {"shield_timeout=30", &ConfigRecord::shield_timeout, nullptr, 30000},
      {"shield_timeout=-2", &ConfigRecord::shield_timeout, nullptr, -2000},
      {"shield_open=1950", &ConfigRecord::shield_open, nullptr, 1950},
  };
  for (const Case& c : cases) {
    ConfigRecord* rec = fresh_record();
    read_text(std::string(c.line) + "\r\n");
    int64_t got = c.i32 ? rec->*c.i32 : rec->*c.u8;
    EXPECT_EQ(got, c.want) << c.line;
  }
}

TEST(ConfigReader, QuotedTextsAndComments) {
  struct Case {
    const char* line;
    const char* want;
  } cases[] = {
      {"ap_ssid=\"my \"net\"\"", "my net"},
      {"ap_ssid = \"two words\" ; the comment", "two words"},
      {"ap_ssid=\"a;b\"", "a;b"},
      {"ap_ssid=\"a ;b\"", "a"},
      {"ap_ssid=a\tb", "ab"},
      {"ap_ssid=\"\"", ""},
      {"ap_ssid=", ""},
  };
  for (const Case& c : cases) {
    ConfigRecord* rec = fresh_record();
    read_text(std::string(c.line) + "\n");
    EXPECT_EQ(TEXT(rec->ap_ssid), c.want) << c.line;
  }
  ConfigRecord* rec = fresh_record();
  read_text("wifi_psk=\"p\"a\"ss\"\nwifi_ssid=x\"\nap_psk=\"q\"\nap_iface=wlan0 # not a comment\n");
  EXPECT_EQ(TEXT(rec->wifi_psk), "pass");
  EXPECT_EQ(TEXT(rec->wifi_ssid), "x");
  EXPECT_EQ(TEXT(rec->ap_psk), "q");
  EXPECT_EQ(TEXT(rec->ap_iface), "wlan0 # n");  // cut to 9 characters
}

TEST(ConfigReader, TextsAreCutToTheirFields) {
  ConfigRecord* rec = fresh_record();
  read_text("rc_input_mode=abcdefgh\nap_country=0123456789abc\nap_ssid=" + std::string(180, 's') +
            "\n");
  EXPECT_EQ(TEXT(rec->rc_input_mode), "abcde");
  EXPECT_EQ(TEXT(rec->ap_country), "012345678");
  EXPECT_EQ(TEXT(rec->ap_ssid), std::string(180, 's'));
}

TEST(ConfigReader, SectionsContinuationsBomAndErrors) {
  ConfigRecord* rec = fresh_record();
  // A section line makes every later setting a rejected line.
  EXPECT_EQ(read_text("camera_type=1\n[wifi]\ndevice_mode=1\ncamera_type=2\n"), 3);
  EXPECT_EQ(rec->camera_type, 1);
  EXPECT_EQ(rec->device_mode, 0);

  rec = fresh_record();
  // Continuations replace the value; comments and blank lines in between do
  // not count, an indented comment is still a comment.
  read_text("rc_input_mode=ppm\n# c\n\n   sbus\ncamera_type=1\n  ; 2\n\tdevice_mode\n");
  EXPECT_EQ(TEXT(rec->rc_input_mode), "sbus");
  EXPECT_EQ(rec->camera_type, 0);  // continued with the value "device_mode", not a number
  EXPECT_EQ(rec->device_mode, 0);

  rec = fresh_record();
  EXPECT_EQ(read_text("\xEF\xBB\xBF"
                      "camera_type=2\r\nno separator\r\ndevice_mode=1\r\n"),
            2);
  EXPECT_EQ(rec->camera_type, 2);
  EXPECT_EQ(rec->device_mode, 1);

  rec = fresh_record();
  EXPECT_EQ(read_text("unknown_key=1\n"), 1);
  EXPECT_EQ(read_text("   \n# only comments\n; and these\n"), 0);
  EXPECT_EQ(config_read_file("/nonexistent/pelquarinthos.conf"), -1);
}

TEST(ConfigReader, OverLongLinesKeepTheirFirst199Characters) {
  // The rest of an over-long line is skipped: it never becomes a setting.
  struct Case {
    std::string text;
    int rc;
    int camera_type;
  };
  const std::string huge(70000, 'x');  // beyond one read-ahead chunk
  const Case cases[] = {
      {"ap_ssid=" + std::string(250, 'a') + "\ncamera_type=2\n", 0, 2},
      {"ap_psk=" + std::string(192, 'p') + "camera_type=2\n", 0, 0},
      {"#" + std::string(198, 'c') + "camera_type=2\n", 0, 0},
      {"; " + huge + "camera_type=2\ncamera_type=3\n", 0, 3},
      {"bad" + huge + "\ncamera_type=1", 1, 1},
      {std::string(199, ' ') + "camera_type=2\n", 0, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text.substr(0, 40));
    ConfigRecord* rec = fresh_record();
    EXPECT_EQ(read_text(c.text), c.rc);
    EXPECT_EQ(rec->camera_type, c.camera_type);
  }
  ConfigRecord* rec = fresh_record();
  read_text("ap_ssid=" + std::string(250, 'a') + "\n");
  EXPECT_EQ(TEXT(rec->ap_ssid), std::string(191, 'a'));
}

TEST(ConfigReader, LongMapLineIsTakenWhole) {
  std::string map;
  while (map.size() < 511) map += "record-shot,";
  map.resize(511);
  ConfigRecord* rec = fresh_record();
  EXPECT_EQ(read_text("rc_input_map = " + map + "   ; channels\r\ncamera_type=2\r\n"), 0);
  EXPECT_EQ(TEXT(rec->rc_input_map), map);
  EXPECT_EQ(rec->camera_type, 2);
  for (int i = 0; i < 32; i++) EXPECT_EQ(g_hud[HUD_RC_MAP + i], 3) << i;

  // Over 511 characters the stored text is cut; a section still rejects it.
  rec = fresh_record();
  read_text("rc_input_map=" + std::string(700, 'x') + "\n");
  EXPECT_EQ(TEXT(rec->rc_input_map), std::string(511, 'x'));
  rec = fresh_record();
  EXPECT_EQ(read_text("[s]\nrc_input_map=" + map + "\n"), 2);
  EXPECT_EQ(TEXT(rec->rc_input_map), "");
}

TEST(RcMap, CodesEmptyEntriesAndLimits) {
  fresh_record();
  rc_map_parse("pan,,tilt");
  EXPECT_EQ(g_hud[HUD_RC_MAP + 0], 0);
  EXPECT_EQ(g_hud[HUD_RC_MAP + 1], 255);
  EXPECT_EQ(g_hud[HUD_RC_MAP + 2], 1);
  for (int i = 3; i < 32; i++) EXPECT_EQ(g_hud[HUD_RC_MAP + i], 255);

  const char* names[] = {"pan",           "tilt",       "record",
                         "record-shot",   "menu",       "ev",
                         "zoom",          "focus",      "dutch",
                         "focus-pan",     "focus-tilt", "digital-zoom",
                         "digital-zoom2", "iso",        "shutter",
                         "aperture",      "videomode",  "custom-focus-assistant",
                         "center",        "intcamera",  "osd",
                         "orient-lock"};
  std::string all;
  for (const char* n : names) all += std::string(n) + ",";
  all += " pan,PAN,pan ,zoom";
  rc_map_parse(all.c_str());
  for (int i = 0; i < 22; i++) EXPECT_EQ(g_hud[HUD_RC_MAP + i], i) << names[i];
  for (int i = 22; i < 25; i++) EXPECT_EQ(g_hud[HUD_RC_MAP + i], 255);
  EXPECT_EQ(g_hud[HUD_RC_MAP + 25], 6);
  EXPECT_EQ(g_hud[HUD_RC_MAP + 26], 255);

  std::string many;
  for (int i = 0; i < 40; i++) many += "zoom,";
  rc_map_parse(many.c_str());
  for (int i = 0; i < 32; i++) EXPECT_EQ(g_hud[HUD_RC_MAP + i], 6);
  EXPECT_EQ(g_hud[HUD_RC_MAP + 32], 0);  // the byte after the table is not touched

  rc_map_parse("");
  for (int i = 0; i < 32; i++) EXPECT_EQ(g_hud[HUD_RC_MAP + i], 255);
}

// The file as users see it, written out by hand: every block's comments,
// its setting with the value given, one empty line.
std::string golden(const std::vector<std::string>& values) {
  const std::vector<std::vector<std::string>> blocks = {
      {"# Skip app run or not", "# 0 - run app", "# 1 - don't run app", "disabled="},
      {"# Camera type", "# 0 - X3", "# 1 - X5, X5R", "# 2 - auto detect", "camera_type="},
      {"# Camera work mode", "# 0 - work as Osmo (for Osmo and Inspire cameras)",
       "# 1 - work as Inspire (only for Inspire cameras)", "device_mode="},
      {"# Camera and flight controller cooperative mode", "# 0 - no flight controller present",
       "# 1 - flight controller present", "cooperative_mode="},
      {"# Camera control enable", "# 0 - control disabled", "# 1 - control enabled",
       "control_enabled="},
      {"# Disable video stream to Orvendalusk", "# 1 - video stream disabled",
       "# 0 - video stream enabled (default)", "disable_video_stream="},
      {"# Video horizontal flip", "# 1 - flipped", "# 0 - normal", "video_hflip="},
      {"# Video vertical flip", "# 1 - flipped", "# 0 - normal", "video_vflip="},
      {"# Video fix (try it if no video displayed)", "# 1 - fix", "# 0 - don't fix", "video_fix="},
      {"# Video out selection", "# 1 - use HDMI", "# 0 - use TV-out", "hdmi_enabled="},
      {"# Use RC control", "# 1 - enabled", "# 0 - disabled", "rc_input_enabled="},
      {"# RC1 mode", "# pwm - PWM mode", "# ppm - PPM mode", "rc_input_mode="},
      {"# RC2 mode", "# sbus - Sbus mode", "# ppm - PPM mode", "rc2_input_mode="},
      {"# RC channels mapping", "# pan,tilt,zoom... etc", "rc_input_map="},
      {"# RC pan speed (%)", "# 0 - 100", "rc_input_speed_pan="},
      {"# RC tilt speed (%)", "# 0 - 100", "rc_input_speed_tilt="},
      {"# RC dutch speed (%)", "# 0 - 100", "rc_input_speed_dutch="},
      {"# RC pan inverse", "# 0 - no", "# 1 - inverse", "rc_input_inverse_pan="},
      {"# RC tilt inverse", "# 0 - no", "# 1 - inverse", "rc_input_inverse_tilt="},
      {"# RC dutch inverse", "# 0 - no", "# 1 - inverse", "rc_input_inverse_dutch="},
      {"# RC exponential pan/tilt", "rc_input_exp="},
      {"# RC pan/tilt/dutch absolute", "rc_input_abs="},
      {"# Use I2C control", "# 1 - enabled", "# 0 - disabled", "i2c_input_enabled="},
      {"# I2C pan speed (%)", "# 0 - 100", "i2c_input_speed_pan="},
      {"# I2C tilt speed (%)", "# 0 - 100", "i2c_input_speed_tilt="},
      {"# I2C dutch speed (%)", "# 0 - 100", "i2c_input_speed_dutch="},
      {"# Interface for Wi-Fi access point", "# disabled if empty", "ap_iface="},
      {"# SSID for Wi-Fi access point", "ap_ssid="},
      {"# Password for Wi-Fi access point", "ap_psk="},
      {"# Wi-Fi Access Point mode", "# 2 - 2.4GHz, 5 - 5GHz", "ap_mode="},
      {"# Wi-Fi Access Point country code", "# 00, CN, US", "ap_country="},
      {"# Wi-Fi Access Point channel", "# 1 - 13 for 2.4Ghz and 36 - 42 for 5Ghz", "ap_channel="},
      {"# Interface for Wi-Fi network connection", "# disabled if empty", "wifi_iface="},
      {"# SSID for network connection ", "wifi_ssid="},
      {"# Password for network connection ", "wifi_psk="},
      {"# OSD enable ", "# 1 - enabled", "# 0 - disabled", "osd_enabled="},
      {"# OSD borders width (pixels)", "# 0 - disabled", "osd_border_width="},
      {"# OSD borders height (pixels)", "# 0 - disabled", "osd_border_height="},
      {"# OSD top text offset (pixels)", "osd_top_offset="},
      {"# OSD bottom text offset (pixels)", "osd_bottom_offset="},
      {"# HUD enable ", "# 1 - enabled", "# 0 - disabled", "hud_enabled="},
      {"# Internal camera enable ", "# 1 - enabled", "# 0 - disabled", "internal_camera_enabled="},
      {"# Internal camera fullscreen ", "# 1 - fullscreen", "# 0 - windowed",
       "internal_camera_fullscreen="},
      {"# Focus assistant enable ", "# 1 - enabled", "# 0 - disabled", "focus_assistant_enabled="},
      {"# Shield enable ", "# 1 - enabled", "# 0 - disabled", "shield_enabled="},
      {"# Shield auto close timeout (in seconds)", "shield_timeout="},
      {"# Shield open position (in microseconds, default 1950)", "shield_open="},
      {"# Shield closed position (in microseconds, default 1000)", "shield_close="},
  };
  std::string out = "# Pelquarinthos-wired config file\r\n\r\n";
  for (size_t b = 0; b < blocks.size(); b++) {
    for (const std::string& line : blocks[b]) {
      out += line;
      if (line.back() == '=') out += values.at(b);
      out += "\r\n";
    }
    out += "\r\n";
  }
  return out;
}

TEST(ConfigWriter, DefaultRecordText) {
  ConfigRecord* rec = fresh_record();
  CFG_TEXT_SET(rec->rc_input_mode, "pwm");
  CFG_TEXT_SET(rec->rc2_input_mode, "sbus");
  CFG_TEXT_SET(rec->rc_input_map, ",,,,,,,,,,,,,,,,,,,,,,,,,,,,,,,");
  std::vector<std::string> v(48, "0");
  v[11] = "pwm";
  v[12] = "sbus";
  v[13] = ",,,,,,,,,,,,,,,,,,,,,,,,,,,,,,,";
  v[26] = "";
  v[27] = "\"\"";
  v[28] = "\"\"";
  v[30] = "";
  v[32] = "";
  v[33] = "\"\"";
  v[34] = "\"\"";
  std::string text = config_file_text(rec);
  EXPECT_EQ(text, golden(v));
  EXPECT_EQ(text.substr(text.size() - 4), "\r\n\r\n");
}

// Every field set to a value of its own.
void fill_record(ConfigRecord* rec, const std::string& map) {
  rec->disabled = 1;
  rec->camera_type = 2;
  rec->device_mode = 1;
  rec->cooperative_mode = 1;
  rec->control_enabled = 1;
  rec->disable_video_stream = 1;
  rec->video_hflip = 1;
  rec->video_vflip = 1;
  rec->video_fix = 1;
  rec->hdmi_enabled = 1;
  rec->rc_input_enabled = 1;
  CFG_TEXT_SET(rec->rc_input_mode, "ppm");
  CFG_TEXT_SET(rec->rc2_input_mode, "ppm");
  CFG_TEXT_SET(rec->rc_input_map, map.c_str());
  rec->rc_input_speed_pan = 10;
  rec->rc_input_speed_tilt = 20;
  rec->rc_input_speed_dutch = 30;
  rec->rc_input_inverse_pan = 1;
  rec->rc_input_inverse_tilt = -1;
  rec->rc_input_inverse_dutch = 2;
  rec->rc_input_exp = 1;
  rec->rc_input_abs = 1;
  rec->i2c_input_enabled = 1;
  rec->i2c_input_speed_pan = 40;
  rec->i2c_input_speed_tilt = 50;
  rec->i2c_input_speed_dutch = 60;
  CFG_TEXT_SET(rec->ap_iface, "wlan1");
  CFG_TEXT_SET(rec->ap_ssid, "Pel AP #1");
  CFG_TEXT_SET(rec->ap_psk, "secret;pass");
  rec->ap_mode = 5;
  CFG_TEXT_SET(rec->ap_country, "CN");
  rec->ap_channel = 36;
  CFG_TEXT_SET(rec->wifi_iface, "wlan0");
  CFG_TEXT_SET(rec->wifi_ssid, "home net");
  CFG_TEXT_SET(rec->wifi_psk, "p=ss:word");
  rec->osd_enabled = 1;
  rec->osd_border_width = 200;
  rec->osd_border_height = 255;
  rec->osd_top_offset = 7;
  rec->osd_bottom_offset = 9;
  rec->hud_enabled = 1;
  rec->internal_camera_enabled = 1;
  rec->internal_camera_fullscreen = 1;
  rec->focus_assistant_enabled = 1;
  rec->shield_enabled = 1;
  rec->shield_timeout = 30999;  // the fraction of a second is not written
  rec->shield_open = 1950;
  rec->shield_close = -1000;
}

TEST(ConfigWriter, EveryFieldSetText) {
  ConfigRecord* rec = fresh_record();
  fill_record(rec, "pan,tilt,,zoom");
  std::vector<std::string> v = {"1",
                                "2",
                                "1",
                                "1",
                                "1",
                                "1",
                                "1",
                                "1",
                                "1",
                                "1",
                                "1",
                                "ppm",
                                "ppm",
                                "pan,tilt,,zoom",
                                "10",
                                "20",
                                "30",
                                "1",
                                "-1",
                                "2",
                                "1",
                                "1",
                                "1",
                                "40",
                                "50",
                                "60",
                                "wlan1",
                                "\"Pel AP #1\"",
                                "\"secret;pass\"",
                                "5",
                                "CN",
                                "36",
                                "wlan0",
                                "\"home net\"",
                                "\"p=ss:word\"",
                                "1",
                                "200",
                                "255",
                                "7",
                                "9",
                                "1",
                                "1",
                                "1",
                                "1",
                                "1",
                                "30",
                                "1950",
                                "-1000"};
  ASSERT_EQ(v.size(), 48u);
  EXPECT_EQ(config_file_text(rec), golden(v));
}

TEST(ConfigWriter, ControlCharactersNeverAddLines) {
  ConfigRecord* rec = fresh_record();
  // A field holding a line break (written around cfg_text_set) still gives
  // one setting line.
  strcpy(rec->ap_ssid, "evil\r\ncontrol_enabled=1");
  std::string text = config_file_text(rec);
  EXPECT_NE(text.find("ap_ssid=\"evilcontrol_enabled=1\"\r\n"), std::string::npos);
  ConfigRecord* back = fresh_record();
  read_text(text);
  EXPECT_EQ(back->control_enabled, 0);
}

TEST(ConfigFile, ReadWriteReadRoundTrip) {
  std::string map;
  while (map.size() < 511) map += "focus-tilt,";
  map.resize(511);
  ConfigRecord* rec = fresh_record();
  fill_record(rec, map);
  ConfigRecord before = *rec;
  std::string text = config_file_text(rec);

  for (bool strip_cr : {false, true}) {
    std::string t = text;
    if (strip_cr) t.erase(std::remove(t.begin(), t.end(), '\r'), t.end());
    ConfigRecord* back = fresh_record();
    EXPECT_EQ(read_text(t), 0);
    ConfigRecord want = before;
    want.shield_timeout = 30000;
    CFG_TEXT_SET(want.ap_psk, "secret;pass");
    EXPECT_EQ(memcmp(back, &want, sizeof want), 0) << (strip_cr ? "without CR" : "with CR");
    EXPECT_EQ(TEXT(back->rc_input_map), map);
    EXPECT_EQ(config_file_text(back), text);
  }
}

TEST(ConfigSave, WritesMasterRunsCommandsAndCopies) {
  TestSandbox s("config-test");
  s.link_tool("cat");
  s.link_tool("sed");
  ConfigRecord* rec = fresh_record();
  fill_record(rec, "pan");
  config_save();
  EXPECT_EQ(s.read("boot/pelquarinthos-wired.conf"), config_file_text(rec));
  std::string want_copy = config_file_text(rec);
  want_copy.erase(std::remove(want_copy.begin(), want_copy.end(), '\r'), want_copy.end());
  EXPECT_EQ(s.read("run/pelquarinthos.conf"), want_copy);
  const std::string& root = s.dir;
  EXPECT_EQ(s.read("commands.log"), "mount -o rw,remount " + root + "/boot\n" + "umount " + root +
                                        "/boot\n" + "mount " + root + "/boot\n" + "cat " + root +
                                        "/boot/pelquarinthos-wired.conf | sed 's/\\r$//' > " +
                                        root + "/run/pelquarinthos.conf\n");
  EXPECT_FALSE(s.exists("boot/pelquarinthos-wired.conf.tmp"));
}

TEST(ConfigSave, UnwritableBootStopsAfterRemount) {
  TestSandbox s("config-test");
  rmdir((s.dir + "/boot").c_str());
  fresh_record();
  config_save();
  EXPECT_EQ(s.read("commands.log"), "mount -o rw,remount " + s.dir + "/boot\n");
}

TEST(ConfigSave, ConcurrentSavesAndMapParsesStayWhole) {
  TestSandbox s("config-test");
  ConfigRecord* rec = fresh_record();
  fill_record(rec, "pan,tilt");
  std::string want = config_file_text(rec);
  std::vector<std::thread> threads;
  for (int t = 0; t < 3; t++) {
    threads.emplace_back([] {
      for (int i = 0; i < 10; i++) config_save();
    });
    threads.emplace_back([t] {
      for (int i = 0; i < 200; i++) rc_map_parse(t % 2 ? "zoom,zoom" : "iso,iso");
    });
  }
  for (std::thread& th : threads) th.join();
  EXPECT_EQ(s.read("boot/pelquarinthos-wired.conf"), want);
  EXPECT_EQ(g_hud[HUD_RC_MAP], g_hud[HUD_RC_MAP + 1]);
}

TEST(ConfigSave, KilledSavesNeverLeaveAPartialFile) {
  TestSandbox s("config-test");
  ConfigRecord* rec = fresh_record();
  fill_record(rec, std::string(400, ','));
  std::string first = config_file_text(rec);
  config_save();
  rec->camera_type = 1;
  CFG_TEXT_SET(rec->ap_ssid, std::string(255, 'z').c_str());
  std::string second = config_file_text(rec);
  ASSERT_NE(first.size(), second.size());
  for (int round = 0; round < 25; round++) {
    pid_t pid = fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
      ConfigRecord* r = config_record();
      for (uint32_t i = 0;; i++) {
        r->camera_type = (i & 1) ? 1 : 2;
        CFG_TEXT_SET(r->ap_ssid, (i & 1) ? std::string(255, 'z').c_str() : "Pel AP #1");
        config_save();
      }
    }
    usleep(2000 + 1500 * (round % 7));
    kill(pid, SIGKILL);
    waitpid(pid, nullptr, 0);
    std::string now = s.read("boot/pelquarinthos-wired.conf");
    ConfigRecord* r = config_record();
    r->camera_type = 2;
    CFG_TEXT_SET(r->ap_ssid, "Pel AP #1");
    std::string a = config_file_text(r);
    r->camera_type = 1;
    CFG_TEXT_SET(r->ap_ssid, std::string(255, 'z').c_str());
    std::string b = config_file_text(r);
    ASSERT_TRUE(now == a || now == b || now == first) << "round " << round << ": " << now.size();
  }
}

}  // namespace
