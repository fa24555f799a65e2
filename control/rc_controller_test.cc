// RC controller passes over a block of the test's own, checked by the
// packets that reach the link writer.
#include "control/rc_controller.h"

#include <gtest/gtest.h>

#include <chrono>
#include <climits>
#include <cmath>
#include <cstring>
#include <string>
#include <vector>

#include "core/config_record.h"
#include "core/hud_block.h"
#include "testing/inputs_fixture.h"

using namespace inputs_test;
using Packets = std::vector<std::string>;

namespace {

const std::string kShotPress = "30 00 00 00 00 91 00 01 00 A0";
const std::string kShotRelease = "00 00 00 00 00 91 00 00 00 91";
const std::string kRecordStartPress = "0C 00 00 00 00 91 0D 00 00 90";
const std::string kRecordStopPress = "04 00 00 00 00 91 0D 00 00 98";
const std::string kRecordRelease = "00 00 00 00 00 91 0D 00 00 9C";

Packets shoot_packets() {
  Packets p;
  for (uint8_t r : {0x04, 0x04, 0x01, 0x01}) p.push_back(button_packet(r, 0x40, kShotPress));
  for (uint8_t r : {0x04, 0x04, 0x01, 0x01}) p.push_back(button_packet(r, 0x40, kShotRelease));
  return p;
}

Packets record_packets(const std::string& press) {
  Packets p;
  for (int i = 0; i < 4; i++) {
    p.push_back(button_packet(0x01, 0x00, press));
    p.push_back(button_packet(0x04, 0x00, press));
  }
  for (int i = 0; i < 4; i++) {
    p.push_back(button_packet(0x01, 0x00, kRecordRelease));
    p.push_back(button_packet(0x04, 0x00, kRecordRelease));
  }
  return p;
}

Packets capture_mode_packets(int mode) {
  std::string p = std::string("55 0E 04 66 09 01 .. .. 40 02 10 ") + (mode ? "01" : "00");
  return {p, p};
}

Packets join(std::initializer_list<Packets> parts) {
  Packets all;
  for (const Packets& p : parts) all.insert(all.end(), p.begin(), p.end());
  return all;
}

std::string angles_packet(int pan, int tilt, int dutch) {
  return "55 17 04 38 02 04 .. .. 40 04 0A " + le16(pan) + " " + le16(dutch) + " " + le16(tilt) +
         " 64 00 E0 04";
}

std::string attitude_packet() {
  std::string p = "55 33 04 C2 03 04 .. .. 00 03 42 " + f32(1.0f) + " " + f32(0.0f) + " " +
                  f32(0.0f) + " " + f32(-0.0f);
  for (int i = 27; i < 49; i++) p += " 00";
  return p;
}

std::string ev_packet(const char* code) {
  return std::string("55 0E 04 66 02 01 .. .. 40 02 2E ") + code;
}
std::string iso_packet(const char* code) {
  return std::string("55 0E 04 66 02 01 .. .. 40 02 2A ") + code;
}
std::string shutter_packet(const char* code) {
  return std::string("55 11 04 92 02 01 .. .. 40 02 28 01 ") + code;
}
std::string aperture_packet(const char* code) {
  return std::string("55 0F 04 A2 02 01 .. .. 40 02 26 ") + code;
}
std::string program_packet(const char* code) {
  return std::string("55 0F 04 A2 02 01 .. .. 40 02 1E ") + code + " 00";
}
std::string zoom_packet(const char* payload) {
  return std::string("55 11 04 92 02 01 .. .. 40 02 B8 ") + payload;
}
std::string digital_zoom_packet(int z) {
  char b[8];
  snprintf(b, sizeof b, "%02X", z);
  return std::string("55 12 04 C7 02 01 .. .. 40 02 34 09 00 00 ") + b + " 00";
}
std::string manual_focus_packet(int position) {
  return "55 0F 04 A2 02 01 .. .. 40 02 95 " + le16(position);
}
std::string focus_point_packet(float x, float y) {
  return "55 15 04 A9 02 01 .. .. 40 02 30 " + f32(x) + " " + f32(y);
}

class RcTest : public ::testing::Test {
 protected:
  TestSandbox root{"rc"};
  uint8_t hud[kHudSize]{};
  ConfigRecord* cfg = config_record();

