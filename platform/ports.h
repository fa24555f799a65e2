// The fixed ports of the daemon. On the Pi they are always the defaults;
// tests move them (--viewer-port and friends) so that end-to-end runs can go
// side by side on one machine.
#pragma once

#include <cstdint>

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
