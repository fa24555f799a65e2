// Reassembly: the length filter, the once-per-frame scan and its quirks.
#include "link/can_reassembly.h"

#include <gtest/gtest.h>

#include "link/can_frame.h"
#include "link/link_packet.h"
#include "testing/link_capture.h"
#include "tools/packet_build.h"

namespace {

Bytes make_packet(size_t length, uint8_t fill = 0x11) {
  Bytes payload(length - kLinkOverhead, fill);
  Bytes p(length);
  link_packet_build(p.data(), p.size(), {0x01, 0x02, 0x0007, 0x00, 0x02, 0x80}, payload.data(),
                    payload.size());
  return p;
}

struct Feed {
  CanAssembler a;
  std::vector<Bytes> delivered;

  static void on_packet(const uint8_t* p, size_t n, void* ctx) {
    static_cast<Feed*>(ctx)->delivered.emplace_back(p, p + n);
  }
  // One frame through the filter and the buffer, as the reader does.
  void frame(const uint8_t* data, size_t len) {
    if (can_assembler_accept(&a, data, static_cast<uint8_t>(len)))
      can_assembler_push(&a, data, static_cast<uint8_t>(len), on_packet, this);
  }
  void frame(const Bytes& b) { frame(b.data(), b.size()); }
  // A byte string cut into frames of up to `size` bytes.
  void bytes(const Bytes& b, size_t size = 8) {
    for (size_t off = 0; off < b.size(); off += size)
      frame(b.data() + off, std::min(size, b.size() - off));
  }
};

}  // namespace

TEST(CanReassembly, AcceptedLengths) {
  int count = 0;
  for (int l = 0; l < 256; l++) count += can_length_accepted(static_cast<uint8_t>(l));
  EXPECT_EQ(count, 15);
  for (int l : {13, 14, 15, 19, 22, 25, 49, 50, 52, 53, 54, 59, 77, 85, 104})
    EXPECT_TRUE(can_length_accepted(static_cast<uint8_t>(l))) << l;
}

TEST(CanReassembly, PacketOverTwoFramesIsDeliveredOnceAfterTheSecond) {
  Feed f;
  Bytes p = make_packet(14);
  f.frame(Bytes(p.begin(), p.begin() + 8));
  EXPECT_TRUE(f.delivered.empty());
  f.frame(Bytes(p.begin() + 8, p.end()));
  ASSERT_EQ(f.delivered.size(), 1u);
  EXPECT_EQ(f.delivered[0], p);
  EXPECT_EQ(f.a.buffered, 0u);
  // Every length the camera side sends, in 8-byte frames.
  for (size_t l : {13, 15, 19, 22, 25, 49, 50, 52, 53, 54, 59, 77, 85, 104}) {
    f.delivered.clear();
    f.bytes(make_packet(l));
    ASSERT_EQ(f.delivered.size(), 1u) << l;
    EXPECT_EQ(f.delivered[0].size(), l);
  }
}

TEST(CanReassembly, UnacceptedLengthIsDroppedFrameByFrame) {
  Feed f;
  f.bytes(make_packet(16));
  EXPECT_TRUE(f.delivered.empty());
  EXPECT_EQ(f.a.buffered, 0u);
  EXPECT_EQ(f.a.skipping, 1);
  // A continuation frame of an unwanted packet stays dropped; the next 0x55
  // frame with an accepted length ends the skipping.
  f.frame(hex("01 02 03"));
  EXPECT_EQ(f.a.buffered, 0u);
  f.bytes(make_packet(25));
  ASSERT_EQ(f.delivered.size(), 1u);
  EXPECT_EQ(f.delivered[0].size(), 25u);
}

TEST(CanReassembly, FramesBeforeTheFirstStartFrameAreKept) {
  Feed f;
  f.frame(hex("01 02 03 04"));
  EXPECT_EQ(f.a.buffered, 4u);
  f.bytes(make_packet(14));
  ASSERT_EQ(f.delivered.size(), 1u);
  EXPECT_EQ(f.a.buffered, 0u);  // the junk before it went with it
}

TEST(CanReassembly, ContinuationFrameStartingWith55IsJudgedLikeAFirstFrame) {
  Feed f;
  // Payload bytes 55 10 at the start of the second frame: 0x10 = 16 is not an
  // accepted length, so that frame and the rest of the packet are dropped.
  Bytes p = make_packet(14);
  p[8] = 0x55;
  p[9] = 0x10;
  link_packet_seal(p.data(), p.size());
  f.bytes(p);
  EXPECT_TRUE(f.delivered.empty());
  EXPECT_EQ(f.a.skipping, 1);
  // With 55 0E (14, accepted) the frame is kept and the packet goes through.
  p[9] = 0x0E;
  link_packet_seal(p.data(), p.size());
  f.bytes(p);
  ASSERT_EQ(f.delivered.size(), 1u);
  EXPECT_EQ(f.delivered[0], p);
}

