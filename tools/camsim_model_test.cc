// The simulated camera side: its reactions to the daemon's packets, and its
// status records read back by the daemon's own handler.
#include "tools/camsim_model.h"

#include <gtest/gtest.h>

#include "core/hud_block.h"
#include "link/link_handler.h"
#include "link/link_packet.h"
#include "link/link_state.h"
#include "tools/packet_build.h"
#include "viewer/viewer_send.h"

namespace {

using Bytes = std::vector<uint8_t>;

Bytes daemon_packet(size_t length, uint8_t receiver, uint8_t type, uint8_t set, uint8_t id,
                    Bytes payload) {
  payload.resize(length - kLinkOverhead, 0);
  Bytes p(length);
  link_packet_build(p.data(), p.size(), {0x02, receiver, 7, type, set, id}, payload.data(),
                    payload.size());
  return p;
}

std::string react(CamsimModel* m, const Bytes& p) { return camsim_apply(m, p.data(), p.size()); }

Bytes button(uint8_t receiver, uint8_t b11, uint8_t b15, uint8_t b19 = 0) {
  Bytes state = {b11, 0, 0, 0, b15, 0x91, 0, 0, b19};
  uint8_t x = 0;
  for (uint8_t b : state) x ^= b;
  state.push_back(x);
  return daemon_packet(23, receiver, 0x40, 0x01, 0x01, state);
}

TEST(CamsimModel, RecordAndModeShowInTelemetry) {
  CamsimModel m;
  EXPECT_EQ(react(&m, button(0x01, 0x0C, 0)), "record start");
  EXPECT_EQ(react(&m, button(0x01, 0, 0)), "button release");
  EXPECT_EQ(m.cam.status >> 6, 2);
  Bytes t = camera_telemetry(&m.cam);
  EXPECT_EQ(t[11] >> 6, 2);
  EXPECT_EQ(t[15], 1);
  EXPECT_TRUE(link_packet_intact(t.data(), t.size()));
  for (int i = 0; i < 20; i++) camsim_tick(&m);
  EXPECT_EQ(m.cam.record_seconds, 2u);
  EXPECT_EQ(react(&m, button(0x04, 0x04, 0)), "record stop");
  EXPECT_EQ(m.cam.status >> 6, 0);
  EXPECT_EQ(react(&m, daemon_packet(14, 0x01, 0x40, 0x02, 0x10, {0})), "mode photo");
  EXPECT_EQ(camera_telemetry(&m.cam)[15], 0);
  uint32_t shots = m.cam.shots_left;
  EXPECT_EQ(react(&m, button(0x01, 0x30, 0)), "shot 30");
  EXPECT_EQ(m.cam.shots_left, shots - 1);
}

TEST(CamsimModel, GimbalMovesAndLocks) {
  CamsimModel m;
  // Speed 100 = 10 degrees a second: one second of ticks.
  Bytes speed = daemon_packet(20, 0x04, 0x40, 0x04, 0x0C, {100, 0, 0, 0, 0x9C, 0xFF, 0x90});
  EXPECT_NE(react(&m, speed), "");
  for (int i = 0; i < 10; i++) camsim_tick(&m);
  EXPECT_NEAR(m.cam.pan, 10.0, 1e-9);
  EXPECT_NEAR(m.cam.tilt, -10.0, 1e-9);
  Bytes angles = daemon_packet(23, 0x04, 0x40, 0x04, 0x0A, {0x84, 0x03, 0, 0, 0xD4, 0xFE});
  react(&m, angles);  // pan 90.0, tilt -30.0
  EXPECT_DOUBLE_EQ(m.cam.pan, 90.0);
  EXPECT_DOUBLE_EQ(m.cam.tilt, -30.0);
  camsim_tick(&m);
  EXPECT_DOUBLE_EQ(m.cam.pan, 90.0);  // an angle command stops the motion
  EXPECT_EQ(react(&m, button(0x04, 0, 0x0A)), "gimbal unlock");
  EXPECT_EQ(camera_attitude(&m.cam)[17], 1);
  EXPECT_EQ(react(&m, button(0x04, 0, 0x02)), "gimbal lock");
  EXPECT_EQ(camera_attitude(&m.cam)[17], 0);
}

TEST(CamsimModel, RememberedAndUnknown) {
  CamsimModel m;
  react(&m, daemon_packet(20, 0x01, 0x40, 0x02, 0x54, {0xE7, 0x07, 12, 24, 13, 5, 9}));
  react(&m, daemon_packet(19, 0x08, 0x00, 0x07, 0x11, {2, 0x1a, 0x2b, 0x3c, 0x4d, 0x5e}));
  std::string s = camsim_state_json(m);
  EXPECT_NE(s.find("\"date\":\"2023-12-24 13:05:09\""), std::string::npos) << s;
  EXPECT_NE(s.find("\"mac\":\"02:1a:2b:3c:4d:5e\""), std::string::npos) << s;
  EXPECT_EQ(react(&m, daemon_packet(14, 0x01, 0x40, 0x02, 0x99, {1})), "");
  EXPECT_EQ(react(&m, daemon_packet(14, 0x09, 0x80, 0x09, 0x0E, {0})), "reply");
  EXPECT_EQ(react(&m, daemon_packet(13, 0x01, 0x40, 0x02, 0x2A, {})), "");  // no payload byte
  EXPECT_EQ(m.unknown, 2u);
  EXPECT_EQ(m.replies, 1u);
}

// The daemon's handler reads what the simulator reports.
class RoundTrip : public ::testing::Test {
 protected:
  uint8_t hud[kHudSize] = {};
  void SetUp() override {
    hud_set_block(hud);
    link_set_writer([](const uint8_t*, size_t n) { return static_cast<int>(n); });
    viewer_set_tap([](int, const uint8_t*, size_t) {});
    link_state().wanted_orientation_lock.store(1);
  }
  void TearDown() override {
    hud_set_block(nullptr);
    link_set_writer(nullptr);
    viewer_set_tap(nullptr);
  }
  void feed(const Bytes& p) { handle_link_packet(p.data(), p.size()); }
};

TEST_F(RoundTrip, ExposureAndAttitude) {
  CamsimModel m;
  react(&m, daemon_packet(14, 0x01, 0x40, 0x02, 0x2E, {0x18}));                    // EV 2.7
  react(&m, daemon_packet(17, 0x01, 0x40, 0x02, 0x28, {0x01, 0xE8, 0x83, 0x00}));  // 1/1000
  react(&m, daemon_packet(15, 0x01, 0x40, 0x02, 0x26, {0x18, 0x01}));              // f/2.8
  react(&m, daemon_packet(18, 0x01, 0x40, 0x02, 0x18, {16, 3}));                   // 3840x2160@30
  react(&m, daemon_packet(23, 0x04, 0x40, 0x04, 0x0A, {0x84, 0x03, 0, 0, 0xD4, 0xFE}));
  for (auto& p : camera_tick_records(&m.cam)) feed(p);
  EXPECT_EQ(hud_get_i8(hud, HUD_EV_TENTHS), 27);
  EXPECT_EQ(hud_get_u32(hud, HUD_SHUTTER_CODE), 0x83E8u);
  EXPECT_EQ(link_state().shutter_index.load(), 47);
  EXPECT_DOUBLE_EQ(hud_get_f64(hud, HUD_APERTURE), 2.8);
  EXPECT_EQ(hud_get_u8(hud, HUD_CAMSTATE_B24), 16);
  char text[16];
  hud_get_text(hud, HUD_PAN_TEXT, 10, text, sizeof text);
  EXPECT_STREQ(text, "90");
  hud_get_text(hud, HUD_TILT_TEXT, 10, text, sizeof text);
  EXPECT_STREQ(text, "-30");
  EXPECT_EQ(hud_get_u8(hud, HUD_TELEMETRY_B44), 11);
}

struct ShotCase {
  Bytes shot_type;
  int pano;  // -1: none
  int mode, sub;
};

TEST_F(RoundTrip, EveryShotTypeComesBackAsItsModeAndSubMode) {
  // The viewer's shot types as the daemon sends them, and the pair the
  // handler must read back from the camera state.
  const ShotCase cases[] = {
      {{0x01, 0x01, 0x00, 0x01, 0x00, 0x00}, -1, 0, 0},
      {{0x06, 0x01, 0x00, 0x01, 0x0A, 0x00}, -1, 0, 1},
      {{0x02, 0x01, 0x00, 0x01, 0x00, 0x00}, -1, 0, 2},
      {{0x04, 0x03, 0x00, 0x03, 0x01, 0x00}, -1, 1, 0},
      {{0x04, 0x05, 0x00, 0x05, 0x01, 0x00}, -1, 1, 1},
      {{0x04, 0x07, 0x00, 0x07, 0x01, 0x00}, -1, 1, 2},
      {{0x05, 0x03, 0x00, 0x03, 0x01, 0x00}, -1, 1, 3},
      {{0x05, 0x05, 0x00, 0x05, 0x01, 0x00}, -1, 1, 4},
      {{0x06, 0xFF, 0x00, 0xFF, 0x0A, 0x00}, -1, 2, 0},
      {{0x06, 0xFF, 0x00, 0xFF, 0x1E, 0x00}, -1, 2, 1},
      {{0x07, 0xFF, 0x00, 0xFF, 0x0A, 0x00}, 0x05, 3, 0},
      {{0x07, 0xFF, 0x00, 0xFF, 0x0A, 0x00}, 0x01, 3, 1},
      {{0x07, 0xFF, 0x00, 0xFF, 0x0A, 0x00}, 0x03, 3, 2},
      {{0x07, 0xFF, 0x00, 0xFF, 0x0A, 0x00}, 0x04, 3, 3},
      {{0x07, 0xFF, 0x00, 0xFF, 0x0A, 0x00}, 0x07, 3, 4},
  };
  CamsimModel m;
  for (const ShotCase& c : cases) {
    react(&m, daemon_packet(19, 0x01, 0x40, 0x02, 0x6A, c.shot_type));
    if (c.pano >= 0)
      react(&m, daemon_packet(14, 0x01, 0x40, 0x02, 0x6E, {static_cast<uint8_t>(c.pano)}));
    feed(camera_state_record(&m.cam));
    EXPECT_EQ(hud_get_u8(hud, HUD_CAPTURE_MODE), c.mode) << int(c.shot_type[0]);
    EXPECT_EQ(hud_get_u8(hud, HUD_CAPTURE_SUBMODE), c.sub) << int(c.shot_type[0]);
  }
  // Timelapse: interval 3 s, duration 600 s (the Osmo's 104-byte state).
  react(&m, daemon_packet(19, 0x01, 0x40, 0x02, 0x6A, {0x06, 0xFF, 0x02, 0xFF, 0x32, 0x00}));
  react(&m, daemon_packet(28, 0x01, 0x40, 0x02, 0x6C,
                          {0x01, 0x04, 0x00, 0x1E, 0x00, 0x58, 0x02, 0, 0, 0xF9, 0xFF}));
  feed(camera_state_record(&m.cam));
  EXPECT_EQ(hud_get_u8(hud, HUD_CAPTURE_MODE), 4);
  EXPECT_EQ(hud_get_u16(hud, HUD_TIMELAPSE_INTERVAL), 3);
  EXPECT_EQ(hud_get_u16(hud, HUD_TIMELAPSE_DURATION), 600);
}

TEST(CameraRecords, QueriesAndSizesByMode) {
  CameraSideState osmo, inspire;
  inspire.mode = 1;
  auto q = camera_queries(&osmo);
  ASSERT_EQ(q.size(), 6u);
  EXPECT_EQ(q[0].size(), 14u);
  EXPECT_EQ(q[3].size(), 15u);
  EXPECT_EQ(q[5].size(), 13u);
  EXPECT_EQ(camera_queries(&inspire).size(), 4u);
  for (auto* s : {&osmo, &inspire})
    for (const Bytes& p : camera_tick_records(s))
      EXPECT_TRUE(link_packet_intact(p.data(), p.size()));
  EXPECT_EQ(camera_telemetry(&osmo).size(), 49u);
  EXPECT_EQ(camera_telemetry(&inspire).size(), 50u);
  EXPECT_EQ(camera_state_record(&osmo).size(), 104u);
  EXPECT_EQ(camera_state_record(&inspire).size(), 85u);
  EXPECT_EQ(camera_focus_record(&osmo).size(), 59u);
  EXPECT_EQ(camera_focus_record(&inspire).size(), 53u);
  // Sequence numbers advance per packet.
  Bytes a = camera_card_record(&osmo), b = camera_card_record(&osmo);
  EXPECT_EQ(link_u16(b.data(), 6), link_u16(a.data(), 6) + 1);
}

}  // namespace
