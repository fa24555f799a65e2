// The incoming packet handler: link up, replies of both modes, every message
// by length into the HudBlock, LinkState and the viewers.
#include "link/link_handler.h"

#include <gtest/gtest.h>

#include <cmath>
#include <sys/stat.h>

#include "core/config_record.h"
#include "link/link_state.h"
#include "testing/fake_clock.h"
#include "testing/link_capture.h"
#include "tools/packet_build.h"
#include "platform/clock.h"
#include "platform/shell.h"
#include "testing/sandbox.h"
#include "platform/wiringpi.h"

namespace {

using Set = std::vector<std::pair<size_t, uint8_t>>;

Bytes packet(size_t length, LinkFields f, const Set& bytes = {}) {
  Bytes p(length, 0);
  for (auto [off, v] : bytes) p[off] = v;
  p[4] = f.sender, p[5] = f.receiver, p[6] = static_cast<uint8_t>(f.sequence);
  p[7] = static_cast<uint8_t>(f.sequence >> 8);
  p[8] = f.type, p[9] = f.set, p[10] = f.id;
  link_packet_seal(p.data(), p.size());
  return p;
}

void put16(Bytes& p, size_t off, int v) { link_put_u16(p.data(), off, static_cast<uint32_t>(v)); }
void put32(Bytes& p, size_t off, uint32_t v) { link_put_u32(p.data(), off, v); }
void putf(Bytes& p, size_t off, float v) { link_put_f32(p.data(), off, v); }
void seal(Bytes& p) { link_packet_seal(p.data(), p.size()); }

void handle(const Bytes& p) { handle_link_packet(p.data(), p.size()); }

class Handler : public ::testing::Test {
 protected:
  TestHud hud;
  TestSandbox box{"handler"};

  void SetUp() override {
    box.tool("killall", "exit 0");
    gpio_set_log((box.dir + "/gpio.log").c_str());
    capture_start();
    fake_clock_install(50000);
    // Link down; sequence numbers from 100 and the orientation lock wanted.
    link_test_reset_state();
    link_state().sequence.store(100);
    link_state().wanted_orientation_lock.store(1);
    cfg_set(config_record()->camera_connected, 0);
  }
  void TearDown() override {
    capture_stop();
    fake_clock_remove();
    gpio_set_log(nullptr);
  }
  // Brings the link up quietly and forgets what that sent.
  void link_up() {
    testing::internal::CaptureStderr();
    handle(packet(19, {}));
    testing::internal::GetCapturedStderr();
    capture_clear();
  }
  uint8_t* h() { return hud.block; }
};

TEST_F(Handler, FirstPacketBringsTheLinkUpOnce) {
  hud_set_u8(h(), HUD_TELEMETRY_VALID, 1);
  testing::internal::CaptureStderr();
  Bytes p = packet(19, {});
  Bytes wrong = p;
  handle_link_packet(wrong.data(), 18);  // length differs from byte 1: nothing
  EXPECT_EQ(link_state().link_up.load(), 0);
  handle(p);
  fake_clock_advance(10);
  handle(p);
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "data connected\n");
  EXPECT_EQ(link_state().link_up.load(), 1);
  EXPECT_EQ(hud_get_u8(h(), HUD_LINK_UP_A), 1);
  EXPECT_EQ(hud_get_u8(h(), HUD_LINK_UP_B), 1);
  EXPECT_EQ(hud_get_u8(h(), HUD_TELEMETRY_VALID), 0);
  EXPECT_EQ(cfg_get(config_record()->camera_connected), 1);
  EXPECT_EQ(link_state().last_data_time.load(), 50010u);
  EXPECT_TRUE(captured_packets().empty());
  EXPECT_TRUE(captured_messages().empty());
}

struct ReplyCase {
  const char* name;
  uint32_t mode;
  size_t length;
  LinkFields request;
  Set bytes;
  const char* reply;  // without the CRC16; "" for none
  const char* log;
};

const char kOsmoIdentity[] =
    "55 2C 04 36 09 04 34 12 80 00 01 00 10 48 47 33 31 30 00 00 00 00 00 00 00 00 00 00 00 "
    "0B 00 00 00 04 01 00 00 FF 03 00 00 01";
