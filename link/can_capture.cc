#include "link/can_capture.h"

#include <time.h>

#include <atomic>
#include <cerrno>
#include <cstddef>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <string>

#include "platform/clock.h"
#include "platform/health.h"
#include "platform/log.h"

namespace {

struct Entry {
  uint32_t sec, usec;
  uint32_t can_id;
  uint8_t len;
  uint8_t data[8];
};

struct Capture {
  std::atomic<bool> on{false};
  // A bounded multi-producer ring without a lock: a producer claims a slot
  // by advancing tail, fills it and publishes it through the slot's sequence
  // (pos + 1); the one consumer reads it and frees it for the next round
  // (pos + kCanCaptureRing). A full ring is a slot whose sequence still says
  // "not yet consumed": the producer drops the frame, it never waits.
  struct Slot {
    std::atomic<size_t> sequence{0};
    Entry entry;
  };
  Slot ring[kCanCaptureRing];
  std::atomic<size_t> tail{0};
  size_t head = 0;  // the consumer's, under file_mutex

  Capture() {
    for (size_t i = 0; i < kCanCaptureRing; i++) ring[i].sequence.store(i);
  }

  // The writer's side: only the pqw-capture thread (or a test) touches it.
  std::mutex file_mutex;
  FILE* file = nullptr;
  std::string path;
  uint64_t max_bytes = 0, written = 0;
  int keep = 0;
  bool write_failed = false;  // said once per failing stretch, not per frame
};

Capture g_cap;

void put_u32(uint8_t* p, uint32_t v) {
  for (int i = 0; i < 4; i++) p[i] = static_cast<uint8_t>(v >> (8 * i));
}

bool open_file() {
  FILE* f = fopen(g_cap.path.c_str(), "wbe");
  if (!f) {
    log_error("capture: cannot open %s: %s\n", g_cap.path.c_str(), strerror(errno));
    return false;
  }
  uint8_t h[kCanCaptureHeader] = {};
  put_u32(h, 0xA1B2C3D4);
  h[4] = 2, h[6] = 4;   // version 2.4
  put_u32(h + 16, 72);  // snaplen: room for a CAN FD frame
  put_u32(h + 20, 227);
  if (fwrite(h, sizeof h, 1, f) != 1) {
    log_error("capture: cannot write %s\n", g_cap.path.c_str());
    fclose(f);
    return false;
  }
  g_cap.file = f;
  g_cap.written = sizeof h;
  return true;
}

// FILE -> FILE.1 -> ... -> FILE.keep, then a fresh FILE.
bool rotate() {
  fclose(g_cap.file);
  g_cap.file = nullptr;
  for (int i = g_cap.keep; i >= 1; i--) {
    std::string from = i == 1 ? g_cap.path : g_cap.path + "." + std::to_string(i - 1);
    std::string to = g_cap.path + "." + std::to_string(i);
    rename(from.c_str(), to.c_str());  // a missing older file is no fault
  }
  return open_file();
}

void write_entry(const Entry& e) {
  if (!g_cap.file || (g_cap.written + kCanCaptureRecord > g_cap.max_bytes && !rotate())) {
    health_add(HEALTH_CAPTURE_DROPPED);
    return;
  }
  uint8_t r[kCanCaptureRecord];
  put_u32(r, e.sec);
  put_u32(r + 4, e.usec);
  put_u32(r + 8, 16);
  put_u32(r + 12, 16);
  can_capture_encode(e.can_id, e.data, e.len, r + 16);
  if (fwrite(r, sizeof r, 1, g_cap.file) != 1) {
    health_add(HEALTH_CAPTURE_DROPPED);
    if (!g_cap.write_failed) log_error("capture: cannot write %s\n", g_cap.path.c_str());
    g_cap.write_failed = true;
    clearerr(g_cap.file);
    return;
  }
  g_cap.write_failed = false;
  g_cap.written += sizeof r;
}

}  // namespace

void can_capture_encode(uint32_t can_id, const uint8_t* data, uint8_t len, uint8_t out[16]) {
  memset(out, 0, 16);
  for (int i = 0; i < 4; i++) out[i] = static_cast<uint8_t>(can_id >> (24 - 8 * i));
  if (len > 8) len = 8;
  out[4] = len;
  if (len) memcpy(out + 8, data, len);
}

void can_capture_set(const char* path, uint64_t max_bytes, int keep) {
  std::lock_guard<std::mutex> lock(g_cap.file_mutex);
  g_cap.path = path ? path : "";
  g_cap.max_bytes = max_bytes < kCanCaptureHeader + kCanCaptureRecord
                        ? kCanCaptureHeader + kCanCaptureRecord
                        : max_bytes;
  g_cap.keep = keep < 0 ? 0 : keep;
}

bool can_capture_configured() {
  std::lock_guard<std::mutex> lock(g_cap.file_mutex);
  return !g_cap.path.empty();
}

bool can_capture_open() {
  std::lock_guard<std::mutex> lock(g_cap.file_mutex);
  if (g_cap.file) fclose(g_cap.file);
  g_cap.file = nullptr;
  if (g_cap.path.empty() || !open_file()) return false;
  g_cap.on.store(true);
  return true;
}

bool can_capture_enabled() { return g_cap.on.load(std::memory_order_relaxed); }

void can_capture_frame(uint32_t can_id, const uint8_t* data, uint8_t len) {
  if (!g_cap.on.load(std::memory_order_relaxed)) return;
  timespec ts{};
  clock_gettime(CLOCK_REALTIME, &ts);
  Entry e{static_cast<uint32_t>(ts.tv_sec),
          static_cast<uint32_t>(ts.tv_nsec / 1000),
          can_id,
          len > 8 ? static_cast<uint8_t>(8) : len,
          {}};
  memcpy(e.data, data, e.len);
  size_t pos = g_cap.tail.load(std::memory_order_relaxed);
  for (;;) {
    Capture::Slot& slot = g_cap.ring[pos % kCanCaptureRing];
    size_t seq = slot.sequence.load(std::memory_order_acquire);
    auto diff = static_cast<std::ptrdiff_t>(seq - pos);
    if (diff == 0) {
      if (g_cap.tail.compare_exchange_weak(pos, pos + 1, std::memory_order_relaxed)) {
        slot.entry = e;
        slot.sequence.store(pos + 1, std::memory_order_release);
        return;
      }
    } else if (diff < 0) {
      break;  // full: the writer thread has not emptied this slot yet
    } else {
      pos = g_cap.tail.load(std::memory_order_relaxed);
    }
  }
  health_add(HEALTH_CAPTURE_DROPPED);
}

void can_capture_drain() {
  std::lock_guard<std::mutex> file_lock(g_cap.file_mutex);
  for (;;) {
    Capture::Slot& slot = g_cap.ring[g_cap.head % kCanCaptureRing];
    if (slot.sequence.load(std::memory_order_acquire) != g_cap.head + 1) break;
    Entry e = slot.entry;
    slot.sequence.store(g_cap.head + kCanCaptureRing, std::memory_order_release);
    g_cap.head++;
    write_entry(e);
  }
  if (g_cap.file) fflush(g_cap.file);
}

void* can_capture_loop(void*) {
  for (;;) {
    can_capture_drain();
    sleep_us(20000);
  }
  return nullptr;
}

void can_capture_close() {
  g_cap.on.store(false);
  can_capture_drain();
  std::lock_guard<std::mutex> lock(g_cap.file_mutex);
  if (g_cap.file) fclose(g_cap.file);
  g_cap.file = nullptr;
}