  void SetUp() override {
    memset(cfg, 0, sizeof *cfg);
    cfg->rc_input_enabled = 1;
    cfg->rc_input_speed_pan = 100;
    cfg->rc_input_speed_tilt = 100;
    cfg->rc_input_speed_dutch = 100;
    hud_set_block(hud);
    hud_set_u8(hud, HUD_RC_STATE, 6);
    reset_link_state();
    // Most cases leave the periodic attitude out; its own test turns it on.
    attitude_from_rc.store(0);
    rc_controller_reset();
    fake_clock_install(100000);
    link_set_writer(capture_writer);
    take_packets();
  }
  void TearDown() override {
    link_set_writer(nullptr);
    fake_clock_remove();
    hud_set_block(nullptr);
  }
  void fn(int f, double value, double position = 0.0) {
    hud_set_u16(hud, HUD_RC_FUNC_PRESENT + 2 * f, 1);
    hud_set_f64(hud, HUD_RC_FUNC_CENTRED + 8 * f, value);
    hud_set_f64(hud, HUD_RC_FUNC_POSITION + 8 * f, position);
  }
  Packets pass(int n = 1) {
    for (int i = 0; i < n; i++) rc_controller_pass(hud);
    return take_packets();
  }
};

TEST_F(RcTest, StickSpeedsWithSpeedSettingsAndInspireLimits) {
  struct Case {
    const char* name;
    int device_mode;
    int speed_pan, speed_tilt;
    double pan, tilt;
    bool tilt_assigned;
    Packets expected;
  };
  const Case cases[] = {
      {"osmo, half pan, tilt at 50%", 0, 100, 50, 0.5, -1.0, true, {speed_packet(2000, -2000, 0)}},
      {"inspire", 1, 100, 100, 1.0, -0.5, true, {speed_packet(1700, -850, 0)}},
      {"inspire over 100% is held at 1700",
       1,
       200,
       200,
       1.0,
       -1.0,
       true,
       {speed_packet(1700, -1700, 0)}},
      {"osmo over 100% goes out as computed",
       0,
       200,
       100,
       1.0,
       0.25,
       true,
       {speed_packet(8000, 1000, 0)}},
      {"truncated toward zero", 0, 33, 100, 0.001, -0.0001, true, {speed_packet(1, 0, 0)}},
      {"pan without tilt does nothing", 0, 100, 100, 0.5, 0.5, false, {}},
      {"centred sticks send nothing", 0, 100, 100, 0.0, 0.0, true, {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    SetUp();
    cfg->device_mode = static_cast<uint8_t>(c.device_mode);
    link_state().mode.store(static_cast<uint32_t>(c.device_mode));
    cfg->rc_input_speed_pan = c.speed_pan;
    cfg->rc_input_speed_tilt = c.speed_tilt;
    fn(RC_PAN, c.pan);
    if (c.tilt_assigned) fn(RC_TILT, c.tilt);
    EXPECT_EQ(pass(), c.expected);
    // The speed is repeated on every pass while it is non-zero.
    EXPECT_EQ(pass(), c.expected);
    memset(hud, 0, sizeof hud);
  }
}

TEST_F(RcTest, StickSpeedAddsTheViewerShare) {
  link_state().viewer_pan.store(100);
  link_state().viewer_tilt.store(-40);
  fn(RC_PAN, 0.25);
  fn(RC_TILT, 0.0);
  EXPECT_EQ(pass(), Packets{speed_packet(1100, -40, 0)});
  EXPECT_EQ(link_state().rc_pan_share.load(), 1000);
  EXPECT_EQ(link_state().rc_tilt_share.load(), 0);
}

TEST_F(RcTest, AbsoluteAnglesFromPositions) {
  struct Case {
    double pan, tilt, dutch;
    int yaw, pitch, roll;
  };
  const Case cases[] = {
      {0.5, 0.0, 0.0, 0, 500, -600},
      {0.5, 0.5, 0.5, 0, 0, 0},
      {1.0, 1.0, 1.0, 3200, -1200, 600},
      {0.0, 0.75, 0.5, -3200, -600, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.pan * 1000 + c.tilt * 100 + c.dutch);
    SetUp();
    cfg->rc_input_abs = 1;
    cfg->device_mode = 1;
    fn(RC_PAN, 0.3, c.pan);
    fn(RC_TILT, 0.3, c.tilt);
    // Roll speed is not driven in absolute mode even when mapped.
    fn(RC_DUTCH, 0.5, c.dutch);
    EXPECT_EQ(pass(), (Packets{speed_packet(0, 0, 0), angles_packet(c.yaw, c.pitch, c.roll)}));
    EXPECT_EQ(pass(), Packets{angles_packet(c.yaw, c.pitch, c.roll)});
    memset(hud, 0, sizeof hud);
  }
}

TEST_F(RcTest, DutchOnlyInInspireMode) {
  fn(RC_DUTCH, 0.5);
  EXPECT_EQ(pass(), Packets{});
  cfg->device_mode = 1;
  link_state().mode.store(1);
  EXPECT_EQ(pass(), Packets{speed_packet(0, 0, 850)});
}

TEST_F(RcTest, EvStepsAtTheEdges) {
  struct Case {
    double position;
    const char* code;
  };
  const Case cases[] = {{1.0, "19"}, {0.0, "07"},  {0.5, "10"},  {-0.3, "07"},
                        {2.0, "19"}, {0.06, "08"}, {0.99, "19"}, {0.9, "18"}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.position);
    SetUp();
    fn(RC_EV, 0.0, c.position);
    EXPECT_EQ(pass(), Packets{ev_packet(c.code)});
    EXPECT_EQ(pass(), Packets{});
  }
}

TEST_F(RcTest, IsoSwitchStepsOncePerMovement) {
  struct Step {
    double value;
    Packets expected;
  };
  const Step steps[] = {
      {0.0, {iso_packet("00")}},  // the current step goes out once at the start
      {0.5, {iso_packet("03")}},
      {0.5, {}},
      {0.2, {}},
      {0.5, {}},
      {0.05, {}},
      {0.5, {iso_packet("04")}},
      {0.0, {}},
      {-0.5, {iso_packet("03")}},
      {0.0, {}},
      {-0.5, {iso_packet("00")}},
      {0.0, {}},
      {-0.5, {}},  // held at ISO auto
  };
  for (size_t i = 0; i < sizeof steps / sizeof steps[0]; i++) {
    SCOPED_TRACE(i);
    fn(RC_ISO, steps[i].value);
    EXPECT_EQ(pass(), steps[i].expected);
  }
  Packets up;
  for (int i = 0; i < 8; i++) {
    fn(RC_ISO, 0.0);
    pass();
    fn(RC_ISO, 1.0);
    Packets p = pass();
    up.insert(up.end(), p.begin(), p.end());
  }
  EXPECT_EQ(up, (Packets{iso_packet("03"), iso_packet("04"), iso_packet("05"), iso_packet("06"),
                         iso_packet("07"), iso_packet("08"), iso_packet("09")}));
}

TEST_F(RcTest, ShutterSwitchKeepsVideoExposuresShort) {
  hud_set_u8(hud, HUD_CAMERA_MODE, 1);
  struct Step {
    double value;
    Packets expected;
  };
  const Step video[] = {
      {0.0, {shutter_packet("14 80 00")}},  // step 0 is held at 30, "20"
      {-0.5, {}},
      {0.0, {}},
      {0.5, {shutter_packet("19 80 00")}},
      {0.0, {}},
      {-0.5, {shutter_packet("14 80 00")}},
      {0.0, {}},
      {-0.5, {}},
  };
  for (const Step& s : video) {
    fn(RC_SHUTTER, s.value);
    EXPECT_EQ(pass(), s.expected);
  }
  hud_set_u8(hud, HUD_CAMERA_MODE, 0);
  fn(RC_SHUTTER, 0.0);
  EXPECT_EQ(pass(), Packets{});
  fn(RC_SHUTTER, -0.5);
  EXPECT_EQ(pass(), Packets{shutter_packet("0F 80 00")});
  // The camera reports 1/200: stepping goes on from there.
  rc_shutter_index.store(40);
  fn(RC_SHUTTER, 0.0);
  EXPECT_EQ(pass(), Packets{});
  fn(RC_SHUTTER, 0.5);
  EXPECT_EQ(pass(), Packets{shutter_packet("F0 80 00")});
  EXPECT_EQ(rc_shutter_index.load(), 41);
  rc_shutter_index.store(56);
  fn(RC_SHUTTER, 0.0);
  pass();
  fn(RC_SHUTTER, 0.5);
  EXPECT_EQ(pass(), Packets{});
  rc_shutter_index.store(INT32_MAX);  // not an index: not followed
  fn(RC_SHUTTER, 0.0);
  EXPECT_EQ(pass(), Packets{});
  fn(RC_SHUTTER, -0.5);
  EXPECT_EQ(pass(), Packets{shutter_packet("00 99 00")});
}

TEST_F(RcTest, ApertureAndProgramSwitches) {
  fn(RC_APERTURE, 0.0);
  fn(RC_VIDEOMODE, 0.0);
  EXPECT_EQ(pass(), (Packets{aperture_packet("AA 00"), program_packet("01")}));
  fn(RC_APERTURE, 0.5);
  fn(RC_VIDEOMODE, 0.5);
  EXPECT_EQ(pass(), (Packets{aperture_packet("B4 00"), program_packet("04")}));
  rc_aperture_index.store(20);  // the camera reports f/16
  fn(RC_APERTURE, 0.0);
  fn(RC_VIDEOMODE, 0.0);
  EXPECT_EQ(pass(), Packets{});
  fn(RC_APERTURE, 0.5);
  fn(RC_VIDEOMODE, 0.5);
  EXPECT_EQ(pass(), Packets{program_packet("02")});
  fn(RC_APERTURE, 0.0);
  fn(RC_VIDEOMODE, 0.0);
  pass();
  fn(RC_APERTURE, -0.5);
  fn(RC_VIDEOMODE, 0.5);
  EXPECT_EQ(pass(), (Packets{aperture_packet("78 05"), program_packet("03")}));
  fn(RC_VIDEOMODE, 0.0);
  pass();
  fn(RC_VIDEOMODE, 0.5);
  EXPECT_EQ(pass(), Packets{});
}

TEST_F(RcTest, RecordSwitchLatch) {
  fn(RC_RECORD, 1.0);  // photo mode: a shot
  EXPECT_EQ(pass(), shoot_packets());
  EXPECT_EQ(pass(), Packets{});
  fn(RC_RECORD, 0.5);  // back: nothing to stop in photo mode
  EXPECT_EQ(pass(), Packets{});
  hud_set_u8(hud, HUD_CAMERA_MODE, 1);
  fn(RC_RECORD, 0.9);
  EXPECT_EQ(pass(), record_packets(kRecordStartPress));
  EXPECT_EQ(pass(), Packets{});
  fn(RC_RECORD, 0.0);
  EXPECT_EQ(pass(), record_packets(kRecordStopPress));
  EXPECT_EQ(pass(), Packets{});
}

TEST_F(RcTest, RecordShotSwitchChangesModeFirst) {
  hud_set_u8(hud, HUD_CAMERA_MODE, 1);
  fn(RC_RECORD_SHOT, 1.0);
  EXPECT_EQ(pass(), record_packets(kRecordStartPress));
  fn(RC_RECORD_SHOT, -1.0);  // latch still set
  EXPECT_EQ(pass(), Packets{});
  fn(RC_RECORD_SHOT, 0.0);
  EXPECT_EQ(pass(), record_packets(kRecordStopPress));

  fake_clock_reset_slept();
  fn(RC_RECORD_SHOT, -1.0);  // photo wanted, camera in video mode
  EXPECT_EQ(pass(), join({capture_mode_packets(0), capture_mode_packets(0), shoot_packets()}));
  EXPECT_GE(fake_clock_slept_us(), 500000u);
  hud_set_u8(hud, HUD_CAMERA_MODE, 0);  // the camera reports photo mode
  fn(RC_RECORD_SHOT, 0.0);
  EXPECT_EQ(pass(), Packets{});

  fake_clock_reset_slept();
  fn(RC_RECORD_SHOT, 0.7);
  EXPECT_EQ(pass(), join({capture_mode_packets(1), capture_mode_packets(1),
                          record_packets(kRecordStartPress)}));
  EXPECT_GE(fake_clock_slept_us(), 200000u + 50000u);
  EXPECT_NE(root.read("commands.log").find("killall -q display"), std::string::npos);
}

TEST_F(RcTest, RecordSwitchesShareOneLatch) {
  hud_set_u8(hud, HUD_CAMERA_MODE, 1);
  fn(RC_RECORD, 1.0);
  fn(RC_RECORD_SHOT, 1.0);
  EXPECT_EQ(pass(), record_packets(kRecordStartPress));
  EXPECT_EQ(pass(), Packets{});
}

TEST_F(RcTest, DigitalZoomThresholdAndSpeed) {
  fn(RC_DIGITAL_ZOOM, 0.0, 0.5);
  EXPECT_EQ(pass(), Packets{digital_zoom_packet(150)});
  fn(RC_DIGITAL_ZOOM, 0.0, 0.515625);  // 51: one percent is not enough
  EXPECT_EQ(pass(), Packets{});
  fn(RC_DIGITAL_ZOOM, 0.0, 0.53125);  // 53
  EXPECT_EQ(pass(), Packets{digital_zoom_packet(153)});
  fn(RC_DIGITAL_ZOOM, 0.0, 0.0);
  EXPECT_EQ(pass(), Packets{digital_zoom_packet(100)});

  SetUp();
  fn(RC_DIGITAL_ZOOM2, 0.5);  // speed 2 per pass
  EXPECT_EQ(pass(), Packets{digital_zoom_packet(102)});
  EXPECT_EQ(pass(), Packets{digital_zoom_packet(104)});
  fn(RC_DIGITAL_ZOOM2, 0.0);
  EXPECT_EQ(pass(), Packets{});
}

TEST_F(RcTest, OpticalZoomIsRepeatedWhileMoving) {
  fn(RC_ZOOM, 0.5);  // 2
  EXPECT_EQ(pass(), (Packets{zoom_packet("01 48 01 00"), zoom_packet("01 48 01 00")}));
  EXPECT_EQ(pass(), Packets{zoom_packet("01 48 01 00")});
  fn(RC_ZOOM, -1.0);
  EXPECT_EQ(pass(), (Packets{zoom_packet("01 48 00 00"), zoom_packet("01 48 00 00")}));
  fn(RC_ZOOM, 0.1);  // 0: stop
  EXPECT_EQ(pass(), (Packets{zoom_packet("00 48 00 00"), zoom_packet("FF 48 00 00")}));
  EXPECT_EQ(pass(), Packets{});
}

TEST_F(RcTest, FocusKnobIsSmoothed) {
  link_state().focus_range.store(1000);
  fn(RC_FOCUS, 0.0, 1.0);
  EXPECT_EQ(pass(), Packets{manual_focus_packet(100)});  // 10 %
  EXPECT_EQ(pass(), Packets{manual_focus_packet(190)});  // 19 %
  // Autofocus: the knob is followed but nothing is sent.
  hud_set_u8(hud, HUD_FOCUS_MF_AVAILABLE, 1);
  EXPECT_EQ(pass(), Packets{});
}

TEST_F(RcTest, FocusPointGoesOutOnce200msAfterItStops) {
  hud_set_u8(hud, HUD_FOCUS_MF_AVAILABLE, 1);
  hud_set_f64(hud, HUD_FOCUS_POINT_X, 0.98);
  hud_set_f64(hud, HUD_FOCUS_POINT_Y, 0.25);
  fn(RC_FOCUS_PAN, 1.0);
  fn(RC_FOCUS_TILT, 0.0);
  fake_clock_set(1000);
  EXPECT_EQ(pass(), Packets{});
  EXPECT_EQ(hud_get_f64(hud, HUD_FOCUS_POINT_X), 1.0);  // held at the edge
  fake_clock_set(1100);
  EXPECT_EQ(pass(), Packets{});
  fake_clock_set(1200);
  EXPECT_EQ(pass(), Packets{});
  fake_clock_set(1201);
  EXPECT_EQ(pass(), Packets{focus_point_packet(1.0f, 0.75f)});  // y goes out inverted
  fake_clock_set(1500);
  EXPECT_EQ(pass(), Packets{});
  // A move that settles while the camera is in manual focus is dropped.
  hud_set_u8(hud, HUD_FOCUS_MF_AVAILABLE, 0);
  fn(RC_FOCUS_PAN, -1.0);
  EXPECT_EQ(pass(), Packets{});
  fake_clock_set(2000);
  fn(RC_FOCUS_PAN, 0.0);
  EXPECT_EQ(pass(), Packets{});
  hud_set_u8(hud, HUD_FOCUS_MF_AVAILABLE, 1);
  fake_clock_set(3000);
  EXPECT_EQ(pass(), Packets{});
}

TEST_F(RcTest, FocusAssistantFollowsGimbalMoves) {
  hud_set_u8(hud, HUD_FOCUS_MF_AVAILABLE, 1);
  hud_set_f64(hud, HUD_CAM_FOCUS_X, 0.5);
  hud_set_f64(hud, HUD_CAM_FOCUS_Y, 0.25);
  fn(RC_FOCUS_ASSISTANT, 1.0);
  fake_clock_set(5000);
  link_state().last_gimbal_command_time.store(4900);
  EXPECT_EQ(pass(), Packets{});
  EXPECT_EQ(cfg->focus_assistant_enabled, 1);
  EXPECT_EQ(hud_get_u8(hud, HUD_FOCUS_ASSISTANT), 1);
  fake_clock_set(5101);
  EXPECT_EQ(pass(), Packets{focus_point_packet(0.5f, 0.25f)});
  EXPECT_EQ(link_state().last_gimbal_command_time.load(), 0u);
  EXPECT_EQ(pass(), Packets{});
  fn(RC_FOCUS_ASSISTANT, 0.3);
  link_state().last_gimbal_command_time.store(4900);
  EXPECT_EQ(pass(), Packets{});
  EXPECT_EQ(cfg->focus_assistant_enabled, 0);
}

TEST_F(RcTest, MenuStopsPanAndTiltOnce) {
  cfg->device_mode = 1;
  link_state().mode.store(1);
  fn(RC_PAN, 0.5);
  fn(RC_TILT, 0.5);
  fn(RC_DUTCH, 0.5);
  EXPECT_EQ(pass(), Packets{speed_packet(850, 850, 850)});
  hud_set_u8(hud, HUD_RC_MENU, 1);
  // Only the roll speed is left running.
  EXPECT_EQ(pass(), Packets{speed_packet(0, 0, 850)});
  EXPECT_EQ(link_state().pan_target.load(), 0);
  EXPECT_EQ(link_state().tilt_target.load(), 0);
}

TEST_F(RcTest, SpeedsStayWhenRcStateLeavesSix) {
  fn(RC_PAN, 0.5);
  fn(RC_TILT, 0.0);
  EXPECT_EQ(pass(), Packets{speed_packet(2000, 0, 0)});
  hud_set_u8(hud, HUD_RC_STATE, 5);
  fn(RC_PAN, 0.0);
  EXPECT_EQ(pass(), Packets{speed_packet(2000, 0, 0)});
  cfg->rc_input_enabled = 0;
  hud_set_u8(hud, HUD_RC_STATE, 6);
  EXPECT_EQ(pass(), Packets{speed_packet(2000, 0, 0)});
}

TEST_F(RcTest, AttitudeEveryHundredthPass) {
  cfg->rc_input_enabled = 0;
  link_state().mode.store(1);
  attitude_from_rc.store(1);
  EXPECT_EQ(pass(), Packets{attitude_packet()});
  EXPECT_EQ(pass(99), Packets{});
  EXPECT_EQ(pass(), Packets{attitude_packet()});
  link_state().cooperative.store(1);
  EXPECT_EQ(pass(100), Packets{});
  link_state().cooperative.store(0);
  attitude_from_rc.store(0);  // a viewer sent its own attitude
  EXPECT_EQ(pass(100), Packets{});
  attitude_from_rc.store(1);
  link_state().mode.store(0);
  EXPECT_EQ(pass(100), Packets{});
}

TEST_F(RcTest, CenterPushIsEdgeTriggered) {
  Packets selfie = {gimbal_button(0x04, 0x10), gimbal_button(0x01, 0x10), gimbal_button(0x04, 0x10),
                    gimbal_button(0x01, 0x10), gimbal_button(0x04, 0x00), gimbal_button(0x01, 0x00),
                    gimbal_button(0x04, 0x00), gimbal_button(0x01, 0x00)};
  Packets normal = {gimbal_button(0x04, 0x01), gimbal_button(0x01, 0x01), gimbal_button(0x04, 0x01),
                    gimbal_button(0x01, 0x01), gimbal_button(0x04, 0x00), gimbal_button(0x01, 0x00),
                    gimbal_button(0x04, 0x00), gimbal_button(0x01, 0x00)};
  fn(RC_CENTER, 1.0);
  EXPECT_EQ(pass(), join({{speed_packet(0, 0, 0)}, selfie, normal}));
  EXPECT_EQ(pass(), Packets{});
  fn(RC_CENTER, 0.3);
  EXPECT_EQ(pass(), Packets{});
  fn(RC_CENTER, 0.31);
  EXPECT_EQ(pass(), join({selfie, normal}));
}

TEST_F(RcTest, OrientationLockSwitch) {
  fn(RC_ORIENT_LOCK, 1.0);
  Packets expected = {speed_packet(0, 0, 0)};
  for (int i = 0; i < 3; i++) expected.push_back(gimbal_button(0x04, 0x02));
  for (int i = 0; i < 3; i++) expected.push_back(gimbal_button(0x01, 0x00));
  EXPECT_EQ(pass(), expected);
  EXPECT_EQ(link_state().wanted_orientation_lock.load(), 1);
  EXPECT_EQ(pass(), Packets{});
  fn(RC_ORIENT_LOCK, 0.0);
  // The lock button acts on every tenth press only: the second sends nothing.
  EXPECT_EQ(pass(), Packets{});
  EXPECT_EQ(link_state().wanted_orientation_lock.load(), 0);
}

TEST_F(RcTest, DisplaySwitches) {
  fn(RC_OSD, 0.0);
  fn(RC_INTCAMERA, 1.0);
  pass();
  EXPECT_EQ(hud_get_u8(hud, HUD_OSD_ENABLED), 1);
  EXPECT_EQ(hud_get_u8(hud, HUD_INTCAM_FULLSCREEN), 1);
  EXPECT_EQ(cfg->internal_camera_fullscreen, 1);
  auto killalls = [&] {
    std::string log = root.read("commands.log");
    size_t n = 0;
    for (size_t at = log.find("killall -q raspivid"); at != std::string::npos;
         at = log.find("killall -q raspivid", at + 1)) {
      n++;
    }
    return n;
  };
  EXPECT_EQ(killalls(), 1u);
  pass();
  EXPECT_EQ(killalls(), 1u);
  fn(RC_OSD, 0.3);
  fn(RC_INTCAMERA, 0.3);
  pass();
  EXPECT_EQ(hud_get_u8(hud, HUD_OSD_ENABLED), 0);
  EXPECT_EQ(hud_get_u8(hud, HUD_INTCAM_FULLSCREEN), 0);
  EXPECT_EQ(cfg->internal_camera_fullscreen, 0);
  EXPECT_EQ(killalls(), 2u);
}

TEST_F(RcTest, GarbageValuesAreSkipped) {
  link_state().focus_range.store(1000);
  fn(RC_FOCUS, 0.0, std::nan(""));
  fn(RC_PAN, 1e300);
  fn(RC_TILT, 0.0);
  fn(RC_EV, 0.0, -1e308);
  EXPECT_EQ(pass(), Packets{});
  fn(RC_FOCUS, 0.0, 1.0);  // the filter was not poisoned
  EXPECT_EQ(pass(), Packets{manual_focus_packet(100)});
}

TEST_F(RcTest, NothingWhileTheLinkIsDown) {
  link_state().link_up.store(0);
  fn(RC_PAN, 0.5);
  fn(RC_TILT, 0.5);
  fn(RC_EV, 0.0, 1.0);
  EXPECT_EQ(pass(), Packets{});
}

// The loop waits 100 ms instead of 20 when a pass has nothing to do; each
// state says whether it has work, and a state without work sends nothing
// (that is what makes the longer wait safe).
TEST_F(RcTest, IdlePassesSendNothingAndMovementIsWork) {
  struct Row {
    const char* what;
    void (*set)(ConfigRecord*, uint8_t*);
    bool work;
  } rows[] = {
      {"RC input off", [](ConfigRecord* c, uint8_t*) { c->rc_input_enabled = 0; }, false},
      {"RC not connected", [](ConfigRecord*, uint8_t* h) { hud_set_u8(h, HUD_RC_STATE, 5); },
       false},
      {"sticks read", [](ConfigRecord*, uint8_t*) {}, true},
      {"periodic attitude",
       [](ConfigRecord* c, uint8_t*) {
         c->rc_input_enabled = 0;
         link_state().mode.store(1);
         attitude_from_rc.store(1);
       },
       true},
      {"cooperative: no attitude",
       [](ConfigRecord* c, uint8_t*) {
         c->rc_input_enabled = 0;
         link_state().mode.store(1);
         link_state().cooperative.store(1);
         attitude_from_rc.store(1);
       },
       false},
      {"panning",
       [](ConfigRecord* c, uint8_t*) {
         c->rc_input_enabled = 0;
         link_state().pan_target.store(300);
       },
       true},
      {"stopped gimbal",
       [](ConfigRecord* c, uint8_t*) {
         c->rc_input_enabled = 0;
         link_state().pan_target.store(300);
         link_state().gimbal_stopped.store(1);
       },
       false},
      {"zooming",
       [](ConfigRecord* c, uint8_t*) {
         c->rc_input_enabled = 0;
         link_state().zoom_speed.store(-2);
       },
       true},
      {"focus assistant after a move",
       [](ConfigRecord* c, uint8_t*) {
         c->rc_input_enabled = 0;
         c->focus_assistant_enabled = 1;
         link_state().last_gimbal_command_time.store(99000);
       },
       true},
      {"focus assistant, no move",
       [](ConfigRecord* c, uint8_t*) {
         c->rc_input_enabled = 0;
         c->focus_assistant_enabled = 1;
       },
       false},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.what);
    SetUp();
    r.set(cfg, hud);
    EXPECT_EQ(rc_controller_has_work(hud), r.work);
    if (!r.work) {
      EXPECT_EQ(pass(3), Packets{});
    }
    TearDown();
  }
  // A wake before the wait ends it at once; the next wait is a full one.
  rc_controller_wake();
  auto start = std::chrono::steady_clock::now();
  rc_controller_wait(60000);
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(30));
}

}  // namespace
