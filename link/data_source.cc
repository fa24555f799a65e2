#include "link/data_source.h"

#include <cmath>
#include <cstdio>
#include <new>
#include <cstdlib>
#include <cstring>
#include <pthread.h>
#include <string>

#include "core/config_record.h"
#include "core/hud_block.h"
#include "link/can_transport.h"
#include "link/link_packet.h"
#include "link/link_state.h"
#include "platform/clock.h"
#include "platform/paths.h"
#include "platform/shell.h"
#include "platform/wiringpi.h"
#include "viewer/viewer_send.h"
#include "platform/log.h"

namespace {

constexpr int kLedPin = 24;

constexpr uint8_t kDateTime[20] = {0x55, 0x14, 0x04, 0x6D, 0x02, 0x01,
                                   0x00, 0x00, 0x40, 0x02, 0x54};
constexpr uint8_t kMacToFc[19] = {0x55, 0x13, 0x04, 0x03, 0x07, 0x08, 0x00, 0x00, 0x00, 0x07, 0x11};
constexpr uint8_t kMacToCamera[19] = {0x55, 0x13, 0x04, 0x03, 0x07, 0x01,
                                      0x00, 0x00, 0x00, 0x07, 0x11};
constexpr uint8_t kStartupSetting[14] = {0x55, 0x0E, 0x04, 0x66, 0x02, 0x01, 0x00,
                                         0x00, 0x40, 0x02, 0x66, 0x00, 0x00, 0x00};

const char kTelemetryDisconnected[] = "telemetry disconnected";
const char kNoInterface[] = "CAN interface not found";
static_assert(sizeof kNoInterface == 24);

bool link_is_up() { return link_state().link_up.load() != 0; }

void set_status(uint8_t* hud, const char* text) { hud_set_text(hud, HUD_LINK_STATUS, 128, text); }

const char* freshness_text() { return link_is_up() ? "" : kTelemetryDisconnected; }

// The MAC text from the interface's address file: at most 18 characters of its last
// line, CR and LF cut off, tabs made blanks.
std::string last_line(FILE* f) {
  std::string out, line;
  char buf[256];
  size_t total = 0;
  while (fgets(buf, sizeof buf, f)) {
    total += strlen(buf);
    if (total > 65536) continue;  // drain, but keep nothing more
    line += buf;
    if (!line.empty() && line.back() == '\n') {
      out = line;
      line.clear();
    }
  }
  if (!line.empty()) out = line;
  std::string text;
  for (char c : out) {
    if (c == '\r' || c == '\n') continue;
    text += c == '\t' ? ' ' : c;
  }
  if (text.size() > 18) text.resize(18);
  return text;
}

// Six pieces of one or two hex digits between colons (blanks around them
// allowed), or false.
bool parse_mac(const std::string& text, uint8_t mac[6]) {
  int pieces = 0;
  size_t start = 0;
  for (;;) {
    size_t end = text.find(':', start);
    std::string piece =
        text.substr(start, end == std::string::npos ? std::string::npos : end - start);
    while (!piece.empty() && piece.front() == ' ') piece.erase(0, 1);
    while (!piece.empty() && piece.back() == ' ') piece.pop_back();
    if (pieces == 6 || piece.empty() || piece.size() > 2) return false;
    for (char c : piece)
      if (!isxdigit(static_cast<unsigned char>(c))) return false;
    mac[pieces++] = static_cast<uint8_t>(strtoul(piece.c_str(), nullptr, 16));
    if (end == std::string::npos) break;
    start = end + 1;
  }
  return pieces == 6;
}

void send_startup_setting(uint8_t* hud) {
  uint8_t v = hud_get_u8(hud, HUD_CAMSTATE_B66_BIT0) ? 1 : 0;
  for (int i = 0; i < 3; i++) {
    if (!link_is_up()) break;
    uint8_t p[sizeof kStartupSetting];
    memcpy(p, kStartupSetting, sizeof p);
    p[11] = v;
    link_send(p, sizeof p);
  }
  link_state().startup_setting_sent.store(1);
}

// The HUD's external time (seconds since the epoch, a double written by
// another process) as a time_t, when it is one.
bool hud_time(double v, time_t* t) {
  if (!std::isfinite(v) || v >= 9.2e18 || v <= -9.2e18) return false;
  *t = static_cast<time_t>(static_cast<long long>(v));
  return true;
}

}  // namespace

LinkState& link_state() {
  static LinkState state;
  return state;
}

std::atomic<int32_t> rc_aperture_index{-1};
std::atomic<int32_t> rc_shutter_index{-1};

void link_state_reset() {
  LinkState& ls = link_state();
  ConfigRecord* config = ls.config;
  uint8_t* hud = ls.hud;
  // Rebuilt from its initialisers, so a field added later is reset too.
  ls.~LinkState();
  new (&ls) LinkState();
  ls.config = config;
  ls.hud = hud;
  rc_aperture_index.store(-1);
  rc_shutter_index.store(-1);
}

uint8_t* link_hud() {
  static uint8_t scratch[kHudSize];
  uint8_t* hud = hud_block();
  return hud ? hud : scratch;
}

