#include "viewer/discovery.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "platform/ports.h"
#include "viewer/client_table.h"
#include "viewer/viewer_send.h"
#include "testing/viewer_fixture.h"

namespace {

using viewer_test::LoopSocket;

struct Calls {
  std::vector<std::vector<int>> motion;
  std::vector<std::vector<float>> attitude;
  std::vector<std::string> commands;
  std::vector<size_t> command_lengths;
};
Calls g_calls;

void fake_motion(int mode, int a, int b) { g_calls.motion.push_back({mode, a, b}); }
void fake_attitude(float q0, float q1, float q2, float q3) {
  g_calls.attitude.push_back({q0, q1, q2, q3});
}
void fake_command(const char* text, size_t length) {
  g_calls.commands.emplace_back(text);
  g_calls.command_lengths.push_back(length);
}

struct DiscoveryTest : ::testing::Test {
  LoopSocket device;  // plays the discovery socket
  LoopSocket viewer;
  void SetUp() override {
    g_calls = Calls();
    ViewerControlHooks hooks{fake_motion, fake_attitude, fake_command};
    viewer_set_control_hooks(&hooks);
    discovery_set_socket(device.fd);
    client_table_clear();
  }
  void TearDown() override {
    viewer_set_control_hooks(nullptr);
    discovery_set_socket(-1);
    client_table_clear();
  }
  // A datagram as it arrives from 127.0.0.1:port.
  void arrive(const std::vector<uint8_t>& datagram, uint16_t port) {
    sockaddr_in from{};
    from.sin_family = AF_INET;
    from.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    from.sin_port = htons(port);
    discovery_handle_datagram(datagram.data(), datagram.size(), from);
  }
  static std::vector<uint8_t> datagram(std::vector<uint8_t> message) {
    std::vector<uint8_t> d(12, 0);
    d[0] = 'B';
    d.insert(d.end(), message.begin(), message.end());
    return d;
  }
};

TEST_F(DiscoveryTest, RegistrationRepliesOnceWithOneByte) {
  testing::internal::CaptureStderr();
  arrive(datagram({}), viewer.port);  // the bare header: type 0, byte 1 = 0
  std::string line = testing::internal::GetCapturedStderr();
  EXPECT_EQ(line, "client connected from 127.0.0.1:" + std::to_string(viewer.port) + "  \n");
  EXPECT_EQ(viewer.receive(), std::vector<uint8_t>{'B'});
  EXPECT_EQ(client_slot(0).data_only, 0);

  testing::internal::CaptureStderr();
  arrive(datagram({0, 1}), viewer.port);  // refresh, switching to data only
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
  EXPECT_TRUE(viewer.quiet());
  EXPECT_EQ(client_slot(0).data_only, 1);
  EXPECT_EQ(client_count(), 1);
}

// Viewers wait for the one-byte reply before they read anything else: while
// telemetry streams to everyone, a new viewer still hears 'B' first.
TEST_F(DiscoveryTest, TheReplyComesBeforeAnyOtherDatagram) {
  std::atomic<bool> stop{false};
  std::atomic<int> sent{0};
  std::thread telemetry([&] {
    while (!stop.load()) {
      viewer_send_short8(5, 1, 2, 0, 0, 0, 0);
      sent++;
    }
  });
  while (sent.load() == 0) std::this_thread::yield();
  testing::internal::CaptureStderr();
  int wrong_first = 0;
  for (int i = 0; i < 1000; i++) {
    LoopSocket fresh;
    arrive(datagram({}), fresh.port);
    std::vector<uint8_t> first = fresh.receive();
    if (first != std::vector<uint8_t>{'B'}) wrong_first++;
    arrive(datagram({1}), fresh.port);
  }
  stop = true;
  telemetry.join();
  testing::internal::GetCapturedStderr();
  EXPECT_EQ(wrong_first, 0);
}

TEST_F(DiscoveryTest, OnlyTheValueOneMeansDataOnly) {
  LoopSocket second, third;
  testing::internal::CaptureStderr();
  viewer_handle_message(std::vector<uint8_t>{0, 1}.data(), 2, "127.0.0.1", viewer.port);
  viewer_handle_message(std::vector<uint8_t>{0, 2}.data(), 2, "127.0.0.1", second.port);
  viewer_handle_message(std::vector<uint8_t>{0, 0xFF}.data(), 2, "127.0.0.1", third.port);
  std::string lines = testing::internal::GetCapturedStderr();
  EXPECT_NE(lines.find("127.0.0.1:" + std::to_string(viewer.port) + " (only data)\n"),
            std::string::npos);
  EXPECT_EQ(client_slot(0).data_only, 1);
  EXPECT_EQ(client_slot(1).data_only, 0);
  EXPECT_EQ(client_slot(2).data_only, 0);
  for (LoopSocket* s : {&viewer, &second, &third})
    EXPECT_EQ(s->receive(), std::vector<uint8_t>{'B'});
}

TEST_F(DiscoveryTest, RemovalPrintsOnlyWhenSomeoneWasRemoved) {
  testing::internal::CaptureStderr();
  arrive(datagram({1}), viewer.port);  // not registered: nothing
  arrive(datagram({0}), viewer.port);
  arrive(datagram({1}), viewer.port);
  std::string lines = testing::internal::GetCapturedStderr();
  std::string p = std::to_string(viewer.port);
  EXPECT_EQ(lines,
            "client connected from 127.0.0.1:" + p + "  \nclient 127.0.0.1:" + p + " removed\n");
  EXPECT_EQ(client_count(), 0);
}

TEST_F(DiscoveryTest, DatagramsFromADeviceAreIgnored) {
  // Two rigs told of each other: each one's beacons (type 6), link status
  // (type 5) and video would reach the other as messages. Whatever comes from
  // a device viewer port, from any address, or carries video framing is
  // dropped; viewers on other ports with data framing are heard.
  NetPorts saved = net_ports();
  net_ports().viewer = viewer.port;  // pretend the viewer socket is the device's own
  LoopSocket other;
  struct Row {
    uint16_t port;
    uint8_t channel;  // header byte 1
    bool heard;
  } rows[] = {
      {viewer.port, 0, false},  // our own viewer port
      {4242, 0, false},         // the device port of every other rig
      {other.port, 1, false},   // the device's video framing
      {other.port, 0, true},    // a viewer app with the data header
      {other.port, 2, true},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.port);
    g_calls = Calls();
    std::vector<uint8_t> beacon = datagram({6, 0, 3, 0xFF, 0x7F, 0, 0, 0, 0, 0, 0});
    beacon[1] = r.channel;
    arrive(beacon, r.port);
    std::vector<uint8_t> status = datagram({5, 1, 2, 0, 0, 0, 0});
    status[1] = r.channel;
    arrive(status, r.port);
    EXPECT_EQ(g_calls.attitude.size(), r.heard ? 1u : 0u);
    EXPECT_EQ(g_calls.motion.size(), r.heard ? 1u : 0u);
  }
  // Registration from a device port, from any address, takes no slot.
  viewer_handle_message(std::vector<uint8_t>{0, 1}.data(), 2, "127.0.0.2", viewer.port);
  viewer_handle_message(std::vector<uint8_t>{0, 1}.data(), 2, "192.168.2.7", 4242);
  EXPECT_EQ(client_count(), 0);
  testing::internal::CaptureStderr();
  viewer_handle_message(std::vector<uint8_t>{0, 1}.data(), 2, "127.0.0.1", other.port);
  testing::internal::GetCapturedStderr();
  EXPECT_EQ(client_count(), 1);
  EXPECT_EQ(other.receive(), std::vector<uint8_t>{'B'});
  net_ports() = saved;
}