const char kOsmoIdentityToCamera[] =
    "55 2C 04 36 09 01 34 12 80 00 01 00 10 48 47 33 31 30 00 00 00 00 00 00 00 00 00 00 00 "
    "0B 00 00 00 04 01 00 00 FF 03 00 00 01";
const char kInspireDm368[] =
    "55 2B 04 58 09 01 34 12 80 00 01 00 01 30 33 4A 30 30 35 30 35 30 36 00 00 00 00 00 00 00 00 "
    "00 03 04 00 00 03 01 00 00 00";
// Fresh sequence: the counter stands at 100 (0x64).
const char kInspireAmbarella[] =
    "55 2B 04 58 09 04 64 00 80 00 01 00 01 30 33 4A 30 30 35 30 35 30 36 00 00 00 00 00 00 00 00 "
    "00 03 04 00 00 03 01 00 00 00";

const ReplyCase kReplies[] = {
    {"osmo gimbal query",
     0,
     14,
     {0x04, 0x09, 0x1234, 0x20, 0x04, 0x1C},
     {},
     "55 0E 04 66 09 04 00 00 80 04 1C 06",
     ""},
    {"osmo gimbal 26",
     0,
     14,
     {0x04, 0x09, 0x1234, 0x00, 0x04, 0x28},
     {{11, 1}},
     "55 1A 04 B1 09 04 00 00 A0 04 28 00 00 00 00 00 00 00 00 00 00 00 00 00",
     ""},
    {"osmo gimbal type 00 byte 0", 0, 14, {0x04, 0x09, 0x1234, 0x00, 0x04, 0x28}, {}, "", ""},
    {"osmo gimbal type 40", 0, 14, {0x04, 0x09, 0x1234, 0x40, 0x04, 0x1C}, {}, "", ""},
    {"osmo camera query",
     0,
     14,
     {0x01, 0x07, 0x1234, 0x00, 0x00, 0x50},
     {},
     "55 0E 04 66 07 01 34 12 80 00 50 00",
     ""},
    {"osmo 14 other", 0, 14, {0x01, 0x09, 0x1234, 0x00, 0x00, 0x50}, {}, "", ""},
    {"osmo status query",
     0,
     15,
     {0x01, 0x09, 0x1234, 0x40, 0x09, 0x0E},
     {},
     "55 0E 04 66 09 01 34 12 80 09 0E 00",
     ""},
    {"osmo status type 00", 0, 15, {0x01, 0x09, 0x1234, 0x00, 0x09, 0x0E}, {}, "", ""},
    {"osmo identity gimbal",
     0,
     13,
     {0x04, 0x09, 0x1234, 0x00, 0x00, 0x01},
     {},
     kOsmoIdentity,
     "Init Osmo mode\n"},
    {"osmo identity camera",
     0,
     13,
     {0x01, 0x09, 0x1234, 0x00, 0x00, 0x01},
     {},
     kOsmoIdentityToCamera,
     "Init Osmo mode\n"},
    {"osmo 13 other", 0, 13, {0x02, 0x09, 0x1234, 0x00, 0x00, 0x01}, {}, "", ""},
    {"inspire gimbal query",
     1,
     14,
     {0x04, 0x03, 0x1234, 0x20, 0x04, 0x1C},
     {{11, 0x5A}},
     "55 0E 04 66 03 04 00 00 80 04 1C 5A",
     ""},
    {"inspire osmo gimbal query", 1, 14, {0x04, 0x09, 0x1234, 0x20, 0x04, 0x1C}, {}, "", ""},
    {"inspire status query",
     1,
     15,
     {0x01, 0x09, 0x1234, 0x40, 0x09, 0x0E},
     {},
     "55 0E 04 66 09 01 34 12 80 09 0E 00",
     ""},
    {"inspire dm368",
     1,
     13,
     {0x01, 0x09, 0x1234, 0x00, 0x00, 0x01},
     {},
     kInspireDm368,
     "Init Inspire mode DM368\n"},
    {"inspire ambarella",
     1,
     13,
     {0x04, 0x09, 0x1234, 0x00, 0x00, 0x01},
     {},
     kInspireAmbarella,
     "Init Inspire mode Ambarella\n"},
    {"inspire 13 camera other id", 1, 13, {0x01, 0x09, 0x1234, 0x00, 0x00, 0x02}, {}, "", ""},
};

