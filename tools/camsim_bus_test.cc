// The simulator's bus: what --bus accepts, frames over the UDP form, and a
// SocketCAN interface that does not exist (this machine may have no CAN at
// all; the VM stage runs the CAN form against a kernel).
#include "tools/camsim_bus.h"

#include <gtest/gtest.h>

#include <poll.h>
#include <sys/socket.h>

#include "platform/ports.h"

namespace {

TEST(CamsimBus, ParsesBothFormsAndRejectsTheRest) {
  struct Case {
    const char* text;
    bool ok;
    CamsimBusKind kind;
  } cases[] = {
      {"udp:5000:127.0.0.1:6000", true, CamsimBusKind::kUdp},
      {"can:can1", true, CamsimBusKind::kCan},
      {"can:cam0", true, CamsimBusKind::kCan},
      {"can:", false, {}},
      {"can:a-name-far-too-long", false, {}},
      {"can:../x", false, {}},
      {"udp:5000:127.0.0.1", false, {}},
      {"udp:0:127.0.0.1:6000", false, {}},
      {"udp:5000:nohost:6000", false, {}},
      {"can0", false, {}},
      {"", false, {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    CamsimBus bus;
    ASSERT_EQ(camsim_bus_parse(c.text, &bus), c.ok);
    if (!c.ok) continue;
    EXPECT_EQ(bus.kind, c.kind);
    EXPECT_EQ(camsim_bus_text(bus), c.text);
  }
}

TEST(CamsimBus, UdpCarriesDaemonFramesAndDropsTheRest) {
  uint16_t a_port = net_free_port(SOCK_DGRAM), b_port = net_free_port(SOCK_DGRAM);
  ASSERT_NE(a_port, 0);
  ASSERT_NE(b_port, 0);
  CamsimBus a, b;
  std::string error;
  ASSERT_TRUE(camsim_bus_parse(
      "udp:" + std::to_string(a_port) + ":127.0.0.1:" + std::to_string(b_port), &a));
  ASSERT_TRUE(camsim_bus_parse(
      "udp:" + std::to_string(b_port) + ":127.0.0.1:" + std::to_string(a_port), &b));
  ASSERT_TRUE(camsim_bus_open(&a, &error)) << error;
  ASSERT_TRUE(camsim_bus_open(&b, &error)) << error;
  EXPECT_TRUE(camsim_bus_check(&a));

  const uint8_t data[5] = {0x55, 0x0D, 0x04, 0x33, 0x01};
  for (uint32_t id : {kCanIdCamera, kCanIdDaemon}) {
    CanFrame f = can_frame_chunk(id, data, sizeof data, 0);
    ASSERT_TRUE(camsim_bus_send(&a, f));
  }
  pollfd p{b.fd, POLLIN, 0};
  ASSERT_EQ(poll(&p, 1, 2000), 1);
  CanFrame got;
  // The camera's own id is not for the simulator; the daemon's frame is.
  int n = 0;
  for (int tries = 0; tries < 200 && n == 0; tries++) {
    n = camsim_bus_recv(&b, &got);
    if (n == 0) poll(&p, 1, 10);
  }
  ASSERT_EQ(n, 1);
  EXPECT_EQ(got.can_id, kCanIdDaemon);
  ASSERT_EQ(got.len, sizeof data);
  EXPECT_EQ(memcmp(got.data, data, sizeof data), 0);
  EXPECT_EQ(camsim_bus_recv(&b, &got), 0);
  camsim_bus_close(&a);
  camsim_bus_close(&b);
  EXPECT_FALSE(camsim_bus_send(&a, got));
  EXPECT_EQ(a.send_errors, 1u);
}

TEST(CamsimBus, MissingCanInterfaceFailsAndStaysBroken) {
  CamsimBus bus;
  ASSERT_TRUE(camsim_bus_parse("can:pqwnone9", &bus));
  std::string error;
  EXPECT_FALSE(camsim_bus_open(&bus, &error));
  EXPECT_EQ(error, "no interface pqwnone9");
  EXPECT_TRUE(bus.broken);
  EXPECT_FALSE(camsim_bus_check(&bus));
  EXPECT_EQ(bus.fd, -1);
  EXPECT_EQ(bus.reopens, 0u);
}

}  // namespace