TEST(CanReassembly, PacketMovedBehindTheScanWaitsForTheNextFrame) {
  Feed f;
  Bytes p = make_packet(13);
  // A 4-byte string that checks out as a packet: 55 04 x y with a zero CRC16.
  Bytes mini;
  for (int x = 0; x < 256 && mini.empty(); x++)
    for (int y = 0; y < 256; y++) {
      uint8_t m[4] = {0x55, 0x04, static_cast<uint8_t>(x), static_cast<uint8_t>(y)};
      if (link_crc16(m, 4) == 0) {
        mini.assign(m, m + 4);
        break;
      }
    }
  ASSERT_EQ(mini.size(), 4u);
  f.frame(Bytes(p.begin(), p.begin() + 8));
  f.frame(Bytes(p.begin() + 8, p.begin() + 10));
  Bytes last(p.begin() + 10, p.end());  // 3 bytes of the packet, then the mini packet
  last.insert(last.end(), mini.begin(), mini.end());
  f.frame(last);
  // The 13-byte packet at position 0 is consumed; the mini packet moves to
  // position 0, which this scan has passed.
  ASSERT_EQ(f.delivered.size(), 1u);
  EXPECT_EQ(f.delivered[0], p);
  EXPECT_EQ(f.a.buffered, 4u);
  f.frame(hex("00"));
  ASSERT_EQ(f.delivered.size(), 2u);
  EXPECT_EQ(f.delivered[1], mini);

  // The simulator's reader scans again and gets both at once.
  Feed g;
  g.a.rescan = true;
  g.frame(Bytes(p.begin(), p.begin() + 8));
  g.frame(Bytes(p.begin() + 8, p.begin() + 10));
  g.frame(last);
  EXPECT_EQ(g.delivered.size(), 2u);
}

TEST(CanReassembly, OverflowEmptiesTheBufferFirst) {
  Feed f;
  Bytes junk(8, 0x00);
  for (int i = 0; i < 127; i++) f.frame(junk);
  f.frame(hex("00 00 00 00"));
  ASSERT_EQ(f.a.buffered, 1020u);
  Bytes p = make_packet(14);
  f.frame(Bytes(p.begin(), p.begin() + 8));
  EXPECT_EQ(f.a.buffered, 8u);
  EXPECT_EQ(Bytes(f.a.buffer, f.a.buffer + 8), Bytes(p.begin(), p.begin() + 8));
  f.frame(Bytes(p.begin() + 8, p.end()));
  ASSERT_EQ(f.delivered.size(), 1u);
  // Exactly 1024 still fits.
  Feed g;
  for (int i = 0; i < 128; i++) g.frame(junk);
  EXPECT_EQ(g.a.buffered, 1024u);
}

TEST(CanReassembly, BadCrcIsNeverDeliveredAndWhatFollowsStillIs) {
  Feed f;
  Bytes bad = make_packet(14);
  bad[12] ^= 0xFF;
  Bytes good = make_packet(22, 0x22);
  f.bytes(bad);
  EXPECT_TRUE(f.delivered.empty());
  EXPECT_EQ(f.a.buffered, 14u);  // its 0x55 stays until a later packet is consumed
  f.bytes(good);
  ASSERT_EQ(f.delivered.size(), 1u);
  EXPECT_EQ(f.delivered[0], good);
  EXPECT_EQ(f.a.buffered, 0u);

  // Truncated: the first ten bytes of a packet, then a whole one.
  Bytes cut = make_packet(49);
  f.bytes(Bytes(cut.begin(), cut.begin() + 10));
  f.bytes(good);
  ASSERT_EQ(f.delivered.size(), 2u);
  EXPECT_EQ(f.delivered[1], good);
}

TEST(CanReassembly, ShortFramesAndEmptyFrames) {
  Feed f;
  f.frame(hex("55"));  // too short to carry a length: not a packet we keep
  EXPECT_EQ(f.a.skipping, 1);
  EXPECT_EQ(f.a.buffered, 0u);
  Bytes p = make_packet(13);
  f.bytes(p, 1);  // one byte per frame: 55 alone is dropped, so nothing
  EXPECT_TRUE(f.delivered.empty());
  f.bytes(p, 2);
  ASSERT_EQ(f.delivered.size(), 1u);
  f.frame(nullptr, 0);
  EXPECT_EQ(f.delivered.size(), 1u);
}

TEST(CanReassembly, SimulatorModeTakesAnyLength) {
  Feed f;
  f.a.any_length = true;
  f.a.rescan = true;
  f.bytes(make_packet(16));
  f.bytes(make_packet(20));
  ASSERT_EQ(f.delivered.size(), 2u);
  EXPECT_EQ(f.delivered[1].size(), 20u);
}
