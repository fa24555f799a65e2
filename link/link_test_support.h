// Shared by the link's unit tests: captured packets and viewer messages, a
// private HudBlock, a fake clock, hex helpers.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "app/hud_block.h"

using Bytes = std::vector<uint8_t>;

// "55 0E 04" -> {0x55, 0x0E, 0x04}; ".." stands for 00.
Bytes hex(const std::string& text);
std::string to_hex(const uint8_t* p, size_t n);
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

// A fresh temporary directory; remove_tree takes it away again.
std::string temp_dir(const char* tag);
void remove_tree(const std::string& dir);
// A fake command in a shell sandbox: DIR/bin/NAME running the given sh body.
void sandbox_tool(const std::string& dir, const char* name, const char* body);
std::string read_file(const std::string& path);
