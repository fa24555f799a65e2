// The packet builder of the camera side, read back.
#include "tools/packet_build.h"

#include <gtest/gtest.h>

#include "testing/link_capture.h"

TEST(PacketBuild, BuildsAndReadsBack) {
  uint8_t out[64];
  const uint8_t payload[] = {0x00};
  size_t n = link_packet_build(out, sizeof out, {0x02, 0x01, 0x0001, 0x40, 0x02, 0x66}, payload, 1);
  ASSERT_EQ(n, 14u);
  EXPECT_EQ(to_hex(out, n), "55 0E 04 66 02 01 01 00 40 02 66 00 9F 53");
  EXPECT_TRUE(link_packet_intact(out, n));
  out[11] ^= 1;
  EXPECT_FALSE(link_packet_intact(out, n));
  LinkFields f = link_packet_fields(out);
  EXPECT_EQ(f.sender, 0x02);
  EXPECT_EQ(f.sequence, 1);
  EXPECT_EQ(f.id, 0x66);
  uint8_t big[300];
  EXPECT_EQ(link_packet_build(big, sizeof big, {}, big, 243), 0u);  // 256 bytes
  EXPECT_EQ(link_packet_build(out, 13, {}, payload, 1), 0u);        // no room
}
