#include "tools/camsim_bus.h"

#include <arpa/inet.h>
#include <linux/can.h>
#include <linux/can/raw.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "platform/ports.h"

namespace {

bool open_udp(CamsimBus* bus, std::string* error) {
  UdpOptions nonblocking;
  nonblocking.nonblocking = true;
  int fd = net_udp_open(bus->udp_local, nonblocking);
  if (fd == -1) *error = std::string("socket: ") + strerror(errno);
  if (fd == -2)
    *error = "cannot bind 127.0.0.1:" + std::to_string(bus->udp_local) + ": " + strerror(errno);
  if (fd < 0) return false;
  bus->fd = fd;
  return true;
}

bool open_can(CamsimBus* bus, std::string* error) {
  // By name on every open: an interface made again gets a new index.
  unsigned index = if_nametoindex(bus->iface);
  if (index == 0) {
    *error = std::string("no interface ") + bus->iface;
    return false;
  }
  int fd = socket(PF_CAN, SOCK_RAW | SOCK_CLOEXEC | SOCK_NONBLOCK, CAN_RAW);
  if (fd < 0) {
    *error = std::string("CAN socket: ") + strerror(errno);
    return false;
  }
  can_filter filter{};
  filter.can_id = kCanIdDaemon;
  filter.can_mask = CAN_SFF_MASK;
  setsockopt(fd, SOL_CAN_RAW, CAN_RAW_FILTER, &filter, sizeof filter);
  sockaddr_can addr{};
  addr.can_family = AF_CAN;
  addr.can_ifindex = static_cast<int>(index);
  if (bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
    *error = std::string("cannot bind ") + bus->iface + ": " + strerror(errno);
    close(fd);
    return false;
  }
  bus->fd = fd;
  bus->ifindex = static_cast<int>(index);
  return true;
}

}  // namespace

bool camsim_bus_parse(const std::string& text, CamsimBus* bus) {
  if (text.rfind("can:", 0) == 0) {
    std::string name = text.substr(4);
    if (name.empty() || name.size() >= IFNAMSIZ || name.find('/') != std::string::npos)
      return false;
    bus->kind = CamsimBusKind::kCan;
    memset(bus->iface, 0, sizeof bus->iface);
    memcpy(bus->iface, name.data(), name.size());
    return true;
  }
  if (text.rfind("udp:", 0) != 0) return false;
  uint16_t local = 0;
  sockaddr_in peer{};
  if (!net_parse_udp_pair(text.substr(4), &local, &peer)) return false;
  bus->kind = CamsimBusKind::kUdp;
  bus->udp_local = local;
  bus->udp_peer = peer;
  return true;
}

bool camsim_bus_open(CamsimBus* bus, std::string* error) {
  camsim_bus_close(bus);
  bool ok = bus->kind == CamsimBusKind::kCan ? open_can(bus, error) : open_udp(bus, error);
  bus->broken = !ok;
  return ok;
}

void camsim_bus_close(CamsimBus* bus) {
  if (bus->fd >= 0) close(bus->fd);
  bus->fd = -1;
}

bool camsim_bus_send(CamsimBus* bus, const CanFrame& f) {
  bool ok = false;
  if (bus->fd >= 0 && bus->kind == CamsimBusKind::kCan) {
    can_frame cf{};
    cf.can_id = f.can_id;
    cf.len = f.len > 8 ? 8 : f.len;
    memcpy(cf.data, f.data, cf.len);
    ok = write(bus->fd, &cf, sizeof cf) == static_cast<ssize_t>(sizeof cf);
  } else if (bus->fd >= 0) {
    uint8_t wire[kCanWireSize];
    can_frame_encode(f, wire);
    ok = sendto(bus->fd, wire, sizeof wire, 0, reinterpret_cast<sockaddr*>(&bus->udp_peer),
                sizeof bus->udp_peer) == static_cast<ssize_t>(sizeof wire);
  }
  if (!ok) bus->send_errors++;
  return ok;
}

int camsim_bus_recv(CamsimBus* bus, CanFrame* f) {
  while (bus->fd >= 0) {
    if (bus->kind == CamsimBusKind::kCan) {
      can_frame cf{};
      ssize_t n = read(bus->fd, &cf, sizeof cf);
      if (n < 0) {
        // ENETDOWN and ENODEV are reported once; an unregistered interface
        // leaves the socket unbound and deaf, so reopen either way.
        if (errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR) bus->broken = true;
        return 0;
      }
      if (n != static_cast<ssize_t>(sizeof cf) || (cf.can_id & (CAN_EFF_FLAG | CAN_RTR_FLAG)) ||
          cf.len > 8 || cf.can_id != kCanIdDaemon)
        continue;
      f->can_id = cf.can_id;
      f->len = cf.len;
      memset(f->data, 0, sizeof f->data);
      memcpy(f->data, cf.data, cf.len);
      return 1;
    }
    uint8_t wire[64];
    ssize_t n = recv(bus->fd, wire, sizeof wire, MSG_TRUNC);
    if (n < 0) return 0;
    if (can_frame_decode(wire, static_cast<size_t>(n), f) && f->can_id == kCanIdDaemon) return 1;
  }
  return 0;
}

bool camsim_bus_check(CamsimBus* bus) {
  if (bus->kind != CamsimBusKind::kCan) return bus->fd >= 0;
  if (!bus->broken) {
    // A socket whose interface was deleted is unbound and silent once its
    // one error has been read; the name may meanwhile have a new index.
    if (if_nametoindex(bus->iface) == static_cast<unsigned>(bus->ifindex)) return true;
    bus->broken = true;
  }
  std::string error;
  if (!camsim_bus_open(bus, &error)) return false;
  bus->reopens++;
  return true;
}

std::string camsim_bus_text(const CamsimBus& bus) {
  if (bus.kind == CamsimBusKind::kCan) return std::string("can:") + bus.iface;
  char host[INET_ADDRSTRLEN] = {};
  inet_ntop(AF_INET, &bus.udp_peer.sin_addr, host, sizeof host);
  return "udp:" + std::to_string(bus.udp_local) + ":" + host + ":" +
         std::to_string(ntohs(bus.udp_peer.sin_port));
}