TEST_F(Handler, RepliesOfBothModes) {
  for (const ReplyCase& c : kReplies) {
    SCOPED_TRACE(c.name);
    link_state().mode.store(c.mode);
    link_up();
    link_state().sequence.store(100);
    testing::internal::CaptureStderr();
    handle(packet(c.length, c.request, c.bytes));
    EXPECT_EQ(testing::internal::GetCapturedStderr(), c.log);
    auto sent = captured_packets();
    if (!*c.reply) {
      EXPECT_TRUE(sent.empty());
      continue;
    }
    ASSERT_EQ(sent.size(), 1u);
    Bytes want = hex(c.reply);
    ASSERT_EQ(sent[0].size(), want.size() + 2);
    EXPECT_EQ(to_hex(sent[0].data(), want.size()), to_hex(want));
    EXPECT_TRUE(link_packet_intact(sent[0].data(), sent[0].size()));
    // Only the Ambarella identity takes a fresh sequence number.
    EXPECT_EQ(link_state().sequence.load(),
              c.log == std::string("Init Inspire mode Ambarella\n") ? 101u : 100u);
    EXPECT_TRUE(captured_messages().empty());
  }
}

TEST_F(Handler, AQueryBringsTheLinkUpAndIsAnswered) {
  // The handler brings the link up first, so a reply always goes; a request
  // arriving after the watchdog dropped the link brings it up again.
  handle(packet(15, {0x01, 0x09, 0x0001, 0x40, 0x09, 0x0E}));
  EXPECT_EQ(captured_packets().size(), 1u);
}

TEST_F(Handler, Length22AndTheOtherRecords) {
  link_up();
  handle(packet(22, {}, {{14, 0x01}, {15, 0x02}, {16, 0x03}, {17, 0xFF}}));
  EXPECT_EQ(hud_get_u32(h(), HUD_MSG22_VALUE), 0x030201u);

  Bytes p52 = packet(52, {});
  put16(p52, 25, 0xA1A2);
  put16(p52, 12, 0xB1B2);
  p52[11] = 0xC1;
  seal(p52);
  handle(p52);
  EXPECT_EQ(hud_get_u16(h(), HUD_MSG52_U16_25), 0xA1A2);
  EXPECT_EQ(hud_get_u16(h(), HUD_MSG52_U16_12), 0xB1B2);
  EXPECT_EQ(hud_get_u8(h(), HUD_MSG52_B11), 0xC1);

  Bytes p54 = packet(54, {});
  p54[11] = 2;
  const size_t offs[] = {15, 17, 20, 22, 24};
  for (size_t i = 0; i < 5; i++) put16(p54, offs[i], 0x100 * (i + 1) + i);
  seal(p54);
  handle(p54);
  EXPECT_EQ(hud_get_u8(h(), HUD_PLAYBACK_STATE), 2);
  for (size_t i = 0; i < 5; i++)
    EXPECT_EQ(hud_get_u16(h(), HUD_MSG54_VALUES + 2 * i), 0x100 * (i + 1) + i);

  Bytes p77 = packet(77, {});
  for (int i = 0; i < 64; i++) p77[11 + i] = static_cast<uint8_t>(i + 1);
  seal(p77);
  fake_clock_set(60000);
  handle(p77);
  uint8_t rec[64];
  hud_read(h(), HUD_RECORD64, rec, 64);
  EXPECT_EQ(to_hex(rec, 64), to_hex(p77.data() + 11, 64));
  EXPECT_EQ(hud_get_u32(h(), HUD_RECORD64_TIME), 60000u);
  auto m = captured_messages();
  ASSERT_EQ(m.size(), 1u);
  ASSERT_EQ(m[0].size(), 65u);
  EXPECT_EQ(m[0][0], 14);
  EXPECT_EQ(to_hex(m[0].data() + 1, 64), to_hex(p77.data() + 11, 64));
  EXPECT_TRUE(captured_packets().empty());
}

