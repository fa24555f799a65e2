// can_path: the camera link's receive path, measured.
//
// 1. Throughput: the camera side's records of one tick (telemetry, attitude,
//    camera state, focus, card, status, playback, histogram: 58 frames) fed
//    frame by frame through the reader's per-frame steps and the handler, on
//    this thread, for a fixed time: frames and packets per second.
// 2. Latency, in process: from handing a telemetry record's last frame to the
//    reader steps to its viewer message (code 7) being framed.
// 1b. The same with --capture on: each frame also goes through the capture
//    hook into the ring, which a pqw-capture thread empties into a file; the
//    ratio against 1. is the hook's cost (the feed outruns any disk, so
//    most frames find the ring full and are counted as dropped instead).
// 3. Latency over the simulated bus: the real reader thread on a UDP socket;
//    from sending a telemetry record's last frame to its viewer message.
//
// Usage: can_path [seconds per part, default 2]
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include "core/hud_block.h"
#include "app/hooks.h"
#include "tools/camera_records.h"
#include "link/can_capture.h"
#include "link/can_frame.h"
#include "link/can_transport.h"
#include "link/link_packet.h"
#include "link/link_state.h"
#include "platform/health.h"
#include "platform/ports.h"
#include "platform/shell.h"
#include "platform/thread.h"
#include "platform/wiringpi.h"
#include "viewer/viewer_send.h"

