// The fixed ports of the daemon. On the Pi they are always the defaults;
// tests move them (--viewer-port and friends) so that end-to-end runs can go
// side by side on one machine.
#pragma once

#include <netinet/in.h>

#include <cstddef>
#include <cstdint>
#include <string>

struct NetPorts {
  uint16_t viewer = 4242;  // discovery, registration, everything to viewers
  uint16_t video = 5000;   // video datagrams in
  uint16_t djigo = 6789;   // DJI Go bridge
};

NetPorts& net_ports();

// A port on 127.0.0.1 that the kernel has free right now for the socket type
// (SOCK_DGRAM, SOCK_STREAM); 0 when none. --sim and the tests pick their
// ports with it so that several runs can go side by side.
uint16_t net_free_port(int type);

// "LOCAL:HOST:PEER" (what follows "udp:" in a bus text, e.g.
// "5000:127.0.0.1:5001"): the local port and the peer's IPv4 address and
// port. Ports are 1-65535 in at most five digits; false on anything else.
bool net_parse_udp_pair(const std::string& text, uint16_t* local, sockaddr_in* peer);

// How a UDP socket of net_udp_open is set up beyond close-on-exec.
struct UdpOptions {
  bool any_address = false;  // bound to every address (INADDR_ANY), not 127.0.0.1 only
  bool nonblocking = false;
  int receive_timeout_ms = 0;  // SO_RCVTIMEO (0: none)
  int receive_buffer = 0;      // bytes asked for (0: the kernel's default)
};

// A UDP socket bound to port on 127.0.0.1 (0: the kernel picks one). On
// failure errno is set and the result is -1 when no socket could be made,
// -2 when it could not be bound (the port is taken, most often).
int net_udp_open(uint16_t port = 0, const UdpOptions& options = {});
// The local port a socket is bound to (0 when none).
uint16_t net_bound_port(int fd);
sockaddr_in net_loopback(uint16_t port);
// One datagram to 127.0.0.1:port, from fd or, with fd -1, from a socket of
// its own closed after it; true when it went out whole.
bool net_udp_send(int fd, uint16_t port, const void* data, size_t length);
