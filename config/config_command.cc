#include "config/config_command.h"

#include <cjson/cJSON.h>

#include <algorithm>
#include <cctype>
#include <climits>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <initializer_list>
#include <mutex>
#include <string>
#include <vector>

#include "core/config_fields.h"
#include "core/config_record.h"
#include "core/hud_block.h"
#include "config/config_file.h"
#include "config/config_report.h"
#include "config/json_text.h"
#include "config/wifi_scan.h"
#include "platform/app_exit.h"
#include "platform/clock.h"
#include "platform/paths.h"
#include "platform/shell.h"
#include "viewer/command_worker.h"
#include "viewer/viewer_send.h"
#include "platform/log.h"

namespace {

// The scan reply goes out as one data message, so it must fit one: a longer
// one would never reach the viewer.
constexpr size_t kScanReplyMax = kViewerDataMax;

struct Envelope {
  const char* cmd = "";
  const char* name = "";
  const char* param = "";
  const char* value[13] = {};  // value[1] is "value", value[2] "value2", ...
  bool flag = false;           // "value" is "1" or "true"
  bool flag2 = false;          // the same for "value2"
};

const char* member(const cJSON* root, const char* key) {
  const cJSON* item = cJSON_GetObjectItem(root, key);
  if (!cJSON_IsString(item) || !item->valuestring) return "";
  return item->valuestring;
}

bool is_true(const char* v) { return strcmp(v, "1") == 0 || strcmp(v, "true") == 0; }

void run(const std::string& cmd) { shell_run(cmd.c_str()); }

void hud_byte(size_t off, uint8_t v) {
  if (uint8_t* hud = hud_block()) hud_set_u8(hud, off, v);
}

// rcin re-reads its settings only at start; the service starts it again.
void restart_rcin() {
  run("killall -q rcin");
  hud_byte(HUD_RC_STATE, 0);
}

void send_text(const std::string& text) {
  viewer_send(reinterpret_cast<const uint8_t*>(text.data()), text.size(), 0);
}

// "0" none, "1" wifi0, "2" wlan0; anything else keeps the field.
void set_iface(char* field, size_t size, const char* selector) {
  if (strcmp(selector, "0") == 0)
    cfg_text_set(field, size, "");
  else if (strcmp(selector, "1") == 0)
    cfg_text_set(field, size, "wifi0");
  else if (strcmp(selector, "2") == 0)
    cfg_text_set(field, size, "wlan0");
}

void wifi_scan_command(const Envelope& e) {
  const char* sel = e.value[1];
  if (strcmp(sel, "0") == 0) return;
  const char* iface = "";
  if (strcmp(sel, "1") == 0)
    iface = "wifi0";
  else if (strcmp(sel, "2") == 0)
    iface = "wlan0";
  log_info("scan Wi-Fi on %s\n", iface);

  std::vector<std::string> names;
  wifi_scan(iface, &names);

  std::string reply = "{\"cmd\":\"wlanscan\",\"param\":\"";
  json_escape_append(reply, sel);
  reply += "\",\"value\":\"";
  static const char kTail[] = "\"}";
  if (reply.size() + sizeof kTail - 1 > kScanReplyMax) {
    log_error("scan reply too long, not sent\n");
    return;
  }
  // Whole names only, so the reply never ends inside an escape or a UTF-8
  // sequence and the list never gains a half name.
  std::string entry;
  for (size_t i = 0; i < names.size(); i++) {
    entry.clear();
    if (i > 0) entry += ',';
    json_escape_append(entry, names[i].data(), names[i].size());
    if (reply.size() + entry.size() + sizeof kTail - 1 > kScanReplyMax) break;
    reply += entry;
  }
  reply += kTail;
  log_info("scan results: %s\n", reply.c_str());
  send_text(reply);
}

void rc_command(const Envelope& e) {
  if (strcmp(e.name, "recalibrate") == 0) {
    std::string boot = root_path("/boot");
    run("mount -o rw,remount " + boot);
    run("rm -f " + root_path("/boot/rcin.cal"));
    run("sync && umount " + boot + " && mount " + boot);
    run("killall -q rcin");
  } else if (strcmp(e.name, "showchannels") == 0) {
    hud_byte(HUD_RC_SHOW_CHANNELS, e.flag);
  }
}

void hdmi_mode_command(const Envelope& e) {
  HdmiMode m = hdmi_mode_lookup(e.value[1]);
  char cmd[64];
  if (m.code <= 0) {
    log_info("set default HDMI mode\n");
    run("tvservice -p");
    if (e.flag2) run("./scripts/hdmi-mode.sh");
  } else {
    const char* group = m.group == 0 ? "CEA" : "DMT";
    log_info("set HDMI mode to %s %d\n", group, m.code);
    snprintf(cmd, sizeof cmd, "tvservice -e \"%s %d\"", group, m.code);
    run(cmd);
    if (e.flag2) {
      snprintf(cmd, sizeof cmd, "./scripts/hdmi-mode.sh %d %d", m.group + 1, m.code);
      run(cmd);
    }
  }
  // tvservice returns before the display has switched; the display and the
  // HUD must start again on the new mode, not the old one.
  sleep_us(1000000);
  run("killall -q hud");
  run("killall -q display");
}

// Values the file must carry unchanged, each with its file key; a value it
// cannot carry, or one Wi-Fi would refuse, refuses the whole setting: a
// setting is never saved and then read back as something else.
struct Checked {
  const char* key;
  const char* value;
};

// WPA: a passphrase of 8 to 63 printable ASCII characters, or the key as 64
// hex digits; empty is an open network.
bool wpa_key_valid(const std::string& k) {
  if (k.empty()) return true;
  if (k.size() == 64)
    return std::all_of(k.begin(), k.end(),
                       [](char c) { return isxdigit(static_cast<unsigned char>(c)); });
  return k.size() >= 8 && k.size() <= 63 &&
         std::all_of(k.begin(), k.end(), [](char c) { return c >= 0x20 && c <= 0x7e; });
}

bool values_fit(const char* setting, std::initializer_list<Checked> values) {
  for (const Checked& c : values) {
    std::string why;
    std::string v = c.value;
    bool ssid = strstr(c.key, "_ssid") != nullptr, psk = strstr(c.key, "_psk") != nullptr;
    if (ssid && v.size() > 32)
      why = "an SSID is 1 to 32 bytes";
    else if (psk && !wpa_key_valid(v))
      why = "a WPA passphrase is 8 to 63 printable characters or 64 hex digits";
    else if (!config_text_fits(c.key, c.value, &why))
      why = "the configuration file cannot carry it: " + why;
    if (why.empty()) continue;
    // The refused value may be a password: its length only.
    log_warning("setting %s refused, nothing changed: %s (%zu characters): %s\n", setting, c.key,
                v.size(), why.c_str());
    return false;
  }
  return true;
}

void wifi_settings(const Envelope& e) {
  ConfigRecord* c = config_record();
  const char* const* v = e.value;
  if (!values_fit("wifi", {{"wifi_ssid", v[5]},
                           {"wifi_psk", v[6]},
                           {"ap_ssid", v[8]},
                           {"ap_psk", v[9]},
                           {"ap_country", v[12]}}))
    return;
  // Never a password in the log: its length says whether one was given.
  log_out(LogLevel::kInfo, "\n");
  log_out(LogLevel::kInfo, "network iface %s ssid %s pass (%zu characters)\n", v[4], v[5],
          strlen(v[6]));
  log_out(LogLevel::kInfo,
          "AP iface %s ssid %s pass (%zu characters) mode %s channel %s country %s\n", v[7], v[8],
          strlen(v[9]), v[10], v[11], v[12]);
  log_out(LogLevel::kInfo, "\n");
  CFG_TEXT_SET(c->wifi_ssid, v[5]);
  CFG_TEXT_SET(c->wifi_psk, v[6]);
  set_iface(c->wifi_iface, sizeof c->wifi_iface, v[4]);
  CFG_TEXT_SET(c->ap_ssid, v[8]);
  CFG_TEXT_SET(c->ap_psk, v[9]);
  set_iface(c->ap_iface, sizeof c->ap_iface, v[7]);
  if (strcmp(v[10], "2.4") == 0)
    cfg_set(c->ap_mode, 2);
  else if (strcmp(v[10], "5") == 0)
    cfg_set(c->ap_mode, 5);
  cfg_set(c->ap_channel, config_number(v[11]));
  CFG_TEXT_SET(c->ap_country, v[12]);
  config_save();
  // The network set-up watches for this marker and applies the new settings.
  run("touch " + root_path("/run/wlan.update"));
}

// A viewer app that sends a setting name this daemon does not know would
// otherwise see nothing happen and never learn why. Each distinct name is
// logged once; the remembered names are bounded so that a sender cycling
// through names cannot grow memory or flood the log.
constexpr size_t kUnknownNamesRemembered = 32;
constexpr size_t kUnknownNameShown = 64;

void log_unknown_setting(const char* name) {
  static std::mutex lock;
  static std::vector<std::string> seen;
  std::string shown(name, strnlen(name, kUnknownNameShown));
  {
    std::lock_guard<std::mutex> hold(lock);
    if (seen.size() >= kUnknownNamesRemembered) return;
    for (const std::string& s : seen)
      if (s == shown) return;
    seen.push_back(shown);
  }
  for (char& ch : shown)
    if (static_cast<unsigned char>(ch) < 0x20 || ch == 0x7f) ch = '?';
  fprintf(stderr, "updateparam: unknown setting \"%s\" ignored (logged once)\n", shown.c_str());
}

// A one-field setting from the field table: the HudBlock mirror first (the
// display reacts at once), then the record, the file, and the process that
// reads the setting only when it starts.
void update_field(const ConfigField& f, const Envelope& e) {
  ConfigRecord* c = config_record();
  int32_t value = 0;
  switch (f.rule) {
    case ParamRule::none:
      return;
    case ParamRule::flag:
      value = e.flag;
      break;
    case ParamRule::nonzero:
      value = config_number(e.value[1]) != 0;
      break;
    case ParamRule::number:
      value = config_number(e.value[1]);
      break;
  }
  if (f.hud >= 0) hud_byte(static_cast<size_t>(f.hud), static_cast<uint8_t>(value));
  config_field_set(c, f, value);
  config_save();
  if (!f.reread_by) return;
  if (strcmp(f.reread_by, "rcin") == 0) {
    restart_rcin();
  } else if (strcmp(f.reread_by, "daemon") == 0) {
    // The device and cooperative modes and the CAN transport are chosen only
    // when the camera link starts: the service starts the daemon again.
    log_info("restart: %s set to %d by %s\n", f.param, config_field_get(c, f), command_origin());
    app_exit(2);
  } else {
    run(std::string("killall -q ") + f.reread_by);
  }
}

// The settings that change several fields or do more than a restart; the
// one-field settings come from the field table (core/config_fields.h).
void update_param(const Envelope& e) {
  ConfigRecord* c = config_record();
  const char* name = e.name;
  const char* v1 = e.value[1];
  auto is = [name](const char* n) { return strcmp(name, n) == 0; };

  if (const ConfigField* f = config_field_by_param(name)) {
    update_field(*f, e);
  } else if (is("rcin_mode")) {
    if (!values_fit(name, {{"rc_input_mode", v1}, {"rc2_input_mode", e.value[2]}})) return;
    log_out(LogLevel::kInfo, "Set RC1 mode %s, RC2 mode %s\n", v1, e.value[2]);
    CFG_TEXT_SET(c->rc_input_mode, v1);
    CFG_TEXT_SET(c->rc2_input_mode, e.value[2]);
    config_save();
    restart_rcin();
  } else if (is("rcin_map")) {
    if (!values_fit(name, {{"rc_input_map", v1}})) return;
    rc_map_parse(v1);
    CFG_TEXT_SET(c->rc_input_map, v1);
    config_save();
    restart_rcin();
  } else if (is("rcin_speed")) {
    cfg_set(c->rc_input_speed_pan, config_number(v1));
    cfg_set(c->rc_input_speed_tilt, config_number(e.value[2]));
    cfg_set(c->rc_input_speed_dutch, config_number(e.value[3]));
    config_save();
  } else if (is("hdmi_enabled")) {
    cfg_set(c->hdmi_enabled, e.flag);
    config_save();
    run(e.flag ? "./scripts/hdmi-change.sh 1" : "./scripts/hdmi-change.sh 0");
  } else if (is("hdmimode")) {
    hdmi_mode_command(e);
  } else if (is("osd_borders")) {
    cfg_set(c->osd_border_width, config_number(v1));
    cfg_set(c->osd_border_height, config_number(e.value[2]));
    config_save();
    run("killall -q display hud");
  } else if (is("osd_offset")) {
    cfg_set(c->osd_top_offset, config_number(v1));
    cfg_set(c->osd_bottom_offset, config_number(e.value[2]));
    config_save();
    run("killall -q hud");
  } else if (is("wifi")) {
    wifi_settings(e);
  } else {
    log_unknown_setting(name);
  }
}

struct HdmiModeName {
  const char* name;
  HdmiMode mode;
};

constexpr HdmiModeName kHdmiModes[] = {
    {"default", {0, 0}},
    {"640x480@60p CEA", {0, 1}},
    {"1280x720@50p CEA", {0, 19}},
    {"1280x720@60p CEA", {0, 4}},
    {"1920x1080@50i CEA", {0, 20}},
    {"1920x1080@50p CEA", {0, 31}},
    {"1920x1080@60i CEA", {0, 5}},
    {"1920x1080@60p CEA", {0, 16}},
    {"640x480@60p DMT", {1, 4}},
    {"640x480@75p DMT", {1, 6}},
    {"800x600@60p DMT", {1, 9}},
    {"800x600@75p DMT", {1, 11}},
    {"1024x768@60p DMT", {1, 16}},
    {"1024x768@75p DMT", {1, 18}},
    {"1152x864@75p DMT", {1, 21}},
    {"1280x1024@60p DMT", {1, 35}},
    {"1280x1024@75p DMT", {1, 36}},
    {"1920x1080@60p DMT", {1, 82}},
};

}  // namespace