TEST_F(Handler, GimbalAttitude) {
  link_up();
  Bytes p = packet(25, {0x04, 0x00, 0, 0x00, 0x04, 0x05});
  put16(p, 11, -1293);  // tilt
  put16(p, 13, 490);    // dutch
  put16(p, 15, 3260);   // pan
  seal(p);
  handle(p);
  char text[16];
  hud_get_text(h(), HUD_TILT_TEXT, 10, text, sizeof text);
  EXPECT_STREQ(text, "-135");
  hud_get_text(h(), HUD_PAN_TEXT, 10, text, sizeof text);
  EXPECT_STREQ(text, "350");
  hud_get_text(h(), HUD_DUTCH_TEXT, 10, text, sizeof text);
  EXPECT_STREQ(text, "-60");
  const double k = static_cast<double>(0.0174532924f);
  EXPECT_DOUBLE_EQ(hud_get_f64(h(), HUD_GIMBAL_TILT), -135.0 * k);
  EXPECT_DOUBLE_EQ(hud_get_f64(h(), HUD_GIMBAL_PAN), 350.0 * k);
  EXPECT_DOUBLE_EQ(hud_get_f64(h(), HUD_GIMBAL_DUTCH), -60.0 * k);
  EXPECT_DOUBLE_EQ(hud_get_f64(h(), HUD_SIN_PAN), std::sin(350.0 * k));
  EXPECT_DOUBLE_EQ(hud_get_f64(h(), HUD_COS_TILT), std::cos(-135.0 * k));
  EXPECT_DOUBLE_EQ(hud_get_f64(h(), HUD_SIN_DUTCH), std::sin(-60.0 * k));
  EXPECT_EQ(hud_get_u8(h(), HUD_GIMBAL_WRITING), 0);
  EXPECT_EQ(hud_get_u8(h(), HUD_GIMBAL_STATE), 1);
  auto m = captured_messages();
  ASSERT_EQ(m.size(), 3u);
  // pan x 100 = 35000 does not fit an i16: its low 16 bits go out.
  EXPECT_EQ(to_hex(m[0]), "00 B8 88 44 CB 90 E8");
  EXPECT_EQ(to_hex(m[1]), "0A BC 0C F3 FA EA 01");
  EXPECT_EQ(to_hex(m[2]), "08 01 00 00 00 00 00");

  put16(p, 11, 347);
  p[17] = 1;
  seal(p);
  capture_clear();
  handle(p);
  hud_get_text(h(), HUD_TILT_TEXT, 10, text, sizeof text);
  EXPECT_STREQ(text, "45");
  EXPECT_EQ(hud_get_u8(h(), HUD_GIMBAL_STATE), 0);
  EXPECT_EQ(to_hex(captured_messages().at(2)), "08 00 00 00 00 00 00");
}

TEST_F(Handler, Length25OfAnotherCommandChangesNothing) {
  link_up();
  Bytes before(h(), h() + kHudSize);
  handle(packet(25, {0x04, 0x00, 0, 0x00, 0x04, 0x06}, {{11, 9}, {15, 9}}));
  handle(packet(25, {0x04, 0x00, 0, 0x00, 0x03, 0x05}, {{11, 9}, {15, 9}}));
  EXPECT_EQ(Bytes(h(), h() + kHudSize), before);
  EXPECT_TRUE(captured_messages().empty());
}

