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