TEST_F(DiscoveryTest, OneAddressHoldsAtMostItsShareOfSlots) {
  // The fifth port of one host is refused (and said); another host and a
  // refresh of a held slot still get through.
  LoopSocket ports[6];  // the last one only lends its port to 127.0.0.2
  testing::internal::CaptureStderr();
  for (int i = 0; i < 5; i++) arrive(datagram({0}), ports[i].port);
  sockaddr_in from{};
  from.sin_family = AF_INET;
  from.sin_addr.s_addr = htonl(0x7F000002);  // 127.0.0.2
  from.sin_port = htons(ports[5].port);
  discovery_handle_datagram(datagram({0}).data(), 12, from);
  arrive(datagram({0}), ports[0].port);
  arrive(datagram({0}), ports[4].port);
  std::string err = testing::internal::GetCapturedStderr();
  EXPECT_EQ(client_count(), kClientPerAddressDefault + 1);
  for (int i = 0; i < 4; i++) EXPECT_EQ(ports[i].receive(), std::vector<uint8_t>{'B'});
  EXPECT_TRUE(ports[4].quiet());
  EXPECT_STREQ(client_slot(4).address, "127.0.0.2");
  // Said once, though refused twice.
  std::string said = "client 127.0.0.1:" + std::to_string(ports[4].port) +
                     " refused: 127.0.0.1 already holds 4 viewer slots";
  EXPECT_NE(err.find(said), std::string::npos) << err;
  EXPECT_EQ(err.find("refused:"), err.rfind("refused:")) << err;
}

