// The link watchdog and the keep-alive packets, on a fake clock and a shell
// sandbox.
#include "link/data_source.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "core/config_record.h"
#include "link/can_transport.h"
#include "link/link_handler.h"
#include "link/link_state.h"
#include "testing/fake_clock.h"
#include "testing/link_capture.h"
#include "tools/packet_build.h"
#include "platform/clock.h"
#include "platform/paths.h"
#include "platform/shell.h"
#include "testing/sandbox.h"

namespace {

class Watchdog : public ::testing::Test {
 protected:
  TestHud hud;
  TestSandbox box{"watchdog"};

  void SetUp() override {
    setenv("TZ", "UTC", 1);
    tzset();
    box.tool("ifconfig", "exit 0");
    set_mac("02:1a:2b:3c:4d:5e\n");
    capture_start();
    fake_clock_install(100000);
    can_set_last_receive_time(0);
    // Link down; sequence numbers from 100, no date pushed from the local
    // clock, and the orientation lock wanted.
    link_test_reset_state();
    link_state().sequence.store(100);
    link_state().time_from_local_clock.store(0);
    link_state().wanted_orientation_lock.store(1);
    cfg_set(config_record()->hud_enabled, 1);
  }
  void TearDown() override {
    capture_stop();
    fake_clock_remove();
  }
  void set_mac(const std::string& text) {
    std::filesystem::create_directories(box.dir + "/sys/class/net/usb0");
    std::ofstream(box.dir + "/sys/class/net/usb0/address") << text;
  }
  // A camera packet, as the reader would hand it over.
  void packet_arrives() {
    Bytes p(19, 0);
    link_packet_seal(p.data(), p.size());
    handle_link_packet(p.data(), p.size());
  }
  std::string status() {
    char text[130];
    hud_get_text(hud.block, HUD_LINK_STATUS, 128, text, sizeof text);
    return text;
  }
  // Runs the watchdog once; its stderr.
  std::string run() {
    testing::internal::CaptureStderr();
    link_watchdog();
    return testing::internal::GetCapturedStderr();
  }
  std::vector<Bytes> sent_with_id(uint8_t id) {
    std::vector<Bytes> out;
    for (const Bytes& p : captured_packets())
      if (p.size() > 10 && p[10] == id) out.push_back(p);
    return out;
  }
};

TEST_F(Watchdog, LinkLostAfterMoreThanASecondWithoutPackets) {
  testing::internal::CaptureStderr();
  packet_arrives();
  testing::internal::GetCapturedStderr();
  for (int i = 0; i < 3; i++) {  // a packet every 500 ms keeps it up
    fake_clock_advance(500);
    run();
    EXPECT_EQ(status(), "");
    fake_clock_advance(500);
    packet_arrives();
  }
  EXPECT_EQ(link_state().link_up.load(), 1);
  capture_clear();
  fake_clock_advance(1000);  // exactly 1000 ms: still up
  EXPECT_EQ(run().find("data disconnected"), std::string::npos);
  EXPECT_EQ(to_hex(captured_messages().back()), "05 00 02 00 00 00 00");
  fake_clock_advance(1);
  EXPECT_EQ(run(), "data disconnected\n");
  EXPECT_EQ(link_state().link_up.load(), 0);
  EXPECT_EQ(hud_get_u8(hud.block, HUD_LINK_UP_A), 0);
  EXPECT_EQ(hud_get_u8(hud.block, HUD_LINK_UP_B), 0);
  EXPECT_EQ(hud_get_u8(hud.block, HUD_TELEMETRY_VALID), 0);
  EXPECT_EQ(hud_get_u8(hud.block, HUD_HUD_ENABLED), 0);
  EXPECT_EQ(cfg_get(config_record()->camera_connected), 0);
  EXPECT_EQ(status(), "telemetry disconnected");
  EXPECT_EQ(to_hex(captured_messages().back()), "05 00 00 00 00 00 00");
  fake_clock_advance(1000);
  EXPECT_EQ(run(), "");  // said once
}

TEST_F(Watchdog, StatusTextsAndHudFlags) {
  hud_set_text(hud.block, HUD_PRODUCT, 20, "Pelquarinthos Wired");
  hud_set_text(hud.block, HUD_VERSION, 20, "v.0.14.11");
  run();
  EXPECT_EQ(status(), "telemetry disconnected");
  box.tool("ifconfig", "exit 1");
  run();
  EXPECT_EQ(status(), "CAN interface not found");
  EXPECT_NE(box.read("commands.log").find("ifconfig can0 > /dev/null 2>&1\n"), std::string::npos);
  EXPECT_EQ(hud_get_u8(hud.block, HUD_PRODUCT), 'P');

  testing::internal::CaptureStderr();
  packet_arrives();
  testing::internal::GetCapturedStderr();
  run();
  EXPECT_EQ(status(), "");
  EXPECT_EQ(hud_get_u8(hud.block, HUD_PRODUCT), 0);
  EXPECT_EQ(hud_get_u8(hud.block, HUD_VERSION), 0);
  EXPECT_EQ(hud_get_u8(hud.block, HUD_HUD_ENABLED), 1);
  cfg_set(config_record()->hud_enabled, 0);
  hud_set_u8(hud.block, HUD_HUD_ENABLED, 0);
  run();
  EXPECT_EQ(hud_get_u8(hud.block, HUD_HUD_ENABLED), 0);
}

TEST_F(Watchdog, MacEveryOtherSecondToFlightControllerThenCamera) {
  testing::internal::CaptureStderr();
  packet_arrives();
  testing::internal::GetCapturedStderr();
  int with_mac = 0;
  for (int tick = 0; tick < 4; tick++) {
    capture_clear();
    std::string err = run();
    fake_clock_advance(200);
    packet_arrives();
    auto macs = sent_with_id(0x11);
    if (tick % 2 == 0) {
      EXPECT_EQ(err, "Current MAC: 02:1a:2b:3c:4d:5e\n");
      ASSERT_EQ(macs.size(), 2u);
      EXPECT_EQ(to_hex(macs[0].data(), 6), "55 13 04 03 07 08");
      EXPECT_EQ(to_hex(macs[1].data(), 6), "55 13 04 03 07 01");
      EXPECT_EQ(to_hex(macs[0].data() + 8, 9), "00 07 11 02 1A 2B 3C 4D 5E");
      EXPECT_TRUE(link_packet_intact(macs[1].data(), 19));
      with_mac++;
    } else {
      EXPECT_EQ(err, "");
      EXPECT_TRUE(macs.empty());
    }
  }
  EXPECT_EQ(with_mac, 2);
  EXPECT_EQ(link_state().watchdog_ticks.load(), 4u);
}

TEST_F(Watchdog, MacTextIsTakenFromTheLastLineOnly) {
  testing::internal::CaptureStderr();
  packet_arrives();
  testing::internal::GetCapturedStderr();
  struct Case {
    const char* output;
    const char* line;  // nullptr: nothing sent
  } cases[] = {
      {"junk\r\n02:1A:2B:3C:4D:5E\r\n", "Current MAC: 02:1A:2B:3C:4D:5E\n"},
      {"02:1a:2b:3c:4d:5e", "Current MAC: 02:1a:2b:3c:4d:5e\n"},
      {"02:1a:2b:3c:4d:5e\t\n", "Current MAC: 02:1a:2b:3c:4d:5e \n"},
      {"02:1a:2b:3c:4d\n", nullptr},
      {"02:1a:2b:3c:4d:5e:6f\n", nullptr},
      {"02:1a:2b:3c:4d:5e:77:88\n", nullptr},  // cut at 18 characters: a 7th, empty piece
      {"0x:1a:2b:3c:4d:5e\n", nullptr},
      {"", nullptr},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.output);
    set_mac(c.output);
    capture_clear();
    testing::internal::CaptureStderr();
    camera_send_mac();
    std::string err = testing::internal::GetCapturedStderr();
    EXPECT_EQ(err, c.line ? c.line : "");
    EXPECT_EQ(captured_packets().size(), c.line ? 2u : 0u);
  }
  std::filesystem::remove(box.dir + "/sys/class/net/usb0/address");
  capture_clear();
  testing::internal::CaptureStderr();
  camera_send_mac();
  testing::internal::GetCapturedStderr();
  EXPECT_TRUE(captured_packets().empty());
}

