#include "viewer/viewer_send.h"

#include <gtest/gtest.h>

#include <memory>
#include <vector>

#include "core/config_record.h"
#include "viewer/client_table.h"
#include "testing/viewer_fixture.h"

namespace {

using viewer_test::frame_sequence;
using viewer_test::LoopSocket;
using Bytes = std::vector<uint8_t>;

struct Tapped {
  int channel;
  Bytes payload;
};
std::vector<Tapped> g_tapped;
void record_tap(int channel, const uint8_t* p, size_t n) {
  g_tapped.push_back({channel, Bytes(p, p + n)});
}

struct ViewerSendTest : ::testing::Test {
  LoopSocket device;
  void SetUp() override {
    g_tapped.clear();
    viewer_set_tap(record_tap);
    discovery_set_socket(device.fd);
    client_table_clear();
    // Every viewer here is a loopback socket: the fan-out is tested over the
    // whole table, beyond one address's share.
    client_set_max_per_address(kClientSlots);
    cfg_set(config_record()->disable_video_stream, 0);
  }
  void TearDown() override {
    viewer_set_tap(nullptr);
    discovery_set_socket(-1);
    client_table_clear();
    client_set_max_per_address(kClientPerAddressDefault);
    cfg_set(config_record()->disable_video_stream, 0);
  }
  static void add(const LoopSocket& s, uint8_t data_only) {
    ASSERT_EQ(client_register("127.0.0.1", s.port, data_only), 1);
    client_answered("127.0.0.1", s.port);
  }
  static Bytes header(int channel, uint32_t seq) {
    return {'B',
            uint8_t(channel),
            0,
            0,
            uint8_t(seq),
            uint8_t(seq >> 8),
            uint8_t(seq >> 16),
            uint8_t(seq >> 24),
            0,
            0,
            0,
            0};
  }
  static Bytes cat(Bytes a, const Bytes& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
  }
};

TEST_F(ViewerSendTest, ShortMessagesGoldenBytes) {
  LoopSocket full;
  add(full, 0);
  uint32_t seq = viewer_next_sequence();
  viewer_send_short16(0, 0x1234, -1, 70000);
  viewer_send_short8(5, 1, 2, 0, 0, 0, 0);
  viewer_send_short8(6, 0x17, 3, 0, 1, 6, 0);
  EXPECT_EQ(full.receive(), cat(header(0, seq), {0x00, 0x34, 0x12, 0xFF, 0xFF, 0x70, 0x11}));
  EXPECT_EQ(full.receive(), cat(header(0, seq + 1), {5, 1, 2, 0, 0, 0, 0}));
  EXPECT_EQ(full.receive(), cat(header(0, seq + 2), {6, 0x17, 3, 0, 1, 6, 0}));
  ASSERT_EQ(g_tapped.size(), 3u);
  EXPECT_EQ(g_tapped[0].payload, (Bytes{0x00, 0x34, 0x12, 0xFF, 0xFF, 0x70, 0x11}));
}

TEST_F(ViewerSendTest, DataOnlyViewersGetNoVideoAndNumbersAreShared) {
  LoopSocket full, data;
  add(full, 0);
  add(data, 1);
  uint32_t seq = viewer_next_sequence();
  const Bytes json = {'{', '}'};
  viewer_send(json.data(), json.size(), 0);
  const Bytes video = {0xAA, 0xBB};
  viewer_send(video.data(), video.size(), 1);
  viewer_send(json.data(), json.size(), 0);

  EXPECT_EQ(full.receive(), cat(header(0, seq), json));
  EXPECT_EQ(full.receive(), cat(header(1, seq + 1), video));
  EXPECT_EQ(full.receive(), cat(header(0, seq + 2), json));
  EXPECT_EQ(data.receive(), cat(header(0, seq), json));
  EXPECT_EQ(frame_sequence(data.receive()), seq + 2);  // a gap where the video went
  EXPECT_TRUE(data.quiet());
  EXPECT_TRUE(full.quiet());
}

TEST_F(ViewerSendTest, OtherChannelsSendNothingAndKeepTheCounter) {
  LoopSocket full;
  add(full, 0);
  uint32_t seq = viewer_next_sequence();
  const Bytes p = {1, 2, 3};
  viewer_send(p.data(), p.size(), 2);
  viewer_send(p.data(), p.size(), -1);
  EXPECT_EQ(viewer_next_sequence(), seq);
  EXPECT_TRUE(g_tapped.empty());
  EXPECT_TRUE(full.quiet());
}

TEST_F(ViewerSendTest, NoViewersStillAdvancesTheCounter) {
  uint32_t seq = viewer_next_sequence();
  viewer_send_short8(6, 1, 0, 0, 0, 0, 0);
  EXPECT_EQ(viewer_next_sequence(), seq + 1);
  EXPECT_EQ(g_tapped.size(), 1u);
  discovery_set_socket(-1);  // before the socket exists, too
  viewer_send_short8(6, 1, 0, 0, 0, 0, 0);
  EXPECT_EQ(viewer_next_sequence(), seq + 2);
}

TEST_F(ViewerSendTest, PayloadLimitsAreEnforcedWhole) {
  LoopSocket full;
  add(full, 0);
  uint64_t refused = viewer_refused_count();
  uint32_t seq = viewer_next_sequence();
  Bytes data(kViewerDataMax, 0x11);
  viewer_send(data.data(), data.size(), 0);
  EXPECT_EQ(full.receive().size(), 4000u);
  data.push_back(0x11);
  viewer_send(data.data(), data.size(), 0);
  EXPECT_EQ(viewer_refused_count(), refused + 1);

  Bytes video(kViewerVideoMax, 0x22);
  viewer_send(video.data(), video.size(), 1);
  EXPECT_EQ(full.receive().size(), 65500u);
  video.push_back(0x22);
  viewer_send(video.data(), video.size(), 1);
  EXPECT_EQ(viewer_refused_count(), refused + 2);
  EXPECT_EQ(viewer_next_sequence(), seq + 2);  // refused payloads take no number
  EXPECT_TRUE(full.quiet());
  EXPECT_EQ(g_tapped.size(), 2u);
}

TEST_F(ViewerSendTest, VideoDatagramOf65000BytesArrivesWithItsHeader) {
  LoopSocket full;
  add(full, 0);
  Bytes video(65000);
  for (size_t i = 0; i < video.size(); i++) video[i] = uint8_t(i * 7);
  uint32_t seq = viewer_next_sequence();
  viewer_forward_video(video.data(), video.size());
  Bytes got = full.receive();
  ASSERT_EQ(got.size(), 65012u);
  EXPECT_EQ(Bytes(got.begin(), got.begin() + 12), header(1, seq));
  EXPECT_EQ(Bytes(got.begin() + 12, got.end()), video);
}

TEST_F(ViewerSendTest, VideoFrameWithRoomGoesOutAsOnePiece) {
  LoopSocket full, data;
  add(full, 0);
  add(data, 1);
  Bytes frame(12 + 65000, 0xEE);  // the room in front holds anything
  for (size_t i = 12; i < frame.size(); i++) frame[i] = uint8_t(i * 3);
  Bytes payload(frame.begin() + 12, frame.end());
  uint32_t seq = viewer_next_sequence();
  viewer_forward_video_frame(frame.data(), 65000);
  EXPECT_EQ(full.receive(), cat(header(1, seq), payload));
  EXPECT_TRUE(data.quiet());
  ASSERT_EQ(g_tapped.size(), 1u);
  EXPECT_EQ(g_tapped[0].channel, 1);
  EXPECT_EQ(g_tapped[0].payload, payload);

  uint64_t refused = viewer_refused_count();
  Bytes big(12 + kViewerVideoMax + 1);
  viewer_forward_video_frame(big.data(), kViewerVideoMax + 1);
  EXPECT_EQ(viewer_refused_count(), refused + 1);
  cfg_set(config_record()->disable_video_stream, 1);
  viewer_forward_video_frame(frame.data(), 100);
  EXPECT_EQ(viewer_next_sequence(), seq + 1);
  EXPECT_TRUE(full.quiet());
}

TEST_F(ViewerSendTest, DisabledVideoStreamSendsNoVideoButData) {
  LoopSocket full;
  add(full, 0);
  cfg_set(config_record()->disable_video_stream, 1);
  uint32_t seq = viewer_next_sequence();
  const Bytes video = {1, 2, 3};
  viewer_forward_video(video.data(), video.size());
  EXPECT_EQ(viewer_next_sequence(), seq);
  EXPECT_TRUE(full.quiet());
  viewer_send_short8(6, 1, 0, 0, 0, 0, 0);
  EXPECT_EQ(frame_sequence(full.receive()), seq);
}

// A data message offered while a video message is going out is lost.
void send_data_from_tap(int channel, const uint8_t* p, size_t n) {
  record_tap(channel, p, n);
  if (channel == 1) {
    viewer_send_short8(6, 1, 0, 0, 0, 0, 0);
    viewer_send_short16(0, 1, 2, 3);
    const uint8_t json[] = {'{', '}'};
    viewer_send(json, 2, 0);
  }
}

TEST_F(ViewerSendTest, DataIsDroppedWhileVideoIsInFlight) {
  LoopSocket full;
  add(full, 0);
  viewer_set_tap(send_data_from_tap);
  uint64_t dropped = viewer_dropped_count();
  uint32_t seq = viewer_next_sequence();
  const Bytes video = {9, 9};
  viewer_send(video.data(), video.size(), 1);
  EXPECT_EQ(viewer_dropped_count(), dropped + 3);
  ASSERT_EQ(g_tapped.size(), 1u);
  viewer_send_short8(6, 1, 0, 0, 0, 0, 0);  // after the video: goes out
  EXPECT_EQ(frame_sequence(full.receive()), seq);
  EXPECT_EQ(frame_sequence(full.receive()), seq + 1);
  EXPECT_TRUE(full.quiet());
}

TEST_F(ViewerSendTest, TwentyViewersInSlotOrderAndAGoneOneDoesNotStopThem) {
  std::vector<std::unique_ptr<LoopSocket>> viewers;
  for (int i = 0; i < kClientSlots; i++) viewers.push_back(std::make_unique<LoopSocket>());
  uint16_t gone_port = viewers[0]->port;
  viewers[0].reset();  // slot 0 points at a closed port
  ASSERT_EQ(client_register("127.0.0.1", gone_port, 0), 1);
  client_answered("127.0.0.1", gone_port);
  for (int i = 1; i < kClientSlots; i++) add(*viewers[i], i % 2);
  uint32_t seq = viewer_next_sequence();
  const Bytes video = {7};
  viewer_send(video.data(), video.size(), 1);
  viewer_send_short8(6, 1, 0, 0, 0, 0, 0);
  for (int i = 1; i < kClientSlots; i++) {
    Bytes f = viewers[i]->receive();
    if (i % 2 == 0) {
      EXPECT_EQ(f, cat(header(1, seq), video)) << i;
      f = viewers[i]->receive();
    }
    EXPECT_EQ(frame_sequence(f), seq + 1) << i;
  }
}

TEST_F(ViewerSendTest, SendOneNamesItsDestination) {
  LoopSocket v;
  const uint8_t b = 'B';
  EXPECT_EQ(viewer_send_one(&b, 1, "127.0.0.1", v.port), 1);
  EXPECT_EQ(v.receive(), Bytes{'B'});
  EXPECT_LT(viewer_send_one(&b, 1, "no address", v.port), 0);
  EXPECT_LT(viewer_send_one(&b, 1, nullptr, v.port), 0);
}

}  // namespace
