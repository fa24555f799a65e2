// The simulator's end of the bus: the daemon's simulated bus (one 16-byte
// frame per UDP datagram) or a SocketCAN interface, with the same frames.
//
//   udp:LOCALPORT:HOST:PORT  bound to 127.0.0.1:LOCALPORT, frames to HOST:PORT
//   can:IFACE                a raw socket on IFACE, receiving id 0x412 only
//
// A SocketCAN interface can go down or vanish under the simulator (the
// daemon's bring-up takes its own end down on every reopen, a module may be
// unloaded): a read error marks the bus broken and camsim_bus_check reopens
// it, by name, once the interface exists again, whatever its new index.
#pragma once

#include <net/if.h>
#include <netinet/in.h>

#include <cstdint>
#include <string>

#include "link/can_frame.h"

enum class CamsimBusKind { kUdp, kCan };

struct CamsimBus {
  CamsimBusKind kind = CamsimBusKind::kUdp;
  int fd = -1;
  uint16_t udp_local = 0;
  sockaddr_in udp_peer{};
  char iface[IFNAMSIZ] = {};
  int ifindex = 0;      // CAN: index the socket is bound to
  bool broken = false;  // CAN: reopen due
  uint64_t send_errors = 0;
  uint64_t reopens = 0;
};

// False when the text is neither form above.
bool camsim_bus_parse(const std::string& text, CamsimBus* bus);
// Opens (or reopens) the socket; false with *error set when it cannot.
bool camsim_bus_open(CamsimBus* bus, std::string* error);
void camsim_bus_close(CamsimBus* bus);
// Non-blocking; false (and send_errors counted) when the frame did not go out.
bool camsim_bus_send(CamsimBus* bus, const CanFrame& f);
// 1: a frame with id 0x412; 0: nothing (more) to read now.
int camsim_bus_recv(CamsimBus* bus, CanFrame* f);
// CAN: reopens a broken bus when its interface exists again. True when open.
bool camsim_bus_check(CamsimBus* bus);
// "udp:..." or "can:IFACE" as given.
std::string camsim_bus_text(const CamsimBus& bus);
