// I2C panel packets fed to the handler, checked by the packets sent and the
// gimbal speed targets they leave (sent by the RC loop's repeat).
#include "control/i2c_input.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstring>
#include <string>
#include <vector>

#include "core/config_record.h"
#include "core/hud_block.h"
#include "testing/inputs_fixture.h"
#include "control/rc_controller.h"
#include "periph/shield.h"
#include "platform/ports.h"
#include "platform/wiringpi.h"

using namespace inputs_test;
using Packets = std::vector<std::string>;
using Bytes = std::vector<uint8_t>;

namespace {

Bytes panel_packet(int a0, int a1, int a2, uint8_t e0, uint8_t e1, uint8_t buttons) {
  Bytes b = {static_cast<uint8_t>(a0 & 0xFF),
             static_cast<uint8_t>(a0 >> 8),
             static_cast<uint8_t>(a1 & 0xFF),
             static_cast<uint8_t>(a1 >> 8),
             static_cast<uint8_t>(a2 & 0xFF),
             static_cast<uint8_t>(a2 >> 8),
             e0,
             e1,
             buttons,
             0};
  for (int i = 0; i < 9; i++) b[9] ^= b[i];
  return b;
}

Bytes centred(uint8_t e0 = 0, uint8_t e1 = 0, uint8_t buttons = 0) {
  return panel_packet(512, 512, 512, e0, e1, buttons);
}

std::string manual_focus_packet(int position) {
  return "55 0F 04 A2 02 01 .. .. 40 02 95 " + le16(position);
}
std::string ev_packet(int code) {
  char b[4];
  snprintf(b, sizeof b, "%02X", code);
  return std::string("55 0E 04 66 02 01 .. .. 40 02 2E ") + b;
}
std::string zoom_packet(const char* payload) {
  return std::string("55 11 04 92 02 01 .. .. 40 02 B8 ") + payload;
}

class I2cTest : public ::testing::Test {
 protected:
  TestSandbox root{"i2c"};
  uint8_t hud[kHudSize]{};
  ConfigRecord* cfg = config_record();

  void SetUp() override {
    memset(cfg, 0, sizeof *cfg);
    cfg->i2c_input_enabled = 1;
    cfg->i2c_input_speed_pan = 100;
    cfg->i2c_input_speed_tilt = 100;
    cfg->i2c_input_speed_dutch = 100;
    memset(hud, 0, sizeof hud);
    hud_set_block(hud);
    reset_link_state();
    attitude_from_rc.store(0);
    rc_controller_reset();
    i2c_input_reset();
    shield_reset();
    fake_clock_install(100000);
    link_set_writer(capture_writer);
    take_packets();
    // The shield buttons drive the servo: record it instead.
    gpio_set_log((root.dir + "/gpio.log").c_str());
  }
  void TearDown() override {
    gpio_set_log(nullptr);
    i2c_input_reset();
    shield_reset();
    link_set_writer(nullptr);
    fake_clock_remove();
    hud_set_block(nullptr);
  }
  Packets feed(int panel, const Bytes& b) {
    EXPECT_EQ(i2c_take_packet(panel, b.data(), b.size()), 0);
    return take_packets();
  }
  // What the RC loop's repeat sends for the speeds the panel left behind.
  Packets repeated_speed() {
    rc_controller_pass(nullptr);
    return take_packets();
  }
};

TEST_F(I2cTest, BadPacketsAreDroppedWhole) {
  Bytes good = centred(0, 0, 1 << 5);
  Bytes bad = good;
  bad[9] ^= 0x01;
  EXPECT_EQ(i2c_take_packet(0, bad.data(), bad.size()), 2);
  EXPECT_EQ(take_packets(), Packets{});
  Bytes short_packet = {0x00, 0x02, 0x00, 0x02, 0x00, 0x02, 0x00, 0x20, 0x20};  // XOR ok, 9 bytes
  EXPECT_EQ(i2c_take_packet(0, short_packet.data(), short_packet.size()), 2);
  EXPECT_EQ(i2c_take_packet(0, good.data(), 0), 1);
  EXPECT_EQ(take_packets(), Packets{});
  // The button was never seen: the good packet presses it now.
  EXPECT_EQ(feed(0, good), Packets{zoom_packet("01 48 01 00")});
}

TEST_F(I2cTest, JoystickNeedsAxisZeroAndPanelOne) {
  feed(1, panel_packet(0, 1023, 0, 0, 0, 0));
  EXPECT_EQ(link_state().pan_target.load(), 0);
  EXPECT_EQ(link_state().tilt_target.load(), 0);
  feed(0, panel_packet(512, 1023, 0, 0, 0, 0));
  EXPECT_EQ(link_state().pan_target.load(), 0);
  EXPECT_EQ(repeated_speed(), Packets{});
}

TEST_F(I2cTest, SpeedFormulaAtTheEdges) {
  struct Case {
    int raw;
    int speed;
  };
  const Case cases[] = {{512, 0},   {514, 0}, {510, 0},     {515, 0},   {516, 15},
                        {508, -15}, {509, 0}, {1023, 7937}, {0, -7953}, {640, 1953}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.raw);
    SetUp();
    feed(1, panel_packet(512, c.raw, 512, 0, 0, 0));
    EXPECT_EQ(link_state().pan_target.load(), c.speed);
    EXPECT_EQ(repeated_speed(), c.speed ? Packets{speed_packet(c.speed, 0, 0)} : Packets{});
  }
  SetUp();
  cfg->i2c_input_speed_pan = 50;
  cfg->i2c_input_speed_tilt = 25;
  cfg->i2c_input_speed_dutch = 10;
  feed(1, panel_packet(1023, 1023, 0, 0, 0, 0));
  EXPECT_EQ(repeated_speed(), Packets{speed_packet(3968, -1988, 793)});
  // Back to centre: the stop goes out at once.
  EXPECT_EQ(feed(1, centred()), Packets{speed_packet(0, 0, 0)});
}

