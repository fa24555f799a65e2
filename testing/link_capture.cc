#include "testing/link_capture.h"

#include <atomic>
#include <cstdio>
#include <mutex>
#include <sstream>

#include "link/link_packet.h"
#include "viewer/viewer_send.h"

namespace {

std::mutex g_mutex;
std::vector<Bytes> g_packets;
std::vector<Bytes> g_messages;
std::atomic<int> g_result{0};  // 0: return the length

int capture_writer(const uint8_t* bytes, size_t length) {
  int r = g_result.load();
  if (r != 0) return r;
  std::lock_guard<std::mutex> lock(g_mutex);
  g_packets.emplace_back(bytes, bytes + length);
  return static_cast<int>(length);
}

void capture_tap(int channel, const uint8_t* payload, size_t length) {
  if (channel != 0) return;
  std::lock_guard<std::mutex> lock(g_mutex);
  g_messages.emplace_back(payload, payload + length);
}

}  // namespace

Bytes hex(const std::string& text) {
  Bytes out;
  std::istringstream in(text);
  std::string tok;
  while (in >> tok)
    out.push_back(tok == ".." ? 0 : static_cast<uint8_t>(std::stoul(tok, nullptr, 16)));
  return out;
}

void capture_start() {
  capture_clear();
  g_result.store(0);
  link_set_writer(capture_writer);
  viewer_set_tap(capture_tap);
}

void capture_stop() {
  link_set_writer(nullptr);
  viewer_set_tap(nullptr);
}

std::vector<Bytes> captured_packets() {
  std::lock_guard<std::mutex> lock(g_mutex);
  return g_packets;
}

std::vector<Bytes> captured_messages() {
  std::lock_guard<std::mutex> lock(g_mutex);
  return g_messages;
}

void capture_clear() {
  std::lock_guard<std::mutex> lock(g_mutex);
  g_packets.clear();
  g_messages.clear();
}

void capture_set_result(int result) { g_result.store(result); }