TEST_F(Handler, Telemetry) {
  link_up();
  handle(packet(22, {}, {{14, 0x01}, {15, 0x02}, {16, 0x03}}));
  Bytes p = packet(49, {});
  p[11] = 0x40;
  p[13] = 0x10;
  p[15] = 1;
  put32(p, 20, 0x11223344);
  put32(p, 24, 0x55667788);
  put32(p, 28, 0x99AABBCC);
  put16(p, 40, 0xDDEE);
  p[42] = 0x01;
  p[44] = 11;
  seal(p);
  handle(p);
  EXPECT_EQ(hud_get_u8(h(), HUD_CAMERA_STATUS), 0x40);
  EXPECT_EQ(hud_get_u32(h(), HUD_TELEMETRY_U32_20), 0x11223344u);
  EXPECT_EQ(hud_get_u32(h(), HUD_TELEMETRY_U32_24), 0x55667788u);
  EXPECT_EQ(hud_get_u32(h(), HUD_TELEMETRY_U32_28), 0x99AABBCCu);
  EXPECT_EQ(hud_get_u16(h(), HUD_TELEMETRY_U16_40), 0xDDEE);
  EXPECT_EQ(hud_get_u8(h(), HUD_TELEMETRY_VALID), 1);
  EXPECT_EQ(hud_get_u8(h(), HUD_TELEMETRY_B44), 11);
  EXPECT_EQ(hud_get_u8(h(), HUD_CAMERA_MODE), 1);
  EXPECT_EQ(hud_get_u8(h(), HUD_TELEMETRY_B42), 1);
  EXPECT_EQ(hud_get_u8(h(), HUD_TELEMETRY_B13), 0x10);
  EXPECT_EQ(link_state().interval_active.load(), 1);
  auto m = captured_messages();
  ASSERT_EQ(m.size(), 1u);
  EXPECT_EQ(to_hex(m[0]),
            "07 01 40 44 33 22 11 88 77 66 55 CC BB AA 99 EE DD 01 02 03 00 01 10 0B");
  // The 50-byte record is read the same way.
  Bytes q(p);
  q.push_back(0);
  q[13] = 0;
  seal(q);
  handle(q);
  EXPECT_EQ(link_state().interval_active.load(), 0);
  EXPECT_EQ(captured_messages().size(), 2u);
}

TEST_F(Handler, LedBlinksWhileRecording) {
  link_up();
  Bytes rec = packet(49, {}, {{11, 0x80}});
  for (int t = 0; t <= 2500; t += 100) {
    fake_clock_set(100000 + t);
    handle(rec);
  }
  handle(packet(49, {}, {{11, 0x40}}));
  EXPECT_EQ(link_state().led_blink_time.load(), 0u);
  // One write per record: the level flips on the first record and then each
  // time more than 500 ms have passed, so the period is about a second.
  std::string log = box.read("gpio.log");
  std::string want;
  int level = 0;
  for (int t = 0; t <= 2500; t += 100) {
    if (t % 600 == 0) level ^= 1;
    want += "write 24 " + std::to_string(level) + "\n";
  }
  want += "write 24 0\n";
  EXPECT_EQ(log, want);
}

TEST_F(Handler, FocusStatus) {
  link_up();
  hud_set_u8(h(), HUD_CONTINUOUS_AF, 1);
  Bytes p = packet(53, {});
  p[11] = 0x05;
  put16(p, 12, 1000);
  put16(p, 14, 250);
  putf(p, 16, 1.234f);
  putf(p, 24, 0.25f);
  putf(p, 28, 0.75f);
  p[32] = 7;
  p[42] = 3;
  seal(p);
  handle(p);
  EXPECT_EQ(hud_get_u8(h(), HUD_FOCUS_POSITION), 25);
  EXPECT_DOUBLE_EQ(hud_get_f64(h(), HUD_FOCUS_VALUE), 1.23);
  EXPECT_EQ(hud_get_u8(h(), HUD_FOCUS_B11_BIT2), 1);
  EXPECT_EQ(hud_get_u8(h(), HUD_FOCUS_MF_AVAILABLE), 1);
  EXPECT_EQ(hud_get_u8(h(), HUD_FOCUS_RECEIVED), 1);
  EXPECT_DOUBLE_EQ(hud_get_f64(h(), HUD_CAM_FOCUS_X), 0.25);
  EXPECT_DOUBLE_EQ(hud_get_f64(h(), HUD_CAM_FOCUS_Y), 0.75);
  EXPECT_EQ(hud_get_u8(h(), HUD_FOCUS_B32), 7);
  EXPECT_EQ(link_state().focus_range.load(), 1000u);
  EXPECT_EQ(link_state().focus_byte.load(), 3u);
  auto m = captured_messages();
  ASSERT_EQ(m.size(), 3u);
  EXPECT_EQ(to_hex(m[0]), "10 07 01 00 00 00 00");
  EXPECT_EQ(to_hex(m[1]), "0C 03 00 19 00 7B 00");
  EXPECT_EQ(to_hex(m[2]), "0D C4 09 4C 1D 03 00");

  // No range yet and garbage floats: zeros, not undefined conversions.
  Bytes q = packet(59, {});
  put16(q, 14, 500);
  putf(q, 16, std::nanf(""));
  putf(q, 24, 1e30f);
  seal(q);
  capture_clear();
  handle(q);
  EXPECT_EQ(hud_get_u8(h(), HUD_FOCUS_POSITION), 0);
  m = captured_messages();
  ASSERT_EQ(m.size(), 3u);
  EXPECT_EQ(to_hex(m[1]), "0C 00 00 00 00 00 00");
}