TEST_F(I2cTest, FocusEncoderWrapsAndIsLimited) {
  link_state().focus_range.store(1000);
  hud_set_u8(hud, HUD_FOCUS_POSITION, 40);
  EXPECT_EQ(feed(0, centred(250)), Packets{});  // the first packet only learns the count
  EXPECT_EQ(feed(0, centred(4)), Packets{manual_focus_packet(700)});  // +10: 40 -> 70 %
  EXPECT_EQ(feed(0, centred(3)), Packets{manual_focus_packet(670)});
  EXPECT_EQ(feed(0, centred(3)), Packets{});
  EXPECT_EQ(feed(0, centred(130)), Packets{manual_focus_packet(1000)});  // +127, held at 100
  EXPECT_EQ(feed(0, centred(2)), Packets{manual_focus_packet(0)});       // -128, held at 0
  // The focus level is shared: panel 1 goes on from 0, not from the camera.
  EXPECT_EQ(feed(1, centred(77)), Packets{});
  EXPECT_EQ(feed(1, centred(78)), Packets{manual_focus_packet(30)});
}

TEST_F(I2cTest, EvEncoderStepsFromTheCameraValue) {
  struct Case {
    int camera_tenths;
    int delta;
    int code;
  };
  const Case cases[] = {{0, 1, 0x11},  {30, 1, 0x19},  {-30, -1, 0x07}, {5, 1, 0x07},
                        {-7, 2, 0x10}, {27, -3, 0x15}, {0, 100, 0x19},  {0, -1, 0x0F}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.camera_tenths * 1000 + c.delta);
    SetUp();
    hud_set_u8(hud, HUD_EV_TENTHS, static_cast<uint8_t>(static_cast<int8_t>(c.camera_tenths)));
    feed(0, centred(0, 100));
    EXPECT_EQ(feed(0, centred(0, static_cast<uint8_t>(100 + c.delta))), Packets{ev_packet(c.code)});
  }
}

TEST_F(I2cTest, ButtonsActOnPressOnly) {
  EXPECT_EQ(feed(0, centred(0, 0, 1 << 3)), Packets{zoom_packet("01 48 00 00")});
  EXPECT_EQ(feed(0, centred(0, 0, 1 << 3)), Packets{});
  EXPECT_EQ(feed(0, centred(0, 0, 0)), Packets{});
  EXPECT_EQ(feed(1, centred(0, 0, 1 << 5)), Packets{zoom_packet("01 48 01 00")});
  EXPECT_EQ(feed(1, centred(0, 0, 0xC0)), Packets{});  // 6 and 7 only print

  // Button 4: selfie preset, 100 ms, normal preset, then the wanted lock.
  hud_set_u8(hud, HUD_GIMBAL_STATE, 0);
  fake_clock_reset_slept();
  Packets p = feed(0, centred(0, 0, 1 << 4));
  ASSERT_EQ(p.size(), 17u);
  EXPECT_EQ(p[0], speed_packet(0, 0, 0));
  EXPECT_EQ(p[1], gimbal_button(0x04, 0x10));
  EXPECT_EQ(p[9], gimbal_button(0x04, 0x01));
  EXPECT_GE(fake_clock_slept_us(), 100000u);
  EXPECT_EQ(link_state().wanted_orientation_lock.load(), 1);
  hud_set_u8(hud, HUD_GIMBAL_STATE, 1);
  feed(0, centred());
  feed(0, centred(0, 0, 1 << 4));
  EXPECT_EQ(link_state().wanted_orientation_lock.load(), 0);
}

