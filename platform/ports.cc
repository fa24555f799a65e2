#include "platform/ports.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>

NetPorts& net_ports() {
  static NetPorts ports;
  return ports;
}

uint16_t net_free_port(int type) {
  int fd = socket(AF_INET, type | SOCK_CLOEXEC, 0);
  if (fd < 0) return 0;
  sockaddr_in a = net_loopback(0);
  uint16_t port = bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0 ? net_bound_port(fd) : 0;
  close(fd);
  return port;
}

int net_udp_open(uint16_t port, const UdpOptions& o) {
  int fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC | (o.nonblocking ? SOCK_NONBLOCK : 0), 0);
  if (fd < 0) return -1;
  if (o.receive_buffer > 0) {
    // The plain request is capped at net.core.rmem_max; the forced one is
    // not, where we may.
    int bytes = o.receive_buffer;
    if (setsockopt(fd, SOL_SOCKET, SO_RCVBUFFORCE, &bytes, sizeof bytes) != 0)
      setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &bytes, sizeof bytes);
  }
  if (o.receive_timeout_ms > 0) {
    timeval t{o.receive_timeout_ms / 1000, (o.receive_timeout_ms % 1000) * 1000};
    setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &t, sizeof t);
  }
  sockaddr_in a = net_loopback(port);
  if (o.any_address) a.sin_addr.s_addr = htonl(INADDR_ANY);
  if (bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) {
    int err = errno;
    close(fd);
    errno = err;
    return -2;
  }
  return fd;
}

uint16_t net_bound_port(int fd) {
  sockaddr_in a{};
  socklen_t len = sizeof a;
  if (getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len) != 0) return 0;
  return ntohs(a.sin_port);
}

sockaddr_in net_loopback(uint16_t port) {
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  a.sin_port = htons(port);
  return a;
}

bool net_udp_send(int fd, uint16_t port, const void* data, size_t length) {
  int own = fd < 0 ? socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0) : -1;
  sockaddr_in to = net_loopback(port);
  ssize_t n =
      sendto(fd < 0 ? own : fd, data, length, 0, reinterpret_cast<sockaddr*>(&to), sizeof to);
  if (own >= 0) close(own);
  return n == static_cast<ssize_t>(length);
}

namespace {

bool parse_port(const std::string& text, uint16_t* port) {
  if (text.empty() || text.size() > 5) return false;
  for (char c : text)
    if (c < '0' || c > '9') return false;
  long v = strtol(text.c_str(), nullptr, 10);
  if (v < 1 || v > 65535) return false;
  *port = static_cast<uint16_t>(v);
  return true;
}

}  // namespace

bool net_parse_udp_pair(const std::string& text, uint16_t* local, sockaddr_in* peer) {
  size_t a = text.find(':');
  size_t b = text.rfind(':');
  uint16_t l = 0, p = 0;
  in_addr host{};
  if (a == std::string::npos || a == b || !parse_port(text.substr(0, a), &l) ||
      !parse_port(text.substr(b + 1), &p) ||
      inet_pton(AF_INET, text.substr(a + 1, b - a - 1).c_str(), &host) != 1)
    return false;
  *local = l;
  *peer = sockaddr_in{};
  peer->sin_family = AF_INET;
  peer->sin_port = htons(p);
  peer->sin_addr = host;
  return true;
}