TEST_F(Watchdog, StartUpSettingOnce) {
  testing::internal::CaptureStderr();
  packet_arrives();
  testing::internal::GetCapturedStderr();
  hud_set_u8(hud.block, HUD_TELEMETRY_VALID, 1);
  hud_set_u8(hud.block, HUD_TELEMETRY_B44, 11);
  hud_set_u8(hud.block, HUD_CAMSTATE_B66_BIT0, 1);
  run();
  auto sent = sent_with_id(0x66);
  ASSERT_EQ(sent.size(), 3u);
  for (const Bytes& p : sent) {
    EXPECT_EQ(to_hex(p.data(), 6), "55 0E 04 66 02 01");
    EXPECT_EQ(to_hex(p.data() + 8, 4), "40 02 66 01");
    EXPECT_TRUE(link_packet_intact(p.data(), p.size()));
  }
  EXPECT_NE(sent[0][6], sent[1][6]);  // each send takes its own number
  capture_clear();
  run();
  EXPECT_TRUE(sent_with_id(0x66).empty());
}

TEST_F(Watchdog, StartUpSettingIsSpentEvenWhileTheLinkIsDown) {
  hud_set_u8(hud.block, HUD_TELEMETRY_VALID, 1);
  hud_set_u8(hud.block, HUD_TELEMETRY_B44, 11);
  run();
  EXPECT_EQ(link_state().startup_setting_sent.load(), 1);
  testing::internal::CaptureStderr();
  packet_arrives();
  testing::internal::GetCapturedStderr();
  hud_set_u8(hud.block, HUD_TELEMETRY_VALID, 1);
  run();
  EXPECT_TRUE(sent_with_id(0x66).empty());
}

