// The HudBlock field helpers.
#include "core/hud_block.h"

#include <gtest/gtest.h>

#include <cstring>

namespace {

TEST(HudHelpers, UnalignedFieldsRoundTrip) {
  uint8_t block[kHudSize] = {};
  for (size_t off : {1u, 3u, 2379u, 2411u, 2627u}) {
    hud_set_u16(block, off, 0xBEEF);
    EXPECT_EQ(hud_get_u16(block, off), 0xBEEF);
    EXPECT_EQ(block[off], 0xEF);  // little-endian
    hud_set_u32(block, off, 0xDEADBEEF);
    EXPECT_EQ(hud_get_u32(block, off), 0xDEADBEEFu);
    EXPECT_EQ(hud_get_i32(block, off), static_cast<int32_t>(0xDEADBEEF));
    hud_set_f64(block, off, -1.25);
    EXPECT_EQ(hud_get_f64(block, off), -1.25);
  }
  memset(block, 0x55, sizeof block);
  hud_set_text(block, HUD_VERSION, 20, "a text far longer than twenty bytes");
  EXPECT_EQ(block[HUD_VERSION + 19], 0);
  EXPECT_EQ(block[HUD_VERSION + 20], 0x55);  // the next field is untouched
  hud_set_u8(block, kHudSize - 1, 7);
  hud_fill(block, kHudSize - 2, 9, 100);  // bounded by the block
  EXPECT_EQ(block[kHudSize - 1], 9);
}

}  // namespace
