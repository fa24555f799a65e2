// Opening the bus and the DJI Go listener: the failures that end the process.
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <net/if.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <thread>
#include <vector>

#include "link/can_transport.h"
#include "link/djigo_bridge.h"
#include "testing/link_capture.h"
#include "testing/sandbox.h"
#include "platform/app_exit.h"
#include "platform/clock.h"
#include "platform/ports.h"
#include "platform/shell.h"

namespace {

int g_status = -1;
void hook(int status) { g_status = status; }

// A socket bound to a free loopback port, kept open; its port.
int occupy(int type, uint16_t* port) {
  int fd = socket(AF_INET, type, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_ANY);
  bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a);
  *port = net_bound_port(fd);
  return fd;
}

class Open : public ::testing::Test {
 protected:
  void SetUp() override {
    g_status = -1;
    app_exit_set_hook(hook);
  }
  void TearDown() override { app_exit_set_hook(nullptr); }
  // can_open's stdout and stderr.
  std::pair<std::string, std::string> open() {
    testing::internal::CaptureStdout();
    testing::internal::CaptureStderr();
    can_open();
    fflush(stdout);
    std::string out = testing::internal::GetCapturedStdout();
    return {out, testing::internal::GetCapturedStderr()};
  }
};

TEST_F(Open, SpecThatDoesNotParseEndsTheProcessWithStatus2) {
  for (const char* bus : {"udp:x", "udp:1:127.0.0.1", "udp:0:127.0.0.1:5", "udp:1:nohost:5",
                          "udp:70000:127.0.0.1:5", "can1"}) {
    SCOPED_TRACE(bus);
    g_status = -1;
    testing::internal::CaptureStderr();
    can_set_spec(bus);
    EXPECT_NE(testing::internal::GetCapturedStderr(), "");
    auto [out, err] = open();
    EXPECT_EQ(out, "CAN socket open error\n");
    EXPECT_EQ(err, "open socket\n");
    EXPECT_EQ(g_status, 2);
  }
}

TEST_F(Open, UdpPortInUseIsABindError) {
  uint16_t port = 0;
  int fd = occupy(SOCK_DGRAM, &port);
  std::string bus = "udp:" + std::to_string(port) + ":127.0.0.1:9";
  can_set_spec(bus.c_str());
  auto [out, err] = open();
  EXPECT_EQ(out, "CAN socket bind error\n");
  EXPECT_EQ(g_status, 2);
  close(fd);
  // Free again: the open succeeds and says nothing more.
  g_status = -1;
  std::tie(out, err) = open();
  EXPECT_EQ(out, "");
  EXPECT_EQ(err, "open socket\n");
  EXPECT_EQ(g_status, -1);
  testing::internal::CaptureStderr();
  can_close();
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "close socket\n");
}

TEST_F(Open, UdpReopensWhileCommandsStart) {
  // Every child started between a close and the next bind holds the old
  // socket until its exec; the reopen must wait for that, not fail.
  TestSandbox box("canflood");
  uint16_t port = 0;
  close(occupy(SOCK_DGRAM, &port));
  std::string bus = "udp:" + std::to_string(port) + ":127.0.0.1:9";
  can_set_spec(bus.c_str());
  std::atomic<bool> stop{false};
  std::vector<std::thread> flood;
  for (int i = 0; i < 2; i++)
    flood.emplace_back([&] {
      while (!stop.load()) shell_run("true");
    });
  testing::internal::CaptureStdout();
  testing::internal::CaptureStderr();
  for (int i = 0; i < 3000 && g_status == -1; i++) {
    can_open();
    can_close();
  }
  stop.store(true);
  for (auto& t : flood) t.join();
  fflush(stdout);
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
  testing::internal::GetCapturedStderr();
  EXPECT_EQ(g_status, -1);
}

TEST_F(Open, CanBusIsBroughtUpFirst) {
  TestSandbox box("canopen");
  box.tool("ip", "exit 0");
  can_set_spec("can0");
  auto [out, err] = open();
  EXPECT_EQ(box.read("commands.log"),
            "ip link set can0 down\n"
            "ip link set can0 type can bitrate 1000000\n"
            "ip link set can0 type can restart-ms 100\n"
            "ip link set can0 txqueuelen 1000\n"
            "ip link set can0 up\n");
  if (g_status == -1) {
    testing::internal::CaptureStderr();
    can_close();
    testing::internal::GetCapturedStderr();
    GTEST_SKIP() << "this machine has a can0";
  }
  // No CAN support at all, or no can0 (the bind must not fall back to every
  // CAN interface).
  // The line names the interface and the system's reason.
  EXPECT_TRUE(out.rfind("CAN socket open error: can0: ", 0) == 0 ||
              out.rfind("CAN socket bind error: can0: ", 0) == 0)
      << out;
  EXPECT_EQ(g_status, 2);
}

TEST_F(Open, DjiGoPortInUseEndsTheProcessWithStatus1) {
  uint16_t port = 0;
  int fd = occupy(SOCK_STREAM, &port);
  net_ports().djigo = port;
  testing::internal::CaptureStdout();
  djigo_listener(nullptr);
  fflush(stdout);
  EXPECT_EQ(testing::internal::GetCapturedStdout(),
            "could not bind socket\nDJI Go port: TCP " + std::to_string(port) +
                ": Address already in use (move it with --djigo-port)\n");
  EXPECT_EQ(g_status, 1);
  close(fd);
}

}  // namespace
