// Test support for the camera operations: every packet that link_send writes
// and every pause taken through sleep_us is recorded in order, nothing
// really sleeps, shell commands go to a sandbox, and the HUD block is a
// zeroed array of the test's own.
#pragma once

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>
#include <vector>

#include "core/config_record.h"
#include "core/hud_block.h"
#include "control/camera_ops.h"
#include "link/link_packet.h"
#include "link/link_state.h"
#include "testing/link_capture.h"
#include "platform/clock.h"
#include "platform/paths.h"
#include "platform/shell.h"
#include "testing/sandbox.h"

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

inline int writer(const uint8_t* bytes, size_t length) {
  std::lock_guard<std::mutex> lock(g_mu);
  g_events.push_back(Event{true, to_hex(bytes, length), 0});
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

// One sandbox for the whole run, removed at exit; its killall is harmless, so
// that the display restarts leave no noise.
inline TestSandbox& sandbox() {
  static TestSandbox* box = [] {
    TestSandbox* b = new TestSandbox("camera-test");
    b->tool("killall", "exit 0");
    atexit([] { delete box; });
    return b;
  }();
  return *box;
}

inline std::string commands_log() { return sandbox().read("commands.log"); }

// Fresh link state, HUD, config and capture; the link is up and the next
// packet gets sequence number `sequence`.
inline void reset(uint32_t sequence = 0) {
  link_test_reset_state();
  link_state().sequence.store(sequence);
  link_state().link_up.store(1);
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
  shell_set_sandbox(sandbox().dir.c_str());
  paths_set_root(sandbox().dir.c_str());
  std::remove((sandbox().dir + "/commands.log").c_str());
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