TEST_F(DiscoveryTest, ControlMessagesReachTheirOperations) {
  // 5: mode 3, a = -2 (FE FF), b = 0x0102
  arrive(datagram({5, 3, 0xFE, 0xFF, 0x02, 0x01}), viewer.port);
  // 6: two unused bytes, then 32767, -32767, 0, 16384
  arrive(datagram({6, 9, 9, 0xFF, 0x7F, 0x01, 0x80, 0, 0, 0x00, 0x40}), viewer.port);
  // Truncated: the missing bytes read as 0.
  arrive(datagram({5, 7}), viewer.port);
  arrive(datagram({6, 0, 0, 0xFF}), viewer.port);
  ASSERT_EQ(g_calls.motion.size(), 2u);
  EXPECT_EQ(g_calls.motion[0], (std::vector<int>{3, -2, 0x0102}));
  EXPECT_EQ(g_calls.motion[1], (std::vector<int>{7, 0, 0}));
  ASSERT_EQ(g_calls.attitude.size(), 2u);
  EXPECT_EQ(g_calls.attitude[0][0], 1.0f);
  EXPECT_EQ(g_calls.attitude[0][1], -1.0f);
  EXPECT_EQ(g_calls.attitude[0][2], 0.0f);
  EXPECT_EQ(g_calls.attitude[0][3], static_cast<float>(16384 / 32767.0));
  EXPECT_EQ(g_calls.attitude[1][0], static_cast<float>(255 / 32767.0));
  // Neither needs nor refreshes a registration.
  EXPECT_EQ(client_count(), 0);
  EXPECT_TRUE(viewer.quiet());
}

TEST_F(DiscoveryTest, JsonCommandsGoToAWorkerWhole) {
  std::string json = R"({"cmd":"record","param":"start"})";
  arrive(datagram(std::vector<uint8_t>(json.begin(), json.end())), viewer.port);
  ASSERT_EQ(g_calls.commands.size(), 1u);
  EXPECT_EQ(g_calls.commands[0], json);
  EXPECT_EQ(g_calls.command_lengths[0], json.size());

  // A full 1500-byte datagram: the text is cut at 1488 bytes and stays
  // NUL-terminated.
  std::vector<uint8_t> big(1500, 'x');
  big[0] = 'B';
  big[12] = '{';
  arrive(big, viewer.port);
  ASSERT_EQ(g_calls.commands.size(), 2u);
  EXPECT_EQ(g_calls.commands[1].size(), 1488u);
  EXPECT_EQ(g_calls.command_lengths[1], 1488u);
}

TEST_F(DiscoveryTest, MalformedDatagramsAreHarmless) {
  arrive({}, viewer.port);
  arrive({'B'}, viewer.port);
  arrive({'B', 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}, viewer.port);  // 11 bytes
  std::vector<uint8_t> wrong = datagram({0});
  wrong[0] = 'C';
  arrive(wrong, viewer.port);
  for (int type : {2, 3, 4, 7, 122, 124, 200, 255})
    arrive(datagram({uint8_t(type), 1, 2, 3}), viewer.port);
  viewer_handle_message(nullptr, 10, "127.0.0.1", viewer.port);
  viewer_handle_message(nullptr, 0, nullptr, viewer.port);
  // An overlong length is cut, never read past 1488 bytes of the caller's
  // buffer... as long as the caller's buffer holds that many.
  std::vector<uint8_t> huge(4000, 0);
  huge[0] = 7;
  viewer_handle_message(huge.data(), huge.size(), "127.0.0.1", viewer.port);
  EXPECT_EQ(client_count(), 0);
  EXPECT_TRUE(g_calls.motion.empty());
  EXPECT_TRUE(g_calls.attitude.empty());
  EXPECT_TRUE(g_calls.commands.empty());
  EXPECT_TRUE(viewer.quiet());
}

}  // namespace
