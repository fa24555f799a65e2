// Shared by the link's unit tests: captured packets and viewer messages, a
// private HudBlock, hex helpers.
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
#include "viewer/command_worker.h"

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

struct TestHud {
  uint8_t block[kHudSize] = {};
  TestHud() { hud_set_block(block); }
  ~TestHud() { hud_set_block(nullptr); }
  TestHud(const TestHud&) = delete;
  TestHud& operator=(const TestHud&) = delete;
};

// The link's and the operations' shared values as they are at process start
// (link down), through each module's own reset.
inline void link_test_reset_state() {
  link_state_reset();
  camera_ops_reset();
  command_worker_reset();
}