TEST_F(I2cTest, ShieldShootAndRecordButtons) {
  cfg->shield_enabled = 1;
  cfg->shield_open = 1800;
  cfg->shield_close = 1100;
  shield_init();
  EXPECT_EQ(shield_state(), 0);
  feed(0, centred(0, 0, 1 << 0));
  EXPECT_EQ(shield_state(), 1);
  feed(0, centred());
  feed(0, centred(0, 0, 1 << 0));
  EXPECT_EQ(shield_state(), 0);
  feed(0, centred());

  // Button 1: open, wait a second, shoot.
  fake_clock_reset_slept();
  Packets shot = feed(0, centred(0, 0, 1 << 1));
  EXPECT_EQ(shield_state(), 1);
  EXPECT_GE(fake_clock_slept_us(), 1000000u);
  ASSERT_EQ(shot.size(), 8u);
  EXPECT_EQ(shot[0], button_packet(0x04, 0x40, "30 00 00 00 00 91 00 01 00 A0"));
  feed(0, centred());

  // Button 2 while recording: stop, no wait.
  hud_set_u8(hud, HUD_CAMERA_MODE, 1);
  hud_set_u8(hud, HUD_CAMERA_STATUS, 0x40);
  fake_clock_reset_slept();
  Packets stop = feed(0, centred(0, 0, 1 << 2));
  ASSERT_EQ(stop.size(), 16u);
  EXPECT_EQ(stop[0], button_packet(0x01, 0x00, "04 00 00 00 00 91 0D 00 00 98"));
  EXPECT_LT(fake_clock_slept_us(), 1000000u);
  feed(0, centred());
  // Not recording: open, wait, start.
  hud_set_u8(hud, HUD_CAMERA_STATUS, 0);
  shield_move_closed();
  fake_clock_reset_slept();
  Packets start = feed(0, centred(0, 0, 1 << 2));
  ASSERT_EQ(start.size(), 16u);
  EXPECT_EQ(start[0], button_packet(0x01, 0x00, "0C 00 00 00 00 91 0D 00 00 90"));
  EXPECT_GE(fake_clock_slept_us(), 1000000u);
  EXPECT_EQ(shield_state(), 1);
}

TEST_F(I2cTest, SimulatedBusKeepsTheNewestReportPerPanel) {
  i2c_set_spec("udp:0");
  i2c_input_open();
  int port = i2c_udp_port();
  ASSERT_GT(port, 0);
  auto send_report = [&](uint8_t address, const Bytes& report) {
    Bytes d = {address};
    d.insert(d.end(), report.begin(), report.end());
    net_udp_send(-1, static_cast<uint16_t>(port), d.data(), d.size());
  };
  send_report(0x41, centred(0, 0, 1 << 5));  // superseded before the read
  send_report(0x41, centred(0, 0, 1 << 3));
  send_report(0x42, centred(0, 0, 1 << 5));  // no such panel
  send_report(0x40, {});                     // nothing to read
  usleep(20000);                             // loopback delivery
  i2c_poll_once();
  EXPECT_EQ(take_packets(), Packets{zoom_packet("01 48 00 00")});
  i2c_poll_once();  // nothing new since the last read
  EXPECT_EQ(take_packets(), Packets{});
  send_report(0x40, centred(0, 0, 1 << 5));
  usleep(20000);
  i2c_poll_once();
  EXPECT_EQ(take_packets(), Packets{zoom_packet("01 48 01 00")});
  i2c_set_spec(nullptr);
}

TEST_F(I2cTest, MissingDeviceDoesNothing) {
  std::string path = root.dir + "/no-such-i2c";
  i2c_set_spec(path.c_str());
  i2c_input_open();
  i2c_poll_once();
  EXPECT_EQ(take_packets(), Packets{});
  i2c_set_spec(nullptr);
}

}  // namespace
