// Helpers shared by the viewer unit tests: loopback sockets that play the
// viewers and the discovery socket.
#pragma once

#include <cstdint>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>
#include <vector>

#include "platform/ports.h"

namespace viewer_test {

// A UDP socket on 127.0.0.1 with a kernel-chosen port.
struct LoopSocket {
  int fd = -1;
  uint16_t port = 0;

  LoopSocket() {
    UdpOptions big;
    big.receive_buffer = 1 << 20;
    fd = net_udp_open(0, big);
    port = net_bound_port(fd);
  }
  ~LoopSocket() {
    if (fd >= 0) close(fd);
  }
  LoopSocket(const LoopSocket&) = delete;
  LoopSocket& operator=(const LoopSocket&) = delete;

  // One datagram, or an empty vector when none arrives within timeout_ms.
  std::vector<uint8_t> receive(int timeout_ms = 500) {
    pollfd p{fd, POLLIN, 0};
    if (poll(&p, 1, timeout_ms) != 1) return {};
    std::vector<uint8_t> buf(70000);
    ssize_t n = recv(fd, buf.data(), buf.size(), 0);
    buf.resize(n > 0 ? static_cast<size_t>(n) : 0);
    return buf;
  }
  // True when nothing is waiting within timeout_ms.
  bool quiet(int timeout_ms = 50) {
    pollfd p{fd, POLLIN, 0};
    return poll(&p, 1, timeout_ms) == 0;
  }
};

inline uint32_t frame_sequence(const std::vector<uint8_t>& f) {
  return f.size() < 8
             ? 0
             : uint32_t(f[4]) | uint32_t(f[5]) << 8 | uint32_t(f[6]) << 16 | uint32_t(f[7]) << 24;
}

}  // namespace viewer_test