Bytes camera_state(size_t length) {
  Bytes p = packet(length, {});
  link_put_u24(p.data(), 13, 0x8064);
  p[16] = 3;
  p[17] = 18;
  p[21] = 0x21;
  p[23] = 0x23;
  p[24] = 10;
  p[25] = 3;
  p[31] = 0x31;
  p[34] = 0x34;
  p[35] = 0x35;
  put16(p, 38, 256);
  p[42] = 0x42;
  p[43] = 0x43;
  p[44] = 5;
  put16(p, 49, 280);
  link_put_u24(p.data(), 51, 0x123456);
  put16(p, 54, 0xBEEF);
  p[66] = 0x03;
  p[67] = 0x67;
  p[68] = 4;
  seal(p);
  return p;
}

TEST_F(Handler, CameraState) {
  link_up();
  link_state().digital_zoom_percent.store(42);
  handle(camera_state(85));
  EXPECT_EQ(hud_get_u8(h(), HUD_CAMSTATE_B23), 0x23);
  EXPECT_EQ(hud_get_u8(h(), HUD_CAMSTATE_B67), 0x67);
  EXPECT_DOUBLE_EQ(hud_get_f64(h(), HUD_APERTURE), 2.8);
  EXPECT_EQ(link_state().aperture_index.load(), 5);
  EXPECT_EQ(rc_aperture_index.load(), 5);
  EXPECT_EQ(hud_get_u16(h(), HUD_CAMSTATE_U16_54), 0xBEEF);
  EXPECT_EQ(hud_get_u8(h(), HUD_CAMSTATE_B16), 3);
  EXPECT_EQ(hud_get_u8(h(), HUD_CAMSTATE_B24), 10);
  EXPECT_EQ(hud_get_u8(h(), HUD_CAMSTATE_B25), 3);
  EXPECT_EQ(hud_get_u8(h(), HUD_CAMSTATE_B34), 0x34);
  EXPECT_EQ(hud_get_u8(h(), HUD_CAMSTATE_B35), 0x35);
  EXPECT_EQ(hud_get_i8(h(), HUD_EV_TENTHS), 7);
  EXPECT_EQ(hud_get_u8(h(), HUD_CAMSTATE_B42), 0x42);
  EXPECT_EQ(hud_get_i16(h(), HUD_CAMSTATE_U16_38), 3);
  EXPECT_EQ(hud_get_u8(h(), HUD_CAMSTATE_B31), 0x31);
  EXPECT_EQ(hud_get_u8(h(), HUD_CAMSTATE_B21), 0x21);
  EXPECT_EQ(hud_get_u8(h(), HUD_CAMSTATE_B66_BIT0), 1);
  EXPECT_EQ(hud_get_u8(h(), HUD_CAMSTATE_B43), 0x43);
  EXPECT_EQ(hud_get_u32(h(), HUD_SHUTTER_CODE), 0x8064u);
  EXPECT_EQ(link_state().shutter_index.load(), 37);
  EXPECT_EQ(rc_shutter_index.load(), 37);
  EXPECT_EQ(hud_get_u32(h(), HUD_CAMSTATE_U24_51), 0x123456u);
  EXPECT_EQ(hud_get_u8(h(), HUD_CAPTURE_MODE), 1);
  EXPECT_EQ(hud_get_u8(h(), HUD_CAPTURE_SUBMODE), 1);
  auto m = captured_messages();
  ASSERT_EQ(m.size(), 2u);
  EXPECT_EQ(to_hex(m[0]),
            "02 31 21 03 42 07 34 0A 03 35 EF BE 64 80 00 67 03 18 01 01 43 56 34 12 23 01 01 "
            "00 00 00 00");
  EXPECT_EQ(to_hex(m[1]), "03 2A 00 00 00 00 00");

  // Codes outside the tables leave both index copies alone.
  Bytes q = camera_state(104);
  link_put_u24(q.data(), 13, 0x8065);
  put16(q, 49, 270);
  q[17] = 6;
  put16(q, 38, 255);
  seal(q);
  handle(q);
  EXPECT_EQ(link_state().shutter_index.load(), 37);
  EXPECT_EQ(rc_shutter_index.load(), 37);
  EXPECT_EQ(link_state().aperture_index.load(), 5);
  EXPECT_EQ(hud_get_i8(h(), HUD_EV_TENTHS), 0);
  EXPECT_EQ(hud_get_i16(h(), HUD_CAMSTATE_U16_38), 2);
}

