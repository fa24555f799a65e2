// Shield servo rules, checked through the recording GPIO backend.
#include "periph/shield.h"

#include <gtest/gtest.h>

#include <cstring>
#include <sstream>
#include <string>
#include <vector>

#include "core/config_record.h"
#include "core/hud_block.h"
#include "testing/inputs_fixture.h"
#include "platform/wiringpi.h"

using namespace inputs_test;
using Lines = std::vector<std::string>;

namespace {

class ShieldTest : public ::testing::Test {
 protected:
  TestSandbox root{"shield"};
  uint8_t hud[kHudSize]{};
  ConfigRecord* cfg = config_record();
  size_t seen = 0;

  void SetUp() override {
    memset(cfg, 0, sizeof *cfg);
    cfg->shield_enabled = 1;
    cfg->shield_open = 1800;
    cfg->shield_close = 1100;
    cfg->shield_timeout = 5000;
    hud_set_block(hud);
    shield_reset();
    fake_clock_install(1000);
    gpio_set_log((root.dir + "/gpio.log").c_str());
  }
  void TearDown() override {
    gpio_set_log(nullptr);
    shield_reset();
    fake_clock_remove();
    hud_set_block(nullptr);
  }
  // GPIO lines written since the last call.
  Lines gpio() {
    std::istringstream in(root.read("gpio.log"));
    Lines all, fresh;
    for (std::string l; std::getline(in, l);) all.push_back(l);
    for (size_t i = seen; i < all.size(); i++) fresh.push_back(all[i]);
    seen = all.size();
    return fresh;
  }
  uint32_t closed_field() { return hud_get_u32(hud, HUD_SHIELD_CLOSED); }
};

TEST_F(ShieldTest, InitClosesWithoutDrivingTheServo) {
  shield_init();
  EXPECT_EQ(gpio(), Lines{"mode 25 2"});
  EXPECT_EQ(closed_field(), 1u);
  EXPECT_EQ(shield_state(), 0);
}

TEST_F(ShieldTest, TwoOpensDriveOnceAndTheTimerCountsFromTheFirst) {
  shield_init();
  gpio();
  shield_move_open();
  EXPECT_EQ(gpio(), Lines{"pwm 25 1800"});
  EXPECT_EQ(closed_field(), 0u);
  EXPECT_EQ(shield_state(), 1);
  hud_set_u32(hud, HUD_SHIELD_CLOSED, 7);
  fake_clock_set(4000);
  shield_move_open();
  EXPECT_EQ(gpio(), Lines{});
  EXPECT_EQ(closed_field(), 0u);  // rewritten on every open request
  fake_clock_set(6000);
  shield_auto_close();  // 5000 ms: not yet more than the timeout
  EXPECT_EQ(gpio(), Lines{});
  fake_clock_set(6001);
  shield_auto_close();
  EXPECT_EQ(gpio(), Lines{"pwm 25 1100"});
  EXPECT_EQ(closed_field(), 1u);
  EXPECT_EQ(shield_state(), 0);
  // Closed: later passes only rewrite the field.
  hud_set_u32(hud, HUD_SHIELD_CLOSED, 7);
  fake_clock_set(9000);
  shield_auto_close();
  EXPECT_EQ(gpio(), Lines{});
  EXPECT_EQ(closed_field(), 1u);
}

TEST_F(ShieldTest, BusyCameraKeepsItOpen) {
  shield_init();
  shield_move_open();
  gpio();
  const uint8_t busy[] = {0x40, 0x80, 0xC0, 0x08, 0x48};
  uint32_t t = 1000;
  for (uint8_t status : busy) {
    t += 100000;
    fake_clock_set(t);
    hud_set_u8(hud, HUD_CAMERA_STATUS, status);
    shield_auto_close();
    EXPECT_EQ(gpio(), Lines{}) << int(status);
  }
  // Idle (bit 2 is not a busy bit): the countdown starts at the last busy pass.
  hud_set_u8(hud, HUD_CAMERA_STATUS, 0x04);
  fake_clock_set(t + 5000);
  shield_auto_close();
  EXPECT_EQ(gpio(), Lines{});
  fake_clock_set(t + 5001);
  shield_auto_close();
  EXPECT_EQ(gpio(), Lines{"pwm 25 1100"});
}

TEST_F(ShieldTest, TimeoutZeroClosesAfterOneMillisecond) {
  cfg->shield_timeout = 0;
  shield_init();
  shield_move_open();
  gpio();
  shield_auto_close();
  EXPECT_EQ(gpio(), Lines{});
  fake_clock_set(1001);
  shield_auto_close();
  EXPECT_EQ(gpio(), Lines{"pwm 25 1100"});
}

TEST_F(ShieldTest, ClockWrapStillCounts) {
  fake_clock_set(0xFFFFF000u);
  shield_init();
  shield_move_open();
  gpio();
  fake_clock_set(0xFFFFF000u + 5001u);  // wraps past zero
  shield_auto_close();
  EXPECT_EQ(gpio(), Lines{"pwm 25 1100"});
}

TEST_F(ShieldTest, DefaultPositionsWriteZero) {
  cfg->shield_open = 0;
  cfg->shield_close = 0;
  shield_init();
  shield_move_open();
  shield_move_closed();
  EXPECT_EQ(gpio(), (Lines{"mode 25 2", "pwm 25 0", "pwm 25 0"}));
}

TEST_F(ShieldTest, DisabledOrUninitialisedDoesNothing) {
  hud_set_u32(hud, HUD_SHIELD_CLOSED, 7);
  shield_move_open();  // before shield_init
  shield_auto_close();
  EXPECT_EQ(gpio(), Lines{});
  cfg->shield_enabled = 0;
  shield_init();
  gpio();
  shield_move_open();
  shield_move_closed();
  fake_clock_set(100000);
  shield_auto_close();
  EXPECT_EQ(gpio(), Lines{});
  EXPECT_EQ(closed_field(), 7u);
  EXPECT_EQ(shield_state(), 0);
}

}  // namespace
