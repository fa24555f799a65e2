// The ConfigRecord's fields in layout order, the one table the copy's
// readers come from: pqw-hud's JSON and --layout and docs/hud-layout.md
// (checked by core/hud_layout_test.cc). Offsets and sizes come from the
// struct itself (core/config_record.h), so they cannot disagree with it.
//
//   X(member, type, "writer", "meaning")
//
// type: u8, i32 (little-endian), text (NUL-terminated in the field), pad.
#pragma once

// clang-format off
#define PQW_CONFIG_FIELDS(X) \
  X(disabled, u8, "config", "setting disabled") \
  X(camera_type, u8, "config", "camera type") \
  X(device_mode, u8, "config, link", "0 Osmo, 1 Inspire") \
  X(cooperative_mode, u8, "config, link", "cooperative mode, 0 or 1") \
  X(hdmi_enabled, u8, "config", "HDMI output on") \
  X(control_enabled, u8, "config, link", "camera control over CAN on") \
  X(disable_video_stream, u8, "config, viewer", "video relay off") \
  X(rc_input_enabled, u8, "config, viewer", "RC input on") \
  X(rc_input_mode, text, "config", "RC input kind, e.g. pwm") \
  X(rc2_input_mode, text, "config", "second RC input kind, e.g. sbus") \
  X(rc_input_map, text, "config", "RC channel map, 32 comma-separated entries") \
  X(rc_input_speed_pan, i32, "config", "RC pan speed") \
  X(rc_input_speed_tilt, i32, "config", "RC tilt speed") \
  X(rc_input_speed_dutch, i32, "config", "RC roll speed") \
  X(rc_input_inverse_pan, i32, "config, control", "RC pan inverted") \
  X(rc_input_inverse_tilt, i32, "config, control", "RC tilt inverted") \
  X(rc_input_inverse_dutch, i32, "config, control", "RC roll inverted") \
  X(rc_input_abs, u8, "config", "RC absolute positioning") \
  X(rc_input_exp, u8, "config", "RC exponential curve") \
  X(i2c_input_enabled, u8, "config", "I2C panel on") \
  X(pad0, pad, "-", "reserved") \
  X(i2c_input_speed_pan, i32, "config", "I2C pan speed") \
  X(i2c_input_speed_tilt, i32, "config", "I2C tilt speed") \
  X(i2c_input_speed_dutch, i32, "config", "I2C roll speed") \
  X(osd_enabled, u8, "config", "on-screen display on") \
  X(hud_enabled, u8, "config, link", "HUD on") \
  X(internal_camera_enabled, u8, "config", "internal camera on") \
  X(internal_camera_fullscreen, u8, "config, control", "internal camera full screen") \
  X(focus_assistant_enabled, u8, "config, control", "focus assistant on") \
  X(osd_border_height, u8, "config", "OSD border height") \
  X(osd_border_width, u8, "config", "OSD border width") \
  X(osd_top_offset, u8, "config", "OSD top offset") \
  X(osd_bottom_offset, u8, "config", "OSD bottom offset") \
  X(video_hflip, u8, "config", "video mirrored") \
  X(video_vflip, u8, "config", "video upside down") \
  X(video_fix, u8, "config", "video fix") \
  X(shield_enabled, u8, "config", "lens shield on") \
  X(pad1, pad, "-", "reserved") \
  X(shield_open, i32, "config", "shield servo open position") \
  X(shield_close, i32, "config", "shield servo closed position") \
  X(shield_timeout, i32, "config", "shield auto-close time, ms (the file holds seconds)") \
  X(apstate, u8, "app", "1 while hostapd runs") \
  X(ap_iface, text, "config, app", "access point interface") \
  X(ap_ssid, text, "config", "access point name") \
  X(ap_psk, text, "config", "access point password") \
  X(reserved0, pad, "-", "reserved") \
  X(ap_mode, i32, "config", "access point mode") \
  X(ap_channel, i32, "config", "access point channel") \
  X(ap_country, text, "config", "access point country code") \
  X(wifi_iface, text, "config", "Wi-Fi client interface") \
  X(wifi_ssid, text, "config", "Wi-Fi network name") \
  X(wifi_psk, text, "config", "Wi-Fi password") \
  X(reserved1, pad, "-", "reserved") \
  X(version, text, "app", "daemon version MAJOR.MINOR.PATCH") \
  X(reserved2, pad, "-", "reserved") \
  X(camera_connected, u8, "viewer, link", "1 while the camera link is up") \
  X(reserved3, pad, "-", "reserved")
// clang-format on