TEST_F(Handler, Tables) {
  const int ev[] = {-30, -27, -23, -20, -17, -13, -10, -7, -3, 0, 3, 7, 10, 13, 17, 20, 23, 27, 30};
  for (int code = 7; code <= 25; code++)
    EXPECT_EQ(link_ev_tenths(static_cast<uint8_t>(code)), ev[code - 7]);
  EXPECT_EQ(link_ev_tenths(6), 0);
  EXPECT_EQ(link_ev_tenths(26), 0);
  EXPECT_EQ(link_aperture_index(1.7), 0);
  EXPECT_EQ(link_aperture_index(1600 / 100.0), 20);
  EXPECT_EQ(link_aperture_index(2.7), -1);
  EXPECT_EQ(link_shutter_index(0x1E), 0);
  EXPECT_EQ(link_shutter_index(0x9F40), 56);
  EXPECT_EQ(link_shutter_index(0x438001), 19);
  EXPECT_EQ(link_shutter_index(0), -1);
}

struct ModeCase {
  uint8_t b68, b44, b45, b46, b47, b71, b72;
  size_t length;
  int mode, sub;  // 9: unchanged from 9
  int interval, duration;
};

const ModeCase kModes[] = {
    {1, 0, 0, 0, 0, 0, 0, 85, 0, 0, 7, 70},       {2, 0, 0, 0, 0, 0, 0, 85, 0, 2, 7, 70},
    {3, 0, 0, 0, 0, 0, 0, 85, 9, 9, 7, 70},       {0, 0, 0, 0, 0, 0, 0, 85, 9, 9, 7, 70},
    {8, 0, 0, 0, 0, 0, 0, 85, 9, 9, 7, 70},       {4, 3, 0, 0, 0, 0, 0, 85, 1, 0, 7, 70},
    {4, 5, 0, 0, 0, 0, 0, 85, 1, 1, 7, 70},       {4, 7, 0, 0, 0, 0, 0, 85, 1, 2, 7, 70},
    {4, 4, 0, 0, 0, 0, 0, 85, 1, 9, 7, 70},       {5, 0, 0, 0, 0, 3, 0, 85, 1, 3, 7, 70},
    {5, 0, 0, 0, 0, 5, 0, 85, 1, 4, 7, 70},       {6, 0, 0, 1, 0, 0, 0, 85, 0, 1, 7, 70},
    {6, 0, 0, 0xFF, 10, 0, 0, 85, 2, 0, 7, 70},   {6, 0, 0, 0xFF, 30, 0, 0, 85, 2, 1, 7, 70},
    {6, 0, 0, 0xFF, 20, 0, 0, 85, 2, 9, 7, 70},   {6, 0, 2, 0xFF, 0x32, 0, 0, 104, 4, 9, 3, 600},
    {6, 0, 2, 0xFF, 0x32, 0, 0, 85, 4, 9, 7, 70}, {6, 0, 1, 0, 0, 0, 0, 85, 9, 9, 7, 70},
    {7, 0, 0, 0, 0, 0, 1, 85, 3, 1, 7, 70},       {7, 0, 0, 0, 0, 0, 3, 85, 3, 2, 7, 70},
    {7, 0, 0, 0, 0, 0, 4, 85, 3, 3, 7, 70},       {7, 0, 0, 0, 0, 0, 5, 85, 3, 0, 7, 70},
    {7, 0, 0, 0, 0, 0, 7, 85, 3, 4, 7, 70},       {7, 0, 0, 0, 0, 0, 2, 85, 3, 9, 7, 70},
};

