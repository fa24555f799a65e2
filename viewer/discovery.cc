#include "viewer/discovery.h"

#include <arpa/inet.h>
#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include "platform/app_exit.h"
#include "platform/clock.h"
#include "platform/ports.h"
#include "viewer/client_table.h"
#include "viewer/command_worker.h"
#include "viewer/socket_buffers.h"
#include "viewer/viewer_allow.h"
#include "viewer/viewer_send.h"
#include "platform/health.h"
#include "platform/log.h"

namespace {

constexpr int kDiscoveryBufferBytes = 2000000;
constexpr long kSendTimeoutUs = 50000;
constexpr uint8_t kViewerMagic = 'B';
// The port every device answers viewers from unless moved; another device
// sends from it (or from its own --viewer-port), a viewer app never needs to.
constexpr uint16_t kDeviceViewerPort = 4242;
// Header byte 1 of the device's video frames; viewers send data framing only.
constexpr uint8_t kVideoChannel = 1;
constexpr int32_t kRefusalLogMs = 10000;

std::atomic<int> g_socket{-1};

ViewerControlHooks g_installed_hooks = {nullptr, nullptr, command_worker_start};
std::atomic<const ViewerControlHooks*> g_hooks{&g_installed_hooks};
ViewerControlHooks g_test_hooks;

int16_t read_i16(const uint8_t* p) {
  return static_cast<int16_t>(static_cast<uint16_t>(p[0] | (p[1] << 8)));
}

float stick_value(const uint8_t* p) { return static_cast<float>(read_i16(p) / 32767.0); }

// A refused registration is said at most once per kRefusalLogMs: a host
// re-registering many ports every second must not flood the log.
void say_address_full(const char* address, uint16_t port) {
  static std::atomic<uint32_t> last{0};
  static std::atomic<bool> said{false};
  uint32_t now = time_ms();
  if (said.load() && time_age(now, last.load()) < kRefusalLogMs) return;
  said.store(true);
  last.store(now);
  log_warning(
      "client %s:%d refused: %s already holds %d viewer slots "
      "(--viewer-max-per-address; said at most every 10 s)\n",
      address, static_cast<int>(port), address, client_max_per_address());
}

void discovery_fail() {
  int err = errno;
  log_error("discovery bind failed\n");
  // The port and the option that moves it, for whoever reads the journal.
  log_error("viewer port: UDP %d: %s%s\n", static_cast<int>(net_ports().viewer), strerror(err),
            err == EADDRINUSE
                ? " (another program has it: stop that or move ours with --viewer-port)"
                : "");
  app_exit(100);
}

}  // namespace

int discovery_socket() { return g_socket.load(std::memory_order_relaxed); }
void discovery_set_socket(int fd) { g_socket.store(fd); }

void viewer_set_control_hooks(const ViewerControlHooks* hooks) {
  if (hooks) {
    g_test_hooks = *hooks;
    g_hooks.store(&g_test_hooks);
  } else {
    g_hooks.store(&g_installed_hooks);
  }
}

void viewer_install_control_hooks(const ViewerControlHooks& hooks) {
  g_installed_hooks = hooks;
  g_hooks.store(&g_installed_hooks);
}

void video_bridge_init() {
  log_info("Init video bridge\n");
  client_table_clear();
}

bool discovery_init() {
  log_info("Init device discovery\n");
  // Every address: viewers are on the network. The receive loop wakes at
  // least this often, so the watchdog sees it turn on a quiet network.
  UdpOptions options;
  options.any_address = true;
  options.receive_timeout_ms = 500;
  int fd = net_udp_open(net_ports().viewer, options);
  if (fd < 0) {
    discovery_fail();
    return false;
  }
  viewer_socket_buffers_report(fd, kDiscoveryBufferBytes, "discovery");
  timeval timeout{0, kSendTimeoutUs};
  setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &timeout, sizeof timeout);
  g_socket.store(fd);
  return true;
}

