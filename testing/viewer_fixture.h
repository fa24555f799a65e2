// Helpers shared by the viewer unit tests: loopback sockets that play the
// viewers and the discovery socket, and a fake millisecond clock.
#pragma once

#include <arpa/inet.h>
#include <atomic>
#include <cstdint>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>
#include <vector>

#include "platform/clock.h"

namespace viewer_test {

inline std::atomic<uint32_t> g_now{1000};
inline uint32_t fake_now() { return g_now.load(); }
inline void use_fake_clock(uint32_t start) {
  g_now.store(start);
  time_set_source(fake_now);
}

// A UDP socket on 127.0.0.1 with a kernel-chosen port.
struct LoopSocket {
  int fd = -1;
  uint16_t port = 0;

  LoopSocket() {
    fd = socket(AF_INET, SOCK_DGRAM, 0);
    int big = 1 << 20;
    setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &big, sizeof big);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a);
    socklen_t len = sizeof a;
    getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len);
    port = ntohs(a.sin_port);
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