HdmiMode hdmi_mode_lookup(const char* name) {
  if (!name) return {0, 0};
  for (const HdmiModeName& m : kHdmiModes) {
    if (strcmp(m.name, name) == 0) return m.mode;
  }
  return {0, 0};
}

void config_command_handle(const char* text, size_t length) {
  (void)length;
  if (!text) return;
  cJSON* root = cJSON_Parse(text);
  // A text that is no JSON object leaves every member empty: nothing matches.
  Envelope e;
  for (const char*& v : e.value) v = "";
  if (cJSON_IsObject(root)) {
    e.cmd = member(root, "cmd");
    e.name = member(root, "name");
    e.param = member(root, "param");
    e.value[1] = member(root, "value");
    char key[16];
    for (int i = 2; i <= 12; i++) {
      snprintf(key, sizeof key, "value%d", i);
      e.value[i] = member(root, key);
    }
  }
  e.flag = is_true(e.value[1]);
  e.flag2 = is_true(e.value[2]);

  const char* cmd = e.cmd;
  if (strcmp(cmd, "configrequest") == 0) {
    log_info("config request\n");
    send_text(config_report_build());
  } else if (strcmp(cmd, "wlan") == 0) {
    if (strcmp(e.param, "scan") == 0) wifi_scan_command(e);
  } else if (strcmp(cmd, "reboot") == 0) {
    run("reboot");
  } else if (strcmp(cmd, "restart") == 0) {
    cJSON_Delete(root);
    log_info("restart asked for by %s\n", command_origin());
    app_exit(3);
    return;
  } else if (strcmp(cmd, "shutdown") == 0) {
    run("shutdown");
  } else if (strcmp(cmd, "rc") == 0) {
    rc_command(e);
  } else if (strcmp(cmd, "updateparam") == 0) {
    log_out(LogLevel::kInfo, "Need to update param %s to %s\n", e.name, e.value[1]);
    update_param(e);
  }
  cJSON_Delete(root);
}