TEST_F(Handler, CaptureModes) {
  link_up();
  for (const ModeCase& c : kModes) {
    SCOPED_TRACE(::testing::Message()
                 << "byte 68 = " << int(c.b68) << ", 44 = " << int(c.b44) << ", 47 = " << int(c.b47)
                 << ", 72 = " << int(c.b72) << ", length " << c.length);
    LinkState& ls = link_state();
    ls.capture_mode.store(9);
    ls.capture_submode.store(9);
    ls.timelapse_interval.store(7);
    ls.timelapse_duration.store(70);
    Bytes p = camera_state(c.length);
    p[68] = c.b68, p[44] = c.b44, p[45] = c.b45, p[46] = c.b46, p[47] = c.b47;
    p[71] = c.b71, p[72] = c.b72;
    if (c.length >= 90) {
      put16(p, 86, 35);
      put16(p, 88, 600);
    }
    seal(p);
    capture_clear();
    handle(p);
    EXPECT_EQ(hud_get_u8(h(), HUD_CAPTURE_MODE), c.mode);
    EXPECT_EQ(hud_get_u8(h(), HUD_CAPTURE_SUBMODE), c.sub);
    EXPECT_EQ(hud_get_u16(h(), HUD_TIMELAPSE_INTERVAL), c.interval);
    EXPECT_EQ(hud_get_u16(h(), HUD_TIMELAPSE_DURATION), c.duration);
    Bytes m = captured_messages().at(0);
    EXPECT_EQ(m[25], c.mode);
    EXPECT_EQ(m[26], c.sub);
    EXPECT_EQ(link_u16(m.data(), 27), c.interval);
    EXPECT_EQ(link_u16(m.data(), 29), c.duration);
  }
}

TEST_F(Handler, VideoFormatChangeRestartsTheDisplay) {
  link_up();
  testing::internal::CaptureStderr();
  handle(camera_state(85));  // first: stored only
  handle(camera_state(85));  // same again: nothing
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
  EXPECT_EQ(box.read("commands.log"), "");
  Bytes p = camera_state(85);
  p[24] = 16;
  seal(p);
  testing::internal::CaptureStderr();
  handle(p);
  handle(p);
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "video format changed\n");
  EXPECT_EQ(box.read("commands.log"), "killall -q display &\n");
  EXPECT_EQ(link_state().last_video_format[0].load(), 16);
}

TEST_F(Handler, OddLengthsOnlyKeepTheLinkAlive) {
  link_up();
  Bytes before(h(), h() + kHudSize);
  for (size_t l : {19, 16, 3, 200}) {
    fake_clock_advance(5);
    Bytes p(l, 0x77);
    p[0] = 0x55;
    p[1] = static_cast<uint8_t>(l);
    handle(p);
    EXPECT_EQ(link_state().last_data_time.load(), time_ms());
  }
  EXPECT_EQ(Bytes(h(), h() + kHudSize), before);
  EXPECT_TRUE(captured_messages().empty());
  EXPECT_TRUE(captured_packets().empty());
  uint8_t one[1] = {0x55};
  handle_link_packet(one, 1);  // too short to hold a length: ignored
}

}  // namespace
