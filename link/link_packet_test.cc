// Checksums, the two send operations and the frame format.
#include "link/link_packet.h"

#include <gtest/gtest.h>

#include "link/can_frame.h"
#include "link/link_state.h"
#include "testing/fake_clock.h"
#include "testing/link_capture.h"
#include "platform/clock.h"

TEST(LinkCrc, WorkedExamples) {
  const uint8_t head[] = {0x55, 0x0E, 0x04};
  EXPECT_EQ(link_crc8(head, 3), 0x66);
  const uint8_t abc[] = {'a', 'b', 'c'};
  EXPECT_EQ(link_crc16(abc, 3), 0x865A);
  EXPECT_EQ(link_crc16(abc, 0), 0x3692);
  // Header CRC8 of every template length the link sends.
  const std::pair<uint8_t, uint8_t> headers[] = {{0x0E, 0x66}, {0x14, 0x6D}, {0x13, 0x03},
                                                 {0x1A, 0xB1}, {0x2C, 0x36}, {0x2B, 0x58}};
  for (auto [length, crc] : headers) {
    const uint8_t h[] = {0x55, length, 0x04};
    EXPECT_EQ(link_crc8(h, 3), crc) << int(length);
  }
}

TEST(LinkCrc, BytesTooShortToBePacketsNeverCheckOut) {
  // The reassembly scan relies on these: a lone 0x55, or 0x55 with a length
  // of 1, can never pass as a packet.
  const uint8_t one[] = {0x55};
  EXPECT_NE(link_crc16(one, 1), 0);
  const uint8_t two[] = {0x55, 0x02};
  EXPECT_NE(link_crc16(two, 2), 0);
}

class LinkSend : public ::testing::Test {
 protected:
  void SetUp() override {
    capture_start();
    fake_clock_install(1000);
    link_state().sequence.store(1);
  }
  void TearDown() override {
    capture_stop();
    fake_clock_remove();
  }
};

TEST_F(LinkSend, StampsSequenceAndCrc) {
  Bytes p = hex("55 0E 04 66 02 01 .. .. 40 02 66 00 .. ..");
  link_send(p.data(), p.size());
  auto sent = captured_packets();
  ASSERT_EQ(sent.size(), 1u);
  EXPECT_EQ(to_hex(sent[0]), "55 0E 04 66 02 01 01 00 40 02 66 00 9F 53");
  EXPECT_EQ(link_crc16(sent[0].data(), sent[0].size()), 0);
  EXPECT_EQ(link_state().sequence.load(), 2u);
}

TEST_F(LinkSend, SequenceWrapsInThePacketOnly) {
  link_state().sequence.store(0xFFFF);
  Bytes p = hex("55 0E 04 66 02 01 .. .. 40 02 66 00 .. ..");
  link_send(p.data(), p.size());
  link_send(p.data(), p.size());
  auto sent = captured_packets();
  ASSERT_EQ(sent.size(), 2u);
  EXPECT_EQ(sent[0][6], 0xFF);
  EXPECT_EQ(sent[0][7], 0xFF);
  EXPECT_EQ(sent[1][6], 0x00);
  EXPECT_EQ(sent[1][7], 0x00);
  EXPECT_EQ(link_state().sequence.load(), 0x10001u);
}

TEST_F(LinkSend, TwoByteStringGetsTheStartValue) {
  uint8_t p[2] = {0xAA, 0xBB};
  link_send_unsequenced(p, 2);
  EXPECT_EQ(to_hex(captured_packets().at(0)), "92 36");
}

TEST_F(LinkSend, UnsequencedKeepsTheSequenceBytes) {
  Bytes p = hex("55 0E 04 66 09 01 34 12 80 09 0E 00 .. ..");
  link_send_unsequenced(p.data(), p.size());
  auto sent = captured_packets();
  ASSERT_EQ(sent.size(), 1u);
  EXPECT_EQ(sent[0][6], 0x34);
  EXPECT_EQ(sent[0][7], 0x12);
  EXPECT_EQ(link_crc16(sent[0].data(), 14), 0);
  EXPECT_EQ(link_state().sequence.load(), 1u);
}

TEST_F(LinkSend, BusyWriterIsRetriedOnceThenThePacketIsLost) {
  capture_set_result(-1);
  Bytes p = hex("55 0E 04 66 02 01 .. .. 40 02 66 00 .. ..");
  testing::internal::CaptureStderr();
  int r = link_send(p.data(), p.size());
  std::string err = testing::internal::GetCapturedStderr();
  EXPECT_EQ(r, -1);
  EXPECT_EQ(err, "need to send again 2\nneed to send again 1\n");
  EXPECT_EQ(time_ms(), 1001u);  // two 500 us pauses on the fake clock
  EXPECT_EQ(link_state().sequence.load(), 2u);
}

TEST(CanFrame, WireFormatAndSplitting) {
  CanFrame f;
  f.can_id = 0x413;
  f.len = 3;
  f.data[0] = 0x55, f.data[1] = 0x0E, f.data[2] = 0x04;
  uint8_t wire[16];
  can_frame_encode(f, wire);
  EXPECT_EQ(to_hex(wire, 16), "13 04 00 00 03 00 00 00 55 0E 04 00 00 00 00 00");
  CanFrame g;
  ASSERT_TRUE(can_frame_decode(wire, 16, &g));
  EXPECT_EQ(g.can_id, 0x413u);
  EXPECT_EQ(g.len, 3);
  EXPECT_FALSE(can_frame_decode(wire, 15, &g));
  wire[4] = 9;
  EXPECT_FALSE(can_frame_decode(wire, 16, &g));

  uint8_t bytes[20];
  for (int i = 0; i < 20; i++) bytes[i] = static_cast<uint8_t>(i);
  ASSERT_EQ(can_frame_count(20), 3u);
  const uint8_t lens[] = {8, 8, 4};
  for (size_t i = 0; i < 3; i++) {
    CanFrame c = can_frame_chunk(kCanIdDaemon, bytes, 20, i);
    EXPECT_EQ(c.can_id, 0x412u);
    EXPECT_EQ(c.len, lens[i]);
    EXPECT_EQ(c.data[0], 8 * i);
  }
}
