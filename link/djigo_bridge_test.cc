// The DJI Go bridge's keep-alive: an accepted client carries the timers that
// free the single slot about 30 s after the phone vanished.
#include "link/djigo_bridge.h"

#include <gtest/gtest.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

int option(int fd, int level, int name) {
  int value = -1;
  socklen_t size = sizeof value;
  EXPECT_EQ(getsockopt(fd, level, name, &value, &size), 0);
  return value;
}

TEST(DjigoBridge, AcceptedClientsCarryTheKeepAliveTimers) {
  int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  ASSERT_GE(fd, 0);
  EXPECT_EQ(option(fd, SOL_SOCKET, SO_KEEPALIVE), 0);  // off unless asked for
  ASSERT_TRUE(djigo_client_keepalive(fd));
  struct Row {
    int level, name, want;
  } rows[] = {{SOL_SOCKET, SO_KEEPALIVE, 1},
              {IPPROTO_TCP, TCP_KEEPIDLE, kDjigoKeepIdleS},
              {IPPROTO_TCP, TCP_KEEPINTVL, kDjigoKeepIntervalS},
              {IPPROTO_TCP, TCP_KEEPCNT, kDjigoKeepCount},
              {IPPROTO_TCP, TCP_USER_TIMEOUT, static_cast<int>(kDjigoUserTimeoutMs)}};
  for (const Row& r : rows) EXPECT_EQ(option(fd, r.level, r.name), r.want) << r.name;
  // A silent phone is given up within about 30 s, both ways.
  EXPECT_LE(kDjigoKeepIdleS + kDjigoKeepIntervalS * kDjigoKeepCount, 30);
  EXPECT_LE(kDjigoUserTimeoutMs, 30000u);
  close(fd);
  EXPECT_FALSE(djigo_client_keepalive(-1));
}

}  // namespace