void* discovery_receive_loop(void*) {
  static uint8_t buffer[kViewerDatagramMax];
  for (;;) {
    health_loop_turn(HEALTH_LOOP_VIEWER_RECEIVE);
    memset(buffer, 0, sizeof buffer);
    sockaddr_in from{};
    socklen_t from_len = sizeof from;
    ssize_t n = recvfrom(discovery_socket(), buffer, sizeof buffer, 0,
                         reinterpret_cast<sockaddr*>(&from), &from_len);
    // Only a failing socket earns the pause. An empty datagram is ignored
    // at once: pausing for it would let anyone on the network hold up
    // registrations (and so drop every viewer) with a trickle of them.
    if (n < 0) {
      if (errno != EINTR && errno != EAGAIN) sleep_us(500000);
      continue;
    }
    if (n == 0) continue;
    if (from_len < sizeof from || from.sin_family != AF_INET) continue;
    discovery_handle_datagram(buffer, static_cast<size_t>(n), from);
  }
  return nullptr;
}

bool discovery_from_device(const uint8_t* bytes, size_t length, const sockaddr_in& from) {
  uint16_t port = ntohs(from.sin_port);
  if (port == kDeviceViewerPort || port == net_ports().viewer) return true;
  return length > 1 && bytes[1] == kVideoChannel;
}

void discovery_handle_datagram(const uint8_t* bytes, size_t length, const sockaddr_in& from) {
  if (length > kViewerDatagramMax) length = kViewerDatagramMax;
  if (length < kViewerHeaderSize || bytes[0] != kViewerMagic) return;
  if (discovery_from_device(bytes, length, from)) return;
  if (!viewer_allow_admits(from.sin_addr, "viewer datagram")) return;
  char address[INET_ADDRSTRLEN] = {};
  if (!inet_ntop(AF_INET, &from.sin_addr, address, sizeof address)) return;
  viewer_handle_message(bytes + kViewerHeaderSize, length - kViewerHeaderSize, address,
                        ntohs(from.sin_port));
}

void viewer_handle_message(const uint8_t* msg, size_t length, const char* address, uint16_t port) {
  if (!address || (!msg && length > 0)) return;
  // A device never registers or commands another: its own datagrams parse
  // as valid messages, so two rigs told of each other would loop.
  if (port == kDeviceViewerPort || port == net_ports().viewer) return;
  // Short messages read zeros past their end, and a JSON text is always
  // NUL-terminated: work on a zero-filled copy of at most 1488 bytes.
  uint8_t m[kViewerDatagramMax] = {};
  if (length > kViewerDatagramMax - kViewerHeaderSize)
    length = kViewerDatagramMax - kViewerHeaderSize;
  if (length > 0) memcpy(m, msg, length);

  const ViewerControlHooks* hooks = g_hooks.load();
  switch (m[0]) {
    case 0: {
      uint8_t data_only = m[1] == 1 ? 1 : 0;
      int registered = client_register(address, port, data_only);
      if (registered == kClientRefusedAddressFull) say_address_full(address, port);
      if (registered == 1) {
        log_info("client connected from %s:%d %s\n", address, static_cast<int>(port),
                 data_only ? "(only data)" : " ");
        const uint8_t reply = kViewerMagic;
        viewer_send_one(&reply, 1, address, port);
        client_answered(address, port);
      }
      break;
    }
    case 1:
      if (client_remove(address, port) == 1)
        log_info("client %s:%d removed\n", address, static_cast<int>(port));
      break;
    case 5:
      if (hooks->motion) hooks->motion(m[1], read_i16(m + 2), read_i16(m + 4));
      break;
    case 6:
      if (hooks->attitude)
        hooks->attitude(stick_value(m + 3), stick_value(m + 5), stick_value(m + 7),
                        stick_value(m + 9));
      break;
    case '{': {
      char origin[48];
      snprintf(origin, sizeof origin, "viewer %s:%d", address, static_cast<int>(port));
      command_origin_set(origin);
      command_sender_set(address);
      if (hooks->command) hooks->command(reinterpret_cast<const char*>(m), length);
      break;
    }
    default:
      break;
  }
}