TEST_F(Watchdog, DateAndTime) {
  // Sent only while the link is up.
  camera_set_datetime(13, 5, 9, 24, 12, 2023);
  EXPECT_TRUE(captured_packets().empty());
  testing::internal::CaptureStderr();
  packet_arrives();
  testing::internal::GetCapturedStderr();
  camera_set_datetime(13, 5, 9, 24, 12, 2023);
  auto sent = captured_packets();
  ASSERT_EQ(sent.size(), 1u);
  EXPECT_EQ(to_hex(sent[0].data(), 18), "55 14 04 6D 02 01 64 00 40 02 54 E7 07 0C 18 0D 05 09");
  EXPECT_TRUE(link_packet_intact(sent[0].data(), 20));

  // The HUD's external time source, while its state is above 1.
  capture_clear();
  hud_set_u32(hud.block, HUD_TIME_SOURCE_STATE, 2);
  hud_set_f64(hud.block, HUD_TIME_SOURCE_VALUE, 1703423109.7);  // 2023-12-24 13:05:09 UTC
  run();
  auto dates = sent_with_id(0x54);
  ASSERT_EQ(dates.size(), 1u);
  EXPECT_EQ(to_hex(dates[0].data() + 11, 7), "E7 07 0C 18 0D 05 09");
  capture_clear();
  hud_set_u32(hud.block, HUD_TIME_SOURCE_STATE, 1);
  run();
  EXPECT_TRUE(sent_with_id(0x54).empty());
  hud_set_u32(hud.block, HUD_TIME_SOURCE_STATE, 2);
  hud_set_f64(hud.block, HUD_TIME_SOURCE_VALUE, std::nan(""));
  run();
  hud_set_f64(hud.block, HUD_TIME_SOURCE_VALUE, 1e300);
  run();
  EXPECT_TRUE(sent_with_id(0x54).empty());
  hud_set_u32(hud.block, HUD_TIME_SOURCE_STATE, 0);

  // The local clock, every run, until a viewer supplies the time.
  link_state().time_from_local_clock.store(1);
  run();
  dates = sent_with_id(0x54);
  ASSERT_EQ(dates.size(), 1u);
  EXPECT_GE(link_u16(dates[0].data(), 11), 2020);
  link_state().time_from_local_clock.store(0);
  capture_clear();
  run();
  EXPECT_TRUE(sent_with_id(0x54).empty());
}

TEST_F(Watchdog, RecordStampClearedAfterFiveSeconds) {
  hud_set_u32(hud.block, HUD_RECORD64_TIME, 100000 - 5000);
  run();
  EXPECT_EQ(hud_get_u32(hud.block, HUD_RECORD64_TIME), 95000u);
  fake_clock_advance(1);
  run();
  EXPECT_EQ(hud_get_u32(hud.block, HUD_RECORD64_TIME), 0u);
}

TEST(TimePart, FieldsInLocalTime) {
  setenv("TZ", "UTC", 1);
  tzset();
  EXPECT_EQ(time_part(0, "%Y"), 1970);
  EXPECT_EQ(time_part(1703423109, "%d"), 24);
  EXPECT_EQ(time_part(1703423109, "%m"), 12);
  EXPECT_EQ(time_part(1703423109, "%H"), 13);
  EXPECT_EQ(time_part(1703423109, "%M"), 5);
  EXPECT_EQ(time_part(1703423109, "%S"), 9);
  EXPECT_EQ(time_part(1703423109, "%Y%m"), -1);  // does not fit four characters
  // Year 12347 (where time_t has 64 bits; 32-bit armhf ends in 2038).
  if (sizeof(time_t) >= 8) {
    EXPECT_EQ(time_part(static_cast<time_t>(327491596800LL), "%Y"), -1);
  }
}

}  // namespace
