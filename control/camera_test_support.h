// Test support for the camera operations: every packet that link_send writes
// and every pause taken through sleep_us is recorded in order, nothing
// really sleeps, shell commands go to a sandbox, and the HUD block is a
// zeroed array of the test's own.
#pragma once

#include <gtest/gtest.h>
#include <stdlib.h>
#include <ftw.h>
#include <sys/stat.h>

#include <cstdio>
#include <cstring>
#include <fstream>
#include <mutex>
#include <sstream>
#include <string>
#include <vector>

#include "app/config_record.h"
#include "app/hud_block.h"
#include "control/camera_ops.h"
#include "link/link_packet.h"
#include "link/link_state.h"
#include "platform/clock.h"
#include "platform/paths.h"
#include "platform/shell.h"

namespace camtest {

struct Event {
  bool packet;      // true: a packet was written, false: a pause
  std::string hex;  // the packet, "55 0E 04 ..."
  uint32_t us;      // the pause
};

inline std::mutex g_mu;
inline std::vector<Event> g_events;
inline int g_packets = 0;
inline int g_drop_link_after = 0;  // > 0: link_up cleared after that many packets
inline void (*g_on_sleep)(uint32_t us) = nullptr;
inline uint8_t g_hud[kHudSize];

inline std::string hex(const uint8_t* b, size_t n) {
  std::string s;
  char x[4];
  for (size_t i = 0; i < n; i++) {
    snprintf(x, sizeof x, i ? " %02X" : "%02X", b[i]);
    s += x;
  }
  return s;
}

inline int writer(const uint8_t* bytes, size_t length) {
  std::lock_guard<std::mutex> lock(g_mu);
  g_events.push_back(Event{true, hex(bytes, length), 0});
  // The link drops right after this packet went out.
  if (++g_packets == g_drop_link_after) link_state().link_up.store(0);
  return static_cast<int>(length);
}

inline void sleeper(uint32_t us) {
  {
    std::lock_guard<std::mutex> lock(g_mu);
    g_events.push_back(Event{false, "", us});
  }
  if (g_on_sleep) g_on_sleep(us);
}

inline std::string g_sandbox;
inline int remove_entry(const char* path, const struct stat*, int, FTW*) { return remove(path); }
inline void remove_sandbox() {
  if (g_sandbox.size() > 5) nftw(g_sandbox.c_str(), remove_entry, 8, FTW_DEPTH | FTW_PHYS);
}

inline const std::string& sandbox_dir() {
  static std::string dir = [] {
    char tmpl[] = "/tmp/pqw-camera-test-XXXXXX";
    const char* d = mkdtemp(tmpl);
    if (!d) abort();
    std::string dir = d;
    g_sandbox = dir;
    // A harmless killall, so that the display restarts leave no noise.
    std::string bin = dir + "/bin";
    mkdir(bin.c_str(), 0755);
    std::string fake = bin + "/killall";
    if (FILE* f = fopen(fake.c_str(), "w")) {
      fputs("#!/bin/sh\nexit 0\n", f);
      fclose(f);
      chmod(fake.c_str(), 0755);
    }
    atexit(remove_sandbox);
    return dir;
  }();
  return dir;
}

inline std::string commands_log() {
  std::ifstream f(sandbox_dir() + "/commands.log");
  std::stringstream ss;
  ss << f.rdbuf();
  return ss.str();
}

// Fresh link state, HUD, config and capture; the link is up and the next
// packet gets sequence number `sequence`.
inline void reset(uint32_t sequence = 0) {
  LinkState& ls = link_state();
  ls.sequence.store(sequence);
  ls.mode.store(0);
  ls.link_up.store(1);
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
  ls.interval_active.store(0);
  ls.focus_range.store(0);
  ls.focus_byte.store(0);
  ls.capture_mode.store(0);
  ls.capture_submode.store(0);
  ls.time_from_local_clock.store(1);
  ls.last_rc_report_time.store(0);
  camera_last_digital_zoom.store(-1);
  attitude_from_rc.store(1);
  ConfigRecord* cfg = config_record();
  cfg_set(cfg->rc_input_inverse_pan, 0);
  cfg_set(cfg->rc_input_inverse_tilt, 0);
  cfg_set(cfg->rc_input_inverse_dutch, 0);
  cfg_set(cfg->rc_input_enabled, 0);
  memset(g_hud, 0, sizeof g_hud);
  hud_set_block(g_hud);
  {
    std::lock_guard<std::mutex> lock(g_mu);
    g_events.clear();
    g_packets = 0;
    g_drop_link_after = 0;
  }
  g_on_sleep = nullptr;
  link_set_writer(writer);
  sleep_set_fn(sleeper);
  shell_set_sandbox(sandbox_dir().c_str());
  paths_set_root(sandbox_dir().c_str());
  std::remove((sandbox_dir() + "/commands.log").c_str());
}

inline std::vector<std::string> packets() {
  std::lock_guard<std::mutex> lock(g_mu);
  std::vector<std::string> out;
  for (const Event& e : g_events) {
    if (e.packet) out.push_back(e.hex);
  }
  return out;
}

inline std::vector<Event> events() {
  std::lock_guard<std::mutex> lock(g_mu);
  return g_events;
}

// Pauses in ms, and between them the number of packets sent, as one text:
// "2 p 10 p 10" is two packets, 10 ms, one packet, 10 ms. Packets are
// counted in runs so timing tests read like the button sequences.
inline std::string rhythm() {
  std::string s;
  int run = 0;
  auto flush = [&] {
    if (run) s += (s.empty() ? "" : " ") + std::to_string(run) + "p";
    run = 0;
  };
  for (const Event& e : events()) {
    if (e.packet) {
      run++;
      continue;
    }
    flush();
    s += (s.empty() ? "" : " ") + std::to_string(e.us / 1000);
  }
  flush();
  return s;
}

inline uint32_t total_pause_ms() {
  uint32_t us = 0;
  for (const Event& e : events()) {
    if (!e.packet) us += e.us;
  }
  return us / 1000;
}

}  // namespace camtest
