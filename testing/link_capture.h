// Shared by the link's unit tests: captured packets and viewer messages, a
// private HudBlock, a fake clock, hex helpers.
#pragma once

#include <cstddef>
#include <cstdio>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "core/hud_block.h"
#include "control/camera_ops.h"
#include "link/link_state.h"

using Bytes = std::vector<uint8_t>;

// "55 0E 04" -> {0x55, 0x0E, 0x04}; ".." stands for 00.
Bytes hex(const std::string& text);
// {0x55, 0x0E, 0x04} -> "55 0E 04".
inline std::string to_hex(const uint8_t* p, size_t n) {
  std::string s;
  char buf[4];
  for (size_t i = 0; i < n; i++) {
    snprintf(buf, sizeof buf, i ? " %02X" : "%02X", p[i]);
    s += buf;
  }
  return s;
}
inline std::string to_hex(const Bytes& b) { return to_hex(b.data(), b.size()); }

// Installs the packet writer and viewer tap captures and empties both.
void capture_start();
void capture_stop();
std::vector<Bytes> captured_packets();
std::vector<Bytes> captured_messages();  // channel 0 payloads
void capture_clear();
// Makes the captured writer return this (e.g. -1: busy) for the next calls.
void capture_set_result(int result);

// A fake millisecond clock and a sleep that advances it.
void fake_clock_install(uint32_t start);
void fake_clock_set(uint32_t now);
void fake_clock_advance(uint32_t ms);
void fake_clock_remove();

struct TestHud {
  uint8_t block[kHudSize] = {};
  TestHud() { hud_set_block(block); }
  ~TestHud() { hud_set_block(nullptr); }
  TestHud(const TestHud&) = delete;
  TestHud& operator=(const TestHud&) = delete;
};

// Every LinkState field the tests touch, and the operations' own shared
// values, as they are at process start (link down). Inline, so that tests
// that do not link link_capture.cc can use it too.
inline void link_test_reset_state() {
  LinkState& ls = link_state();
  ls.sequence.store(0);
  ls.mode.store(0);
  ls.link_up.store(0);
  ls.last_gimbal_command_time.store(0);
  ls.last_data_time.store(0);
  ls.cooperative.store(0);
  ls.wanted_orientation_lock.store(0);
  ls.button_divider.store(0);
  ls.gimbal_stopped.store(0);
  ls.pan_target.store(0);
  ls.tilt_target.store(0);
  ls.dutch_target.store(0);
  ls.zoom_step.store(0);
  ls.digital_zoom_percent.store(0);
  ls.zoom_speed.store(0);
  ls.rc_pan_share.store(0);
  ls.rc_tilt_share.store(0);
  ls.viewer_pan.store(0);
  ls.viewer_tilt.store(0);
  ls.led_blink_time.store(0);
  ls.led_level.store(0);
  ls.interval_active.store(0);
  ls.focus_range.store(0);
  ls.focus_byte.store(0);
  ls.aperture_index.store(-1);
  ls.last_video_format[0].store(0);
  ls.last_video_format[1].store(0);
  ls.shutter_index.store(-1);
  ls.capture_mode.store(0);
  ls.capture_submode.store(0);
  ls.timelapse_interval.store(0);
  ls.timelapse_duration.store(0);
  ls.last_rc_report_time.store(0);
  ls.watchdog_ticks.store(0);
  ls.startup_setting_sent.store(0);
  ls.time_from_local_clock.store(1);
  rc_aperture_index.store(-1);
  rc_shutter_index.store(-1);
  camera_last_digital_zoom.store(-1);
  attitude_from_rc.store(1);
}
