#include "link/djigo_bridge.h"

#include <arpa/inet.h>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <cstdio>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

#include "link/can_frame.h"
#include "link/can_transport.h"
#include "platform/app_exit.h"
#include "platform/clock.h"
#include "platform/ports.h"
#include "platform/log.h"
#include "viewer/viewer_allow.h"

namespace {
// A full 8-byte frame takes about 130 bit times on a 1 Mbit/s bus; the
// bridge may use every second one.
constexpr uint32_t kBridgeFrameUs = 2 * 130;
}  // namespace

bool djigo_client_keepalive(int fd) {
  int on = 1, idle = kDjigoKeepIdleS, interval = kDjigoKeepIntervalS, count = kDjigoKeepCount;
  unsigned user_timeout = kDjigoUserTimeoutMs;
  return setsockopt(fd, SOL_SOCKET, SO_KEEPALIVE, &on, sizeof on) == 0 &&
         setsockopt(fd, IPPROTO_TCP, TCP_KEEPIDLE, &idle, sizeof idle) == 0 &&
         setsockopt(fd, IPPROTO_TCP, TCP_KEEPINTVL, &interval, sizeof interval) == 0 &&
         setsockopt(fd, IPPROTO_TCP, TCP_KEEPCNT, &count, sizeof count) == 0 &&
         setsockopt(fd, IPPROTO_TCP, TCP_USER_TIMEOUT, &user_timeout, sizeof user_timeout) == 0;
}

void djigo_on_received(const uint8_t* bytes, size_t length) {
  // A busy writer refuses the chunk ("busy"); the app is not told.
  can_write_packet(bytes, length);
  // The app gets the bus at the pace the bus carries it, less half: a
  // client that writes without pause (and never reads) would otherwise
  // flood the camera's side and keep the link's own packets off the
  // bus. TCP then holds the app back.
  sleep_us(static_cast<uint32_t>(can_frame_count(length) * kBridgeFrameUs));
}

void* djigo_listener(void*) {
  int listener = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (listener < 0) {
    log_out(LogLevel::kError, "could not create listen socket\n");
    app_exit(1);
    return nullptr;
  }
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_port = htons(net_ports().djigo);
  addr.sin_addr.s_addr = htonl(INADDR_ANY);
  if (bind(listener, reinterpret_cast<sockaddr*>(&addr), sizeof addr) < 0) {
    int err = errno;
    log_out(LogLevel::kError, "could not bind socket\n");
    log_out(LogLevel::kError, "DJI Go port: TCP %d: %s (move it with --djigo-port)\n",
            static_cast<int>(net_ports().djigo), strerror(err));
    close(listener);
    app_exit(1);
    return nullptr;
  }
  if (listen(listener, 16) < 0) {
    log_out(LogLevel::kError, "could not open socket for listening\n");
    close(listener);
    app_exit(1);
    return nullptr;
  }
  for (;;) {
    sockaddr_in peer{};
    socklen_t peer_len = sizeof peer;
    int client = accept4(listener, reinterpret_cast<sockaddr*>(&peer), &peer_len, SOCK_CLOEXEC);
    // A client that gave up before we accepted it does not end the bridge.
    if (client < 0 && (errno == EINTR || errno == ECONNABORTED)) continue;
    if (client < 0) {
      log_out(LogLevel::kError, "could not open a socket to accept data\n");
      fflush(stdout);
      close(listener);
      return nullptr;
    }
    if (!viewer_allow_admits(peer.sin_addr, "DJI Go connection")) {
      close(client);
      continue;
    }
    char text[INET_ADDRSTRLEN] = "";
    inet_ntop(AF_INET, &peer.sin_addr, text, sizeof text);
    if (!djigo_client_keepalive(client))
      log_warning(
          "DJI Go client %s: keep-alive not set (%s); a client that vanishes holds the "
          "bridge until it comes back\n",
          text, strerror(errno));
    log_out(LogLevel::kInfo, "DJI Go client connected with ip address: %s\n", text);
    fflush(stdout);
    can_djigo_attach(client);
    uint8_t buffer[1300];
    for (;;) {
      ssize_t n = recv(client, buffer, sizeof buffer, 0);
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) break;
      djigo_on_received(buffer, static_cast<size_t>(n));
    }
    can_djigo_detach();
  }
}