void data_source_init() {
  log_info("Init data source\n");
  LinkState& ls = link_state();
  ConfigRecord* cfg = config_record();
  ls.config = cfg;
  ls.hud = hud_block();
  uint8_t* hud = link_hud();
  hud_set_u8(hud, HUD_LINK_UP_B, 0);
  hud_set_u8(hud, HUD_LINK_UP_A, 0);
  hud_set_u8(hud, HUD_HUD_ENABLED, 0);
  hud_set_u8(hud, HUD_TELEMETRY_VALID, 0);
  ls.link_up.store(0);
  ls.last_data_time.store(0);

  uint8_t device_mode = cfg_get(cfg->device_mode);
  if (device_mode == 0) {
    ls.mode.store(0);
    log_info("Mode: Osmo\n");
  } else if (device_mode == 1) {
    ls.mode.store(1);
    log_info("Mode: Inspire\n");
  }
  uint8_t cooperative = cfg_get(cfg->cooperative_mode);
  if (cooperative == 0) {
    ls.cooperative.store(0);
    log_info("Cooperative mode: False\n");
  } else if (cooperative == 1) {
    ls.cooperative.store(1);
    log_info("Cooperative mode: True\n");
  }

  pinMode(kLedPin, OUTPUT);
  digitalWrite(kLedPin, LOW);
}

void link_watchdog() {
  LinkState& ls = link_state();
  uint8_t* hud = link_hud();
  ConfigRecord* cfg = config_record();

  can_check_stall();

  uint32_t now = time_ms();
  int32_t age = time_age(now, ls.last_data_time.load());
  if (age <= 1000) {
    set_status(hud, freshness_text());
  } else {
    if (link_is_up()) {
      log_warning("data disconnected\n");
      hud_set_u8(hud, HUD_TELEMETRY_VALID, 0);
      hud_set_u8(hud, HUD_LINK_UP_B, 0);
      hud_set_u8(hud, HUD_LINK_UP_A, 0);
      ls.link_up.store(0);
      cfg_set(cfg->camera_connected, 0);
    }
    set_status(hud, kTelemetryDisconnected);
  }

  uint8_t state;
  if (!link_is_up()) {
    hud_set_u8(hud, HUD_HUD_ENABLED, 0);
    if (shell_run("ifconfig can0 > /dev/null 2>&1") != 0)
      hud_write(hud, HUD_LINK_STATUS, kNoInterface, sizeof kNoInterface);
    else
      set_status(hud, freshness_text());
    state = link_is_up() ? 2 : 0;
  } else {
    hud_set_u8(hud, HUD_PRODUCT, 0);
    hud_set_u8(hud, HUD_VERSION, 0);
    if (cfg_get(cfg->hud_enabled)) hud_set_u8(hud, HUD_HUD_ENABLED, 1);
    if (ls.time_from_local_clock.load()) {
      time_t t = time(nullptr);
      tm local{};
      if (localtime_r(&t, &local) && local.tm_year + 1900 > 1900)
        camera_set_datetime(local.tm_hour, local.tm_min, local.tm_sec, local.tm_mday,
                            local.tm_mon + 1, local.tm_year + 1900);
    }
    state = 2;
  }

  viewer_send_short8(5, 0, state, 0, 0, 0, 0);

  uint32_t stamp = hud_get_u32(hud, HUD_RECORD64_TIME);
  if (stamp != 0 && time_age(now, stamp) > 5000) hud_set_u32(hud, HUD_RECORD64_TIME, 0);

  time_t t;
  if (hud_get_i32(hud, HUD_TIME_SOURCE_STATE) > 1 &&
      hud_time(hud_get_f64(hud, HUD_TIME_SOURCE_VALUE), &t)) {
    int day = time_part(t, "%d"), month = time_part(t, "%m"), year = time_part(t, "%Y");
    int hour = time_part(t, "%H"), minute = time_part(t, "%M"), second = time_part(t, "%S");
    camera_set_datetime(hour, minute, second, day, month, year);
  }

  if (link_is_up() && ls.watchdog_ticks.load() % 2 == 0) camera_send_mac();

  if (hud_get_u8(hud, HUD_TELEMETRY_VALID) && hud_get_u8(hud, HUD_TELEMETRY_B44) == 11 &&
      !ls.startup_setting_sent.load())
    send_startup_setting(hud);

  ls.watchdog_ticks.fetch_add(1);
}

void camera_set_datetime(int hour, int minute, int second, int day, int month, int year) {
  uint8_t p[sizeof kDateTime];
  memcpy(p, kDateTime, sizeof p);
  p[11] = static_cast<uint8_t>(year);
  p[12] = static_cast<uint8_t>(year >> 8);
  p[13] = static_cast<uint8_t>(month);
  p[14] = static_cast<uint8_t>(day);
  p[15] = static_cast<uint8_t>(hour);
  p[16] = static_cast<uint8_t>(minute);
  p[17] = static_cast<uint8_t>(second);
  if (link_is_up()) link_send(p, sizeof p);
}

void camera_send_mac() {
  // Read in place: a shell and a cat every other second were most of what
  // the daemon cost at idle, and a sysfs file needs neither.
  FILE* f = fopen(root_path("/sys/class/net/usb0/address").c_str(), "re");
  if (!f) return;
  std::string text = last_line(f);
  fclose(f);
  uint8_t mac[6];
  if (!parse_mac(text, mac)) return;
  log_info("Current MAC: %s\n", text.c_str());
  uint8_t a[sizeof kMacToFc], b[sizeof kMacToCamera];
  memcpy(a, kMacToFc, sizeof a);
  memcpy(b, kMacToCamera, sizeof b);
  memcpy(a + 11, mac, 6);
  memcpy(b + 11, mac, 6);
  if (link_is_up()) link_send(a, sizeof a);
  if (link_is_up()) link_send(b, sizeof b);
}

int time_part(time_t t, const char* format) {
  tm local{};
  if (!localtime_r(&t, &local)) return -1;
  char buf[5];
  if (strftime(buf, sizeof buf, format, &local) == 0) return -1;
  return static_cast<int>(strtol(buf, nullptr, 10));
}
