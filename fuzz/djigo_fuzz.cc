// fuzz_djigo: the DJI Go bridge both ways. What the phone app sends goes
// through the bridge's receive body (djigo_on_received) onto a simulated bus
// on 127.0.0.1, where the frames are read back: they must carry id 0x412
// and exactly the bytes sent, cut into 8-byte frames, in order. CAN frames
// from the camera go through the reader's per-frame steps, and whatever the
// bridge hands the app (over a local socket pair) must be one frame's bytes.
//
// Input: records [kind][length][bytes]: kind bit 0 clear: the app sends
// length * 6 + (kind >> 1) % 6 bytes (cut at the bridge's 1300-byte
// receive); set: one frame with id 0x413 (kind bit 1: another id) and
// length % 16 data bytes (over 8 must be refused).
#include <fcntl.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "core/hud_block.h"
#include "fuzz/fuzz_harness.h"
#include "link/can_frame.h"
#include "link/can_transport.h"
#include "link/djigo_bridge.h"
#include "platform/ports.h"

namespace {

constexpr size_t kBridgeReceive = 1300;  // the bridge's receive buffer
uint8_t g_hud[kHudSize];
int g_bus = -1;  // the other end of the simulated bus
int g_app[2];    // [0]: the bridge's client socket, [1]: the app

void no_packet(const uint8_t*, size_t) {}

// Every frame the bridge wrote since the last call, in order (taken many
// per call: a 1300-byte write is 163 frames).
std::vector<CanFrame> bus_frames() {
  std::vector<CanFrame> out;
  constexpr int kBatch = 64;
  static uint8_t wire[kBatch][32];
  static iovec iov[kBatch];
  static mmsghdr msgs[kBatch];
  for (;;) {
    for (int i = 0; i < kBatch; i++) {
      iov[i] = {wire[i], sizeof wire[i]};
      msgs[i] = {};
      msgs[i].msg_hdr.msg_iov = &iov[i];
      msgs[i].msg_hdr.msg_iovlen = 1;
    }
    int n = recvmmsg(g_bus, msgs, kBatch, MSG_DONTWAIT, nullptr);
    if (n <= 0) break;
    for (int i = 0; i < n; i++) {
      CanFrame f;
      if (!can_frame_decode(wire[i], msgs[i].msg_len, &f)) abort();
      out.push_back(f);
    }
    if (n < kBatch) break;
  }
  return out;
}

std::string app_received() {
  std::string out;
  char buf[256];
  for (;;) {
    ssize_t n = recv(g_app[1], buf, sizeof buf, MSG_DONTWAIT);
    if (n <= 0) break;
    out.append(buf, static_cast<size_t>(n));
  }
  return out;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  fuzz_sandbox_start("fuzz-djigo");
  hud_set_block(g_hud);
  can_set_packet_handler(no_packet);
  UdpOptions options;
  options.nonblocking = true;
  options.receive_buffer = 1 << 20;
  g_bus = net_udp_open(0, options);
  if (g_bus < 0) abort();
  // The bridge's end needs a port of its own: one the kernel just had free.
  int probe = net_udp_open(0);
  uint16_t local = net_bound_port(probe);
  close(probe);
  std::string bus =
      "udp:" + std::to_string(local) + ":127.0.0.1:" + std::to_string(net_bound_port(g_bus));
  can_set_spec(bus.c_str());
  can_open();
  if (socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, g_app) != 0) abort();
  fcntl(g_app[1], F_SETFL, O_NONBLOCK);
  can_djigo_attach(g_app[0]);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  can_reader_reset();
  size_t at = 0;
  while (at + 2 <= size) {
    uint8_t kind = data[at], length = data[at + 1];
    at += 2;
    if (!(kind & 1)) {
      size_t n = length * 6u + (kind >> 1) % 6u;
      if (n > size - at) n = size - at;
      if (n > kBridgeReceive) n = kBridgeReceive;
      djigo_on_received(data + at, n);
      std::vector<CanFrame> frames = bus_frames();
      if (frames.size() != can_frame_count(n)) abort();
      std::string got;
      for (const CanFrame& f : frames) {
        if (f.can_id != kCanIdDaemon || f.len == 0 || f.len > 8) abort();
        got.append(reinterpret_cast<const char*>(f.data), f.len);
      }
      if (got != std::string(reinterpret_cast<const char*>(data + at), n)) abort();
      at += n;
    } else {
      uint8_t n = length % 16;
      uint8_t frame[16] = {};
      size_t have = size - at < n ? size - at : n;
      memcpy(frame, data + at, have);
      at += have;
      uint32_t id = (kind & 2) ? kCanIdDaemon + (kind >> 2) : kCanIdCamera;
      can_reader_frame(id, frame, n);
      std::string got = app_received();
      // Nothing, or exactly this frame's bytes, and never a refused frame.
      if (!got.empty() &&
          (id != kCanIdCamera || n > 8 || got != std::string(reinterpret_cast<char*>(frame), n)))
        abort();
    }
  }
  return 0;
}