namespace {

using Clock = std::chrono::steady_clock;

uint8_t g_hud[kHudSize];
std::atomic<uint64_t> g_messages{0};
std::atomic<int64_t> g_telemetry_at{0};  // ns, last code 7 message

int64_t now_ns() {
  return std::chrono::duration_cast<std::chrono::nanoseconds>(Clock::now().time_since_epoch())
      .count();
}

void tap(int, const uint8_t* payload, size_t n) {
  g_messages.fetch_add(1, std::memory_order_relaxed);
  if (n == 24 && payload[0] == 7) g_telemetry_at.store(now_ns(), std::memory_order_release);
}

int no_write(const uint8_t*, size_t n) { return static_cast<int>(n); }

std::vector<CanFrame> frames_of(const std::vector<Packet>& packets) {
  std::vector<CanFrame> out;
  for (const Packet& p : packets)
    for (size_t i = 0; i < can_frame_count(p.size()); i++)
      out.push_back(can_frame_chunk(kCanIdCamera, p.data(), p.size(), i));
  return out;
}

void report(const char* what, std::vector<double> us) {
  std::sort(us.begin(), us.end());
  if (us.empty()) {
    printf("%s: no samples\n", what);
    return;
  }
  auto at = [&](double q) { return us[static_cast<size_t>(q * (us.size() - 1))]; };
  printf("%s: %zu samples, median %.1f us, p99 %.1f us, max %.1f us\n", what, us.size(), at(0.5),
         at(0.99), us.back());
}

double throughput(double seconds) {
  CameraSideState cam;
  std::vector<CanFrame> tick = frames_of(camera_tick_records(&cam));
  uint64_t frames = 0, messages0 = g_messages.load();
  int64_t start = now_ns(), end = start + static_cast<int64_t>(seconds * 1e9);
  while (now_ns() < end) {
    for (int k = 0; k < 100; k++)
      for (const CanFrame& f : tick) can_reader_frame(f.can_id, f.data, f.len);
    frames += 100 * tick.size();
  }
  double s = (now_ns() - start) / 1e9;
  double ticks = static_cast<double>(frames) / tick.size();
  printf(
      "throughput: %.0f frames/s, %.0f packets/s (%zu frames and 8 packets a tick), %.0f "
      "viewer messages/s\n",
      frames / s, ticks * 8 / s, tick.size(), (g_messages.load() - messages0) / s);
  return frames / s;
}

void throughput_with_capture(double seconds, double without, const std::string& dir) {
  std::string file = dir + "/bench.pcap";
  can_capture_set(file.c_str(), 4ull << 20, 1);
  if (!can_capture_open()) return;
  thread_start("pqw-capture", can_capture_loop);
  uint64_t dropped0 = health_get(HEALTH_CAPTURE_DROPPED);
  printf("with --capture, ");
  double with = throughput(seconds);
  can_capture_close();
  printf("  capture hook: ratio %.2f against no capture, %llu frames dropped at the ring\n",
         with / without,
         static_cast<unsigned long long>(health_get(HEALTH_CAPTURE_DROPPED) - dropped0));
  for (const char* suffix : {"", ".1"}) unlink((file + suffix).c_str());
}

void latency_in_process(double seconds) {
  CameraSideState cam;
  std::vector<double> us;
  int64_t end = now_ns() + static_cast<int64_t>(seconds * 1e9);
  while (now_ns() < end) {
    std::vector<CanFrame> f = frames_of({camera_telemetry(&cam)});
    for (size_t i = 0; i + 1 < f.size(); i++) can_reader_frame(f[i].can_id, f[i].data, f[i].len);
    int64_t t0 = now_ns();
    can_reader_frame(f.back().can_id, f.back().data, f.back().len);
    us.push_back((g_telemetry_at.load(std::memory_order_acquire) - t0) / 1e3);
  }
  report("latency in process (last frame -> viewer message)", us);
}

void latency_over_udp(double seconds) {
  int camera = net_udp_open();
  uint16_t local = net_free_port(SOCK_DGRAM);
  std::string bus =
      "udp:" + std::to_string(local) + ":127.0.0.1:" + std::to_string(net_bound_port(camera));
  can_set_spec(bus.c_str());
  thread_start("pqw-can-rx", can_reader);
  auto send_frame = [&](const CanFrame& f) {
    uint8_t wire[kCanWireSize];
    can_frame_encode(f, wire);
    net_udp_send(camera, local, wire, sizeof wire);
  };
  CameraSideState cam;
  std::vector<double> us;
  int64_t end = now_ns() + static_cast<int64_t>(seconds * 1e9);
  int lost = 0;
  while (now_ns() < end) {
    std::vector<CanFrame> f = frames_of({camera_telemetry(&cam)});
    for (size_t i = 0; i + 1 < f.size(); i++) send_frame(f[i]);
    int64_t before = g_telemetry_at.load();
    int64_t t0 = now_ns();
    send_frame(f.back());
    int64_t t1 = 0;
    while ((t1 = g_telemetry_at.load(std::memory_order_acquire)) == before) {
      if (now_ns() - t0 > 100000000) break;  // 100 ms: lost (first packets, before the open)
      std::this_thread::yield();
    }
    if (t1 == before) {
      lost++;
      continue;
    }
    us.push_back((t1 - t0) / 1e3);
    std::this_thread::sleep_for(std::chrono::microseconds(200));
  }
  report("latency over the simulated bus (last frame sent -> viewer message)", us);
  if (lost) printf("  (%d packets sent before the reader had its socket)\n", lost);
}

}  // namespace

int main(int argc, char** argv) {
  double seconds = argc > 1 ? atof(argv[1]) : 2.0;
  if (seconds <= 0) seconds = 2.0;
  app_install_hooks();
  hud_set_block(g_hud);
  link_set_writer(no_write);
  viewer_set_tap(tap);
  gpio_set_log("/dev/null");
  char dir[] = "/tmp/pqw-bench-can-XXXXXX";
  if (mkdtemp(dir)) shell_set_sandbox(dir);
  link_state().wanted_orientation_lock.store(1);
  double without = throughput(seconds);
  throughput_with_capture(seconds, without, dir);
  latency_in_process(seconds);
  latency_over_udp(seconds);
  std::string log = std::string(dir) + "/commands.log";
  unlink(log.c_str());
  rmdir(dir);
  return 0;
}
