#include "viewer/video_source.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "core/config_record.h"
#include "core/hud_block.h"
#include "viewer/client_table.h"
#include "viewer/viewer_allow.h"
#include "viewer/viewer_send.h"
#include "testing/fake_clock.h"
#include "testing/viewer_fixture.h"

namespace {

using Bytes = std::vector<uint8_t>;

struct Tapped {
  int channel;
  Bytes payload;
};
std::vector<Tapped> g_sent;
void tap(int channel, const uint8_t* p, size_t n) { g_sent.push_back({channel, Bytes(p, p + n)}); }

struct VideoSourceTest : ::testing::Test {
  uint8_t hud[kHudSize] = {};
  void SetUp() override {
    fake_clock_install(50000, false);
    hud_set_block(hud);
    g_sent.clear();
    viewer_set_tap(tap);
    cfg_set(config_record()->disable_video_stream, 0);
  }
  void TearDown() override {
    // Leave the source disconnected for the next test.
    fake_clock_advance(100000);
    testing::internal::CaptureStderr();
    video_watchdog();
    testing::internal::GetCapturedStderr();
    viewer_set_tap(nullptr);
    hud_set_block(nullptr);
    fake_clock_remove();
    cfg_set(config_record()->disable_video_stream, 0);
  }
  std::string text() {
    char t[19];
    hud_get_text(hud, HUD_VIDEO_STATUS, 19, t, sizeof t);
    return t;
  }
  void expect_state(uint8_t on) {
    EXPECT_EQ(video_connected(), on);
    EXPECT_EQ(hud_get_u8(hud, HUD_VIDEO_CONNECTED), on);
    EXPECT_EQ(cfg_get(config_record()->camera_connected), on);
  }
  std::string watchdog() {
    g_sent.clear();
    testing::internal::CaptureStderr();
    video_watchdog();
    return testing::internal::GetCapturedStderr();
  }
};

TEST_F(VideoSourceTest, BeforeAnyVideoEveryPassReportsDisconnected) {
  for (int i = 0; i < 3; i++) {
    fake_clock_advance(1000);
    EXPECT_EQ(watchdog(), "");
    EXPECT_EQ(text(), "video disconnected");
    ASSERT_EQ(g_sent.size(), 1u);
    EXPECT_EQ(g_sent[0].channel, 0);
    EXPECT_EQ(g_sent[0].payload, (Bytes{5, 1, 0, 0, 0, 0, 0}));
  }
  expect_state(0);
}

TEST_F(VideoSourceTest, ConnectedLostAfterMoreThan3000msAndBack) {
  const Bytes d = {0x47, 1, 2};
  testing::internal::CaptureStderr();
  video_on_datagram(d.data(), d.size());
  video_on_datagram(d.data(), d.size());
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "video connected\n");
  expect_state(1);
  EXPECT_EQ(video_last_receive(), 50000u);
  ASSERT_EQ(g_sent.size(), 2u);
  EXPECT_EQ(g_sent[0].channel, 1);
  EXPECT_EQ(g_sent[0].payload, d);

  fake_clock_set(52500);  // a 2.5 s pause
  EXPECT_EQ(watchdog(), "");
  EXPECT_EQ(text(), "");
  EXPECT_EQ(g_sent[0].payload, (Bytes{5, 1, 2, 0, 0, 0, 0}));
  fake_clock_set(53000);  // exactly 3000 ms: still connected
  EXPECT_EQ(watchdog(), "");
  expect_state(1);
  fake_clock_set(53001);
  EXPECT_EQ(watchdog(), "video disconnected\n");
  expect_state(0);
  EXPECT_EQ(text(), "video disconnected");
  EXPECT_EQ(g_sent[0].payload, (Bytes{5, 1, 0, 0, 0, 0, 0}));
  fake_clock_set(54000);
  EXPECT_EQ(watchdog(), "");  // said once

  fake_clock_set(55000);
  testing::internal::CaptureStderr();
  video_on_datagram(d.data(), d.size());
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "video connected\n");
  expect_state(1);
  EXPECT_EQ(watchdog(), "");
  EXPECT_EQ(text(), "");
}

TEST_F(VideoSourceTest, FramesWithRoomCountLikeDatagrams) {
  Bytes frame(12 + 3, 0);
  frame[12] = 9;
  testing::internal::CaptureStderr();
  video_on_frame(frame.data(), 3);
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "video connected\n");
  expect_state(1);
  ASSERT_EQ(g_sent.size(), 1u);
  EXPECT_EQ(g_sent[0].channel, 1);
  EXPECT_EQ(g_sent[0].payload, (Bytes{9, 0, 0}));
}

