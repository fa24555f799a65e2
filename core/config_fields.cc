#include "core/config_fields.h"

#include <cstring>

#include "core/hud_block.h"

namespace {

using R = ConfigRecord;
using K = ConfigKind;
using S = ReportStyle;
using P = ParamRule;

constexpr ConfigSlot slot_of(const char* name, size_t offset, uint8_t R::*m) {
  return {name, offset, 1, ConfigType::u8, m, nullptr};
}
constexpr ConfigSlot slot_of(const char* name, size_t offset, int32_t R::*m) {
  return {name, offset, 4, ConfigType::i32, nullptr, m};
}
template <size_t N>
constexpr ConfigSlot slot_of(const char* name, size_t offset, char (R::*)[N]) {
  return {name, offset, N, ConfigType::text, nullptr, nullptr};
}

}  // namespace

#define CONFIG_SLOT(m) slot_of(#m, offsetof(ConfigRecord, m), &ConfigRecord::m)
#define CONFIG_PAD(m) \
  { #m, offsetof(ConfigRecord, m), sizeof(ConfigRecord::m), ConfigType::pad, nullptr, nullptr }

// In the order of the file; the fields that are not in it last.
// clang-format off
const ConfigField kConfigTable[] = {
    {.slot = CONFIG_SLOT(disabled), .key = "disabled", .kind = K::byte,
     .comments = {"# Skip app run or not", "# 0 - run app", "# 1 - don't run app"},
     .meaning = "setting disabled"},
    {.slot = CONFIG_SLOT(camera_type), .key = "camera_type", .kind = K::byte,
     .comments = {"# Camera type", "# 0 - X3", "# 1 - X5, X5R", "# 2 - auto detect"},
     .report = "camtype", .style = S::number, .report_pos = 1,
     .param = "camtype", .rule = P::number, .reread_by = "video-receiver",
     .meaning = "camera type"},
    {.slot = CONFIG_SLOT(device_mode), .key = "device_mode", .kind = K::byte,
     .comments = {"# Camera work mode", "# 0 - work as Osmo (for Osmo and Inspire cameras)",
                  "# 1 - work as Inspire (only for Inspire cameras)"},
     .report = "dmode", .style = S::number, .report_pos = 2,
     .param = "device_mode", .rule = P::number, .reread_by = "daemon",
     .writer = "config, link", .meaning = "0 Osmo, 1 Inspire"},
    {.slot = CONFIG_SLOT(cooperative_mode), .key = "cooperative_mode", .kind = K::byte,
     .comments = {"# Camera and flight controller cooperative mode",
                  "# 0 - no flight controller present", "# 1 - flight controller present"},
     .report = "cmode", .style = S::number, .report_pos = 3,
     .param = "coop_mode", .rule = P::number, .reread_by = "daemon",
     .writer = "config, link", .meaning = "cooperative mode, 0 or 1"},
    {.slot = CONFIG_SLOT(control_enabled), .key = "control_enabled", .kind = K::flag,
     .comments = {"# Camera control enable", "# 0 - control disabled", "# 1 - control enabled"},
     .report = "ctrl_en", .style = S::number, .report_pos = 4,
     .param = "ctrl_enabled", .rule = P::nonzero, .reread_by = "daemon",
     .writer = "config, link", .meaning = "camera control over CAN on"},
    {.slot = CONFIG_SLOT(disable_video_stream), .key = "disable_video_stream", .kind = K::flag,
     .comments = {"# Disable video stream to Orvendalusk", "# 1 - video stream disabled",
                  "# 0 - video stream enabled (default)"},
     .report = "v_dis", .style = S::number, .report_pos = 17,
     .param = "disable_video_stream", .rule = P::nonzero,
     .writer = "config, viewer", .meaning = "video relay off"},
    {.slot = CONFIG_SLOT(video_hflip), .key = "video_hflip", .kind = K::flag,
     .comments = {"# Video horizontal flip", "# 1 - flipped", "# 0 - normal"},
     .report = "v_hf", .style = S::number, .report_pos = 18,
     .param = "video_hflip", .rule = P::nonzero, .reread_by = "display",
     .meaning = "video mirrored"},
    {.slot = CONFIG_SLOT(video_vflip), .key = "video_vflip", .kind = K::flag,
     .comments = {"# Video vertical flip", "# 1 - flipped", "# 0 - normal"},
     .report = "v_vf", .style = S::number, .report_pos = 19,
     .param = "video_vflip", .rule = P::nonzero, .reread_by = "display",
     .meaning = "video upside down"},
    {.slot = CONFIG_SLOT(video_fix), .key = "video_fix", .kind = K::flag,
     .comments = {"# Video fix (try it if no video displayed)", "# 1 - fix", "# 0 - don't fix"},
     .report = "v_f", .style = S::number, .report_pos = 20,
     .param = "video_fix", .rule = P::nonzero, .reread_by = "display",
     .meaning = "video fix"},
    // "hdmi_enabled" runs the HDMI switch script: config_command.cc.
    {.slot = CONFIG_SLOT(hdmi_enabled), .key = "hdmi_enabled", .kind = K::flag,
     .comments = {"# Video out selection", "# 1 - use HDMI", "# 0 - use TV-out"},
     .report = "hdmistate", .style = S::number, .report_pos = 21,
     .meaning = "HDMI output on"},
    {.slot = CONFIG_SLOT(rc_input_enabled), .key = "rc_input_enabled", .kind = K::flag,
     .comments = {"# Use RC control", "# 1 - enabled", "# 0 - disabled"},
     .report = "rcin_en", .style = S::number, .report_pos = 5,
     .param = "rcin_enabled", .rule = P::flag, .reread_by = "rcin",
     .writer = "config, viewer", .meaning = "RC input on"},
    {.slot = CONFIG_SLOT(rc_input_mode), .key = "rc_input_mode", .kind = K::text,
     .comments = {"# RC1 mode", "# pwm - PWM mode", "# ppm - PPM mode"},
     .report = "rcin_mode", .style = S::text, .report_pos = 6,
     .meaning = "RC input kind, e.g. pwm"},
    {.slot = CONFIG_SLOT(rc2_input_mode), .key = "rc2_input_mode", .kind = K::text,
     .comments = {"# RC2 mode", "# sbus - Sbus mode", "# ppm - PPM mode"},
     .report = "rcin2_mode", .style = S::text, .report_pos = 7,
     .meaning = "second RC input kind, e.g. sbus"},
    {.slot = CONFIG_SLOT(rc_input_map), .key = "rc_input_map", .kind = K::map,
     .comments = {"# RC channels mapping", "# pan,tilt,zoom... etc"},
     .report = "rcin_map", .style = S::text, .report_pos = 8,
     .meaning = "RC channel map, 32 comma-separated entries"},
    {.slot = CONFIG_SLOT(rc_input_speed_pan), .key = "rc_input_speed_pan", .kind = K::integer,
     .comments = {"# RC pan speed (%)", "# 0 - 100"},
     .report = "rcin_pan", .style = S::number, .report_pos = 9,
     .param = "rcin_pan", .rule = P::number,
     .meaning = "RC pan speed"},
    {.slot = CONFIG_SLOT(rc_input_speed_tilt), .key = "rc_input_speed_tilt", .kind = K::integer,
     .comments = {"# RC tilt speed (%)", "# 0 - 100"},
     .report = "rcin_tilt", .style = S::number, .report_pos = 10,
     .param = "rcin_tilt", .rule = P::number,
     .meaning = "RC tilt speed"},
    {.slot = CONFIG_SLOT(rc_input_speed_dutch), .key = "rc_input_speed_dutch", .kind = K::integer,
     .comments = {"# RC dutch speed (%)", "# 0 - 100"},
     .report = "rcin_dutch", .style = S::number, .report_pos = 11,
     .param = "rcin_dutch", .rule = P::number,
     .meaning = "RC roll speed"},
    {.slot = CONFIG_SLOT(rc_input_inverse_pan), .key = "rc_input_inverse_pan", .kind = K::integer,
     .comments = {"# RC pan inverse", "# 0 - no", "# 1 - inverse"},
     .report = "rcin_paninv", .style = S::number, .report_pos = 12,
     .param = "rcin_pan_inv", .rule = P::number,
     .writer = "config, control", .meaning = "RC pan inverted"},
    {.slot = CONFIG_SLOT(rc_input_inverse_tilt), .key = "rc_input_inverse_tilt", .kind = K::integer,
     .comments = {"# RC tilt inverse", "# 0 - no", "# 1 - inverse"},
     .report = "rcin_tiltinv", .style = S::number, .report_pos = 13,
     .param = "rcin_tilt_inv", .rule = P::number,
     .writer = "config, control", .meaning = "RC tilt inverted"},
    {.slot = CONFIG_SLOT(rc_input_inverse_dutch), .key = "rc_input_inverse_dutch", .kind = K::integer,
     .comments = {"# RC dutch inverse", "# 0 - no", "# 1 - inverse"},
     .report = "rcin_dutchinv", .style = S::number, .report_pos = 14,
     .param = "rcin_dutch_inv", .rule = P::number,
     .writer = "config, control", .meaning = "RC roll inverted"},
    {.slot = CONFIG_SLOT(rc_input_exp), .key = "rc_input_exp", .kind = K::flag,
     .comments = {"# RC exponential pan/tilt"},
     .report = "rcin_exp", .style = S::number, .report_pos = 15,
     .param = "rcin_exp", .rule = P::flag, .reread_by = "rcin",
     .meaning = "RC exponential curve"},
    {.slot = CONFIG_SLOT(rc_input_abs), .key = "rc_input_abs", .kind = K::flag,
     .comments = {"# RC pan/tilt/dutch absolute"},
     .report = "rcin_abs", .style = S::number, .report_pos = 16,
     .param = "rcin_abs", .rule = P::flag,
     .meaning = "RC absolute positioning"},
    {.slot = CONFIG_SLOT(i2c_input_enabled), .key = "i2c_input_enabled", .kind = K::flag,
     .comments = {"# Use I2C control", "# 1 - enabled", "# 0 - disabled"},
     .meaning = "I2C panel on"},
    {.slot = CONFIG_SLOT(i2c_input_speed_pan), .key = "i2c_input_speed_pan", .kind = K::integer,
     .comments = {"# I2C pan speed (%)", "# 0 - 100"},
     .meaning = "I2C pan speed"},
    {.slot = CONFIG_SLOT(i2c_input_speed_tilt), .key = "i2c_input_speed_tilt", .kind = K::integer,
     .comments = {"# I2C tilt speed (%)", "# 0 - 100"},
     .meaning = "I2C tilt speed"},
    {.slot = CONFIG_SLOT(i2c_input_speed_dutch), .key = "i2c_input_speed_dutch", .kind = K::integer,
     .comments = {"# I2C dutch speed (%)", "# 0 - 100"},
     .meaning = "I2C roll speed"},
    {.slot = CONFIG_SLOT(ap_iface), .key = "ap_iface", .kind = K::text,
     .comments = {"# Interface for Wi-Fi access point", "# disabled if empty"},
     .report = "ap_iface", .style = S::iface, .report_pos = 32,
     .writer = "config, app", .meaning = "access point interface"},
    {.slot = CONFIG_SLOT(ap_ssid), .key = "ap_ssid", .kind = K::quoted,
     .comments = {"# SSID for Wi-Fi access point"},
     .report = "ap_ssid", .style = S::text, .report_pos = 33,
     .meaning = "access point name"},
    {.slot = CONFIG_SLOT(ap_psk), .key = "ap_psk", .kind = K::quoted,
     .comments = {"# Password for Wi-Fi access point"},
     .report = "ap_psk", .style = S::text, .report_pos = 34,
     .meaning = "access point password"},
    {.slot = CONFIG_SLOT(ap_mode), .key = "ap_mode", .kind = K::integer,
     .comments = {"# Wi-Fi Access Point mode", "# 2 - 2.4GHz, 5 - 5GHz"},
     .report = "ap_mode", .style = S::number, .report_pos = 35,
     .meaning = "access point mode"},
    {.slot = CONFIG_SLOT(ap_country), .key = "ap_country", .kind = K::text,
     .comments = {"# Wi-Fi Access Point country code", "# 00, CN, US"},
     .report = "ap_country", .style = S::text, .report_pos = 37,
     .meaning = "access point country code"},
    {.slot = CONFIG_SLOT(ap_channel), .key = "ap_channel", .kind = K::integer,
     .comments = {"# Wi-Fi Access Point channel", "# 1 - 13 for 2.4Ghz and 36 - 42 for 5Ghz"},
     .report = "ap_channel", .style = S::number, .report_pos = 36,
     .meaning = "access point channel"},
    {.slot = CONFIG_SLOT(wifi_iface), .key = "wifi_iface", .kind = K::text,
     .comments = {"# Interface for Wi-Fi network connection", "# disabled if empty"},
     .report = "lan_iface", .style = S::iface, .report_pos = 38,
     .meaning = "Wi-Fi client interface"},
    {.slot = CONFIG_SLOT(wifi_ssid), .key = "wifi_ssid", .kind = K::quoted,
     .comments = {"# SSID for network connection "},
     .report = "lan_ssid", .style = S::text, .report_pos = 39,
     .meaning = "Wi-Fi network name"},
    {.slot = CONFIG_SLOT(wifi_psk), .key = "wifi_psk", .kind = K::quoted,
     .comments = {"# Password for network connection "},
     .report = "lan_psk", .style = S::text, .report_pos = 40,
     .meaning = "Wi-Fi password"},
    {.slot = CONFIG_SLOT(osd_enabled), .key = "osd_enabled", .kind = K::flag,
     .comments = {"# OSD enable ", "# 1 - enabled", "# 0 - disabled"},
     .report = "osd_en", .style = S::number, .report_pos = 26,
     .param = "osd_enabled", .rule = P::flag, .hud = HUD_OSD_ENABLED,
     .meaning = "on-screen display on"},
    {.slot = CONFIG_SLOT(osd_border_width), .key = "osd_border_width", .kind = K::byte,
     .comments = {"# OSD borders width (pixels)", "# 0 - disabled"},
     .report = "osdbrdw", .style = S::number, .report_pos = 22,
     .meaning = "OSD border width"},
    {.slot = CONFIG_SLOT(osd_border_height), .key = "osd_border_height", .kind = K::byte,
     .comments = {"# OSD borders height (pixels)", "# 0 - disabled"},
     .report = "osdbrdh", .style = S::number, .report_pos = 23,
     .meaning = "OSD border height"},
    {.slot = CONFIG_SLOT(osd_top_offset), .key = "osd_top_offset", .kind = K::byte,
     .comments = {"# OSD top text offset (pixels)"},
     .report = "osdtof", .style = S::number, .report_pos = 24,
     .param = "osd_top_offset", .rule = P::number, .reread_by = "hud",
     .meaning = "OSD top offset"},
    {.slot = CONFIG_SLOT(osd_bottom_offset), .key = "osd_bottom_offset", .kind = K::byte,
     .comments = {"# OSD bottom text offset (pixels)"},
     .report = "osdbof", .style = S::number, .report_pos = 25,
     .param = "osd_bottom_offset", .rule = P::number, .reread_by = "hud",
     .meaning = "OSD bottom offset"},
    {.slot = CONFIG_SLOT(hud_enabled), .key = "hud_enabled", .kind = K::flag,
     .comments = {"# HUD enable ", "# 1 - enabled", "# 0 - disabled"},
     .report = "hud_en", .style = S::number, .report_pos = 27,
     .param = "hud_enabled", .rule = P::flag, .hud = HUD_HUD_ENABLED,
     .writer = "config, link", .meaning = "HUD on"},
    {.slot = CONFIG_SLOT(internal_camera_enabled), .key = "internal_camera_enabled", .kind = K::flag,
     .comments = {"# Internal camera enable ", "# 1 - enabled", "# 0 - disabled"},
     .report = "ic_en", .style = S::number, .report_pos = 28,
     .param = "internal_camera_enabled", .rule = P::flag, .hud = HUD_INTCAM_ENABLED,
     .reread_by = "raspivid",
     .meaning = "internal camera on"},
    {.slot = CONFIG_SLOT(internal_camera_fullscreen), .key = "internal_camera_fullscreen",
     .kind = K::flag,
     .comments = {"# Internal camera fullscreen ", "# 1 - fullscreen", "# 0 - windowed"},
     .report = "ic_fs", .style = S::number, .report_pos = 29,
     .param = "internal_camera_fullscreen", .rule = P::flag, .hud = HUD_INTCAM_FULLSCREEN,
     .reread_by = "raspivid",
     .writer = "config, control", .meaning = "internal camera full screen"},
    {.slot = CONFIG_SLOT(focus_assistant_enabled), .key = "focus_assistant_enabled", .kind = K::flag,
     .comments = {"# Focus assistant enable ", "# 1 - enabled", "# 0 - disabled"},
     .report = "fa_en", .style = S::number, .report_pos = 30,
     .param = "fa_enabled", .rule = P::flag, .hud = HUD_FOCUS_ASSISTANT,
     .writer = "config, control", .meaning = "focus assistant on"},
    {.slot = CONFIG_SLOT(shield_enabled), .key = "shield_enabled", .kind = K::flag,
     .comments = {"# Shield enable ", "# 1 - enabled", "# 0 - disabled"},
     .meaning = "lens shield on"},
    {.slot = CONFIG_SLOT(shield_timeout), .key = "shield_timeout", .kind = K::seconds,
     .comments = {"# Shield auto close timeout (in seconds)"},
     .meaning = "shield auto-close time, ms (the file holds seconds)"},
    {.slot = CONFIG_SLOT(shield_open), .key = "shield_open", .kind = K::integer,
     .comments = {"# Shield open position (in microseconds, default 1950)"},
     .meaning = "shield servo open position"},
    {.slot = CONFIG_SLOT(shield_close), .key = "shield_close", .kind = K::integer,
     .comments = {"# Shield closed position (in microseconds, default 1000)"},
     .meaning = "shield servo closed position"},
    // Not in the file.
    {.slot = CONFIG_SLOT(apstate),
     .report = "apstate", .style = S::number, .report_pos = 31,
     .writer = "app", .meaning = "1 while hostapd runs"},
    {.slot = CONFIG_SLOT(version),
     .report = "version", .style = S::text, .report_pos = 41,
     .writer = "app", .meaning = "daemon version MAJOR.MINOR.PATCH"},
    {.slot = CONFIG_SLOT(camera_connected),
     .writer = "viewer, link", .meaning = "1 while the camera link is up"},
    {.slot = CONFIG_PAD(pad0), .writer = "-", .meaning = "reserved"},
    {.slot = CONFIG_PAD(pad1), .writer = "-", .meaning = "reserved"},
    {.slot = CONFIG_PAD(reserved0), .writer = "-", .meaning = "reserved"},
    {.slot = CONFIG_PAD(reserved1), .writer = "-", .meaning = "reserved"},
    {.slot = CONFIG_PAD(reserved2), .writer = "-", .meaning = "reserved"},
    {.slot = CONFIG_PAD(reserved3), .writer = "-", .meaning = "reserved"},
};
// clang-format on
const size_t kConfigTableSize = sizeof kConfigTable / sizeof kConfigTable[0];

int32_t config_field_get(const ConfigRecord* rec, const ConfigField& f) {
  if (f.slot.u8) return cfg_get(rec->*f.slot.u8);
  if (f.slot.i32) return cfg_get(rec->*f.slot.i32);
  return 0;
}

void config_field_set(ConfigRecord* rec, const ConfigField& f, int32_t value) {
  if (f.slot.u8)
    cfg_set(rec->*f.slot.u8, static_cast<uint8_t>(value & 0xff));
  else if (f.slot.i32)
    cfg_set(rec->*f.slot.i32, value);
}

char* config_field_text(ConfigRecord* rec, const ConfigField& f) {
  if (f.slot.type != ConfigType::text) return nullptr;
  return reinterpret_cast<char*>(rec) + f.slot.offset;
}

const ConfigField* config_field_by_key(const char* key) {
  for (size_t i = 0; i < kConfigTableSize; i++)
    if (kConfigTable[i].key && strcmp(kConfigTable[i].key, key) == 0) return &kConfigTable[i];
  return nullptr;
}

const ConfigField* config_field_by_param(const char* param) {
  for (size_t i = 0; i < kConfigTableSize; i++)
    if (kConfigTable[i].param && strcmp(kConfigTable[i].param, param) == 0) return &kConfigTable[i];
  return nullptr;
}
