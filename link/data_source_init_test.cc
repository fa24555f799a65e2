// Start-up of the camera link (its own binary: it starts the poller and RC
// controller threads, which live for the rest of the process).
#include <gtest/gtest.h>

#include "core/config_record.h"
#include "link/data_source.h"
#include "link/link_state.h"
#include "testing/link_capture.h"
#include "testing/sandbox.h"
#include "platform/wiringpi.h"

// The threads started here keep the block for the life of the process.
uint8_t g_block[kHudSize];

TEST(DataSourceInit, ModesHudAndLed) {
  struct {
    uint8_t* block = g_block;
  } hud;
  hud_set_block(g_block);
  TempDir tmp("dsinit");
  gpio_set_log((tmp.dir + "/gpio.log").c_str());
  for (size_t off : {HUD_LINK_UP_A, HUD_LINK_UP_B, HUD_HUD_ENABLED, HUD_TELEMETRY_VALID})
    hud_set_u8(hud.block, off, 1);
  ConfigRecord* cfg = config_record();
  cfg_set(cfg->device_mode, 1);
  cfg_set(cfg->cooperative_mode, 1);
  cfg_set(cfg->control_enabled, 0);  // no CAN transport here
  link_state().link_up.store(1);
  link_state().last_data_time.store(1234);
  testing::internal::CaptureStderr();
  data_source_init();
  std::string err = testing::internal::GetCapturedStderr();
  EXPECT_EQ(err, "Init data source\nMode: Inspire\nCooperative mode: True\n");
  LinkState& ls = link_state();
  EXPECT_EQ(ls.mode.load(), 1u);
  EXPECT_EQ(ls.cooperative.load(), 1u);
  EXPECT_EQ(ls.link_up.load(), 0);
  EXPECT_EQ(ls.last_data_time.load(), 0u);
  EXPECT_EQ(ls.config, cfg);
  EXPECT_EQ(ls.hud, hud.block);
  for (size_t off : {HUD_LINK_UP_A, HUD_LINK_UP_B, HUD_HUD_ENABLED, HUD_TELEMETRY_VALID})
    EXPECT_EQ(hud_get_u8(hud.block, off), 0) << off;
  EXPECT_EQ(tmp.read("gpio.log"), "mode 24 1\nwrite 24 0\n");

  // Values outside 0 and 1 leave the modes as they were and say nothing.
  cfg_set(cfg->device_mode, 7);
  cfg_set(cfg->cooperative_mode, 5);
  testing::internal::CaptureStderr();
  data_source_init();
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "Init data source\n");
  EXPECT_EQ(ls.mode.load(), 1u);
  gpio_set_log(nullptr);
}