TEST_F(VideoSourceTest, TakenDatagramsAreRelayedOnlyWhenWholeAndAdmitted) {
  std::vector<ViewerAllowNet> lan;
  std::string error;
  ASSERT_TRUE(viewer_allow_parse("192.168.2.0/24", &lan, &error));
  viewer_allow_set(lan);
  auto from = [](uint32_t host) {
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(host);
    return a;
  };
  struct Row {
    size_t length;
    int flags;
    uint32_t source;
    bool relayed;
  } rows[] = {
      {3, 0, 0x7F000001, true},                       // the producer on the Pi
      {3, 0, 0xC0A80228, true},                       // 192.168.2.40, admitted
      {3, 0, 0xC0A80909, false},                      // 192.168.9.9, not
      {0, 0, 0x7F000001, false},                      // empty
      {3, MSG_TRUNC, 0x7F000001, false},              // cut by the kernel
      {kVideoDatagramMax + 1, 0, 0x7F000001, false},  // over the limit
  };
  Bytes frame(12 + kVideoDatagramMax + 1, 7);
  uint64_t drops = video_oversize_drops();
  testing::internal::CaptureStderr();
  for (const Row& r : rows) {
    g_sent.clear();
    EXPECT_EQ(video_take(frame.data(), r.length, r.flags, from(r.source)), r.relayed) << r.length;
    EXPECT_EQ(g_sent.size(), r.relayed ? 1u : 0u);
  }
  testing::internal::GetCapturedStderr();
  viewer_allow_set({});
  EXPECT_EQ(video_oversize_drops() - drops, 2u);
}

TEST_F(VideoSourceTest, DisabledStreamStillHoldsTheConnectedState) {
  cfg_set(config_record()->disable_video_stream, 1);
  const Bytes d = {1};
  testing::internal::CaptureStderr();
  video_on_datagram(d.data(), d.size());
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "video connected\n");
  expect_state(1);
  EXPECT_TRUE(g_sent.empty());
  for (int i = 0; i < 5; i++) {
    fake_clock_advance(1000);
    video_on_datagram(d.data(), d.size());
    EXPECT_EQ(watchdog(), "");
  }
  expect_state(1);
}

TEST_F(VideoSourceTest, WatchdogReadsTheHudByte) {
  // The HUD byte is what the message and the text follow, as the display
  // processes see it.
  hud_set_u8(hud, HUD_VIDEO_CONNECTED, 1);
  fake_clock_advance(1000);
  watchdog();
  EXPECT_EQ(text(), "");
  EXPECT_EQ(g_sent[0].payload, (Bytes{5, 1, 2, 0, 0, 0, 0}));
  hud_set_u8(hud, HUD_VIDEO_CONNECTED, 0);
}

TEST(VideoSourceAdmits, LoopbackAlwaysOthersAsTheViewerListSays) {
  auto from = [](const char* text) {
    sockaddr_in a{};
    a.sin_family = AF_INET;
    inet_pton(AF_INET, text, &a.sin_addr);
    return a;
  };
  std::vector<ViewerAllowNet> lan;
  std::string error;
  ASSERT_TRUE(viewer_allow_parse("192.168.2.0/24", &lan, &error));
  struct Row {
    const char* source;
    bool everyone_admitted, lan_admitted;
  } rows[] = {{"127.0.0.1", true, true},
              {"127.3.4.5", true, true},
              {"192.168.2.40", true, true},
              {"192.168.9.9", true, false},
              {"10.0.0.1", true, false}};
  testing::internal::CaptureStderr();
  for (const Row& r : rows) {
    SCOPED_TRACE(r.source);
    viewer_allow_set({});
    EXPECT_EQ(video_source_admits(from(r.source)), r.everyone_admitted);
    viewer_allow_set(lan);
    EXPECT_EQ(video_source_admits(from(r.source)), r.lan_admitted);
    EXPECT_EQ(video_source_admits(from(r.source)), r.lan_admitted);
  }
  viewer_allow_set({});
  std::string err = testing::internal::GetCapturedStderr();
  // Each refused source is said once.
  EXPECT_EQ(err,
            "video datagram from 192.168.9.9 refused: not in --viewer-allow (logged once per "
            "source)\nvideo datagram from 10.0.0.1 refused: not in --viewer-allow (logged once "
            "per source)\n");
}

}  // namespace
