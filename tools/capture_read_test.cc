// The capture readers and the decoder on small recorded samples: candump -l
// lines, pcap files as the daemon's --capture writes them and as they arrive
// spoilt, and packets the daemon's reassembly throws away.
#include "tools/capture_read.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdio>
#include <string>
#include <vector>

#include "link/can_capture.h"
#include "link/can_frame.h"
#include "tools/capture_decode.h"
#include "tools/packet_build.h"

namespace {

using Bytes = std::vector<uint8_t>;

struct Line {
  const char* text;
  bool ok;
  uint32_t id;
  size_t len;
  const char* why;
};

TEST(CaptureRead, CandumpLines) {
  const Line lines[] = {
      {"(1765300000.123456) can0 413#550E046601090000", true, 0x413, 8, ""},
      {"(1.5) vcan0 412#", true, 0x412, 0, ""},
      {"(1.5) can0 413#55 R", true, 0x413, 1, ""},  // candump -x direction after the frame
      {"(1.5) can0 12345678#0102", true, 0x12345678, 2, ""},
      {"(1.5) can0 413##1"
       "00112233445566778899AABB",
       true, 0x413, 12, ""},
      {"(1.5) can0 413#R", true, 0x413, 0, ""},
      {"(1.5) can0 413#55G0", false, 0, 0, "bad data digit"},
      {"(1.5) can0 413#550", false, 0, 0, "odd number of data digits"},
      {"(1.5) can0 413#112233445566778899", false, 0, 0, "bad data length"},
      {"(1.5) can0 413##1"
       "001122334455667788",
       false, 0, 0, "bad data length"},
      {"(1.5) can0 800#00", false, 0, 0, "bad CAN id"},
      {"(1.5) can0 41#00", false, 0, 0, "bad CAN id"},
      {"1.5 can0 413#00", false, 0, 0, "no (time) at the start"},
      {"(x) can0 413#00", false, 0, 0, "bad time"},
      {"(1.5)", false, 0, 0, "no interface"},
  };
  for (const Line& l : lines) {
    CaptureFrame f;
    const char* why = "";
    std::string s = l.text;
    EXPECT_EQ(capture_parse_candump_line(s.data(), s.size(), &f, &why), l.ok) << l.text;
    if (l.ok) {
      EXPECT_EQ(f.can_id, l.id) << l.text;
      EXPECT_EQ(f.len, l.len) << l.text;
    } else {
      EXPECT_STREQ(why, l.why) << l.text;
    }
  }
}

struct Collected {
  std::vector<CaptureFrame> frames;
  static void add(const CaptureFrame& f, void* ctx) {
    static_cast<Collected*>(ctx)->frames.push_back(f);
  }
};

TEST(CaptureRead, CandumpLogSkipsBadLinesAndKeepsTheRest) {
  std::string log =
      "(10.000001) can0 413#550E046601090000\n"
      "garbage\r\n"
      "\n"
      "(10.000002) can0 413#1122334455667788AA\n"
      "(10.250000) can0 412#0102\n";
  Collected c;
  CaptureReport r;
  std::string error;
  ASSERT_TRUE(capture_read_memory(reinterpret_cast<const uint8_t*>(log.data()), log.size(),
                                  Collected::add, &c, &r, &error));
  ASSERT_EQ(c.frames.size(), 2u);
  EXPECT_DOUBLE_EQ(c.frames[1].time, 10.25);
  EXPECT_EQ(r.skipped, 2u);
  EXPECT_EQ(r.first_skip, "line 2: no (time) at the start");
}

// A pcap file as the daemon writes it, built through its own writer.
Bytes daemon_capture(const std::vector<std::pair<uint32_t, Bytes>>& frames) {
  char path[] = "/tmp/pqw-capture-test-XXXXXX";
  int fd = mkstemp(path);
  close(fd);
  can_capture_set(path);
  EXPECT_TRUE(can_capture_open());
  for (const auto& [id, data] : frames)
    can_capture_frame(id, data.data(), static_cast<uint8_t>(data.size()));
  can_capture_close();
  Bytes out;
  FILE* f = fopen(path, "rbe");
  int ch;
  while ((ch = fgetc(f)) != EOF) out.push_back(static_cast<uint8_t>(ch));
  fclose(f);
  unlink(path);
  return out;
}

TEST(CaptureRead, PcapAsTheDaemonWritesIt) {
  Bytes file = daemon_capture({{0x413, {0x55, 0x0E, 0x04}}, {0x412, {1, 2, 3, 4, 5, 6, 7, 8}}});
  ASSERT_EQ(file.size(), kCanCaptureHeader + 2 * kCanCaptureRecord);
  // Header: magic, version 2.4, snaplen 72, link type 227; the frame's id big-endian.
  EXPECT_EQ(Bytes(file.begin(), file.begin() + 8), (Bytes{0xD4, 0xC3, 0xB2, 0xA1, 2, 0, 4, 0}));
  EXPECT_EQ(Bytes(file.begin() + 16, file.begin() + 24), (Bytes{72, 0, 0, 0, 227, 0, 0, 0}));
  const uint8_t* rec = file.data() + kCanCaptureHeader + 16;
  EXPECT_EQ(Bytes(rec, rec + 16),
            (Bytes{0, 0, 4, 0x13, 3, 0, 0, 0, 0x55, 0x0E, 0x04, 0, 0, 0, 0, 0}));

  Collected c;
  CaptureReport r;
  std::string error;
  ASSERT_TRUE(capture_read_memory(file.data(), file.size(), Collected::add, &c, &r, &error))
      << error;
  ASSERT_EQ(c.frames.size(), 2u);
  EXPECT_STREQ(r.format, "pcap");
  EXPECT_EQ(c.frames[0].can_id, 0x413u);
  EXPECT_EQ(c.frames[0].len, 3);
  EXPECT_EQ(c.frames[1].can_id, 0x412u);
  EXPECT_EQ(c.frames[1].data[7], 8);
  EXPECT_GT(c.frames[0].time, 1e9);  // wall-clock seconds

  // Cut inside the second record: the first frame stays, the cut is said.
  Collected cut;
  Bytes shorter(file.begin(), file.end() - 5);
  ASSERT_TRUE(
      capture_read_memory(shorter.data(), shorter.size(), Collected::add, &cut, &r, &error));
  EXPECT_EQ(cut.frames.size(), 1u);
  EXPECT_FALSE(r.cut_short.empty());

  // A record whose length byte says 9 on a classic frame is skipped.
  Bytes bad = file;
  bad[kCanCaptureHeader + 16 + 4] = 9;
  Collected skipped;
  ASSERT_TRUE(capture_read_memory(bad.data(), bad.size(), Collected::add, &skipped, &r, &error));
  EXPECT_EQ(skipped.frames.size(), 1u);
  EXPECT_EQ(r.first_skip, "record 1: bad data length");

  // Another link type (Ethernet) is refused with a reason.
  Bytes ether = file;
  ether[20] = 1;
  EXPECT_FALSE(capture_read_memory(ether.data(), ether.size(), Collected::add, &c, &r, &error));
  EXPECT_NE(error.find("is not SocketCAN (227)"), std::string::npos) << error;

  // The header alone, or less of it.
  for (size_t n : {size_t{24}, size_t{10}}) {
    Collected none;
    Bytes head(file.begin(), file.begin() + static_cast<long>(n));
    bool ok = capture_read_memory(head.data(), head.size(), Collected::add, &none, &r, &error);
    EXPECT_TRUE(none.frames.empty());
    if (n == 24) {
      EXPECT_TRUE(ok);
    }
  }
}

Bytes packet(size_t length, uint8_t set, uint8_t id) {
  Bytes payload(length - kLinkOverhead, 0x11);
  Bytes p(length);
  link_packet_build(p.data(), p.size(), {0x01, 0x00, 0x0007, 0x00, set, id}, payload.data(),
                    payload.size());
  return p;
}

// Frames of a byte string on one id, 8 bytes each, at 1 ms steps from t.
void frames_of(std::vector<CaptureFrame>* out, uint32_t id, const Bytes& b, double t,
               size_t skip_frame = SIZE_MAX) {
  for (size_t i = 0; i < can_frame_count(b.size()); i++) {
    if (i == skip_frame) continue;
    CanFrame cf = can_frame_chunk(id, b.data(), b.size(), i);
    CaptureFrame f;
    f.time = t + 0.001 * static_cast<double>(i);
    f.can_id = id;
    f.len = cf.len;
    memcpy(f.data, cf.data, cf.len);
    out->push_back(f);
  }
}

TEST(CaptureDecode, MarksWhatTheReassemblyDrops) {
  Bytes good = packet(25, 0x04, 0x05);
  Bytes spoilt = packet(49, 0x02, 0x80);
  spoilt[20] ^= 0xFF;
  Bytes odd = packet(16, 0x02, 0x8F);
  Bytes command = packet(20, 0x04, 0x0C);

  std::vector<CaptureFrame> frames;
  frames_of(&frames, kCanIdCamera, packet(49, 0x02, 0x80), 1.0, 2);  // a frame lost
  frames_of(&frames, kCanIdCamera, good, 2.0);
  frames_of(&frames, kCanIdCamera, spoilt, 3.0);
  frames_of(&frames, kCanIdCamera, odd, 4.0);
  frames_of(&frames, kCanIdDaemon, command, 5.0);
  frames_of(&frames, 0x100, {1, 2, 3}, 6.0);
  frames_of(&frames, kCanIdCamera, good, 7.0, 3);  // cut short at the end

  CaptureDecoder d;
  capture_decoder_init(&d);
  for (const CaptureFrame& f : frames) capture_decoder_frame(&d, f);
  capture_decoder_finish(&d);

  struct Want {
    DecodeKind kind;
    uint32_t id;
    size_t expected;
  } want[] = {
      {DecodeKind::kBroken, kCanIdCamera, 49}, {DecodeKind::kPacket, kCanIdCamera, 25},
      {DecodeKind::kBadCrc, kCanIdCamera, 49}, {DecodeKind::kLength, kCanIdCamera, 16},
      {DecodeKind::kPacket, kCanIdDaemon, 20}, {DecodeKind::kBroken, kCanIdCamera, 25},
  };
  ASSERT_EQ(d.events.size(), std::size(want));
  for (size_t i = 0; i < std::size(want); i++) {
    EXPECT_EQ(d.events[i].kind, want[i].kind) << i;
    EXPECT_EQ(d.events[i].can_id, want[i].id) << i;
    EXPECT_EQ(d.events[i].expected, want[i].expected) << i;
  }
  EXPECT_EQ(d.other_frames, 1u);

  std::string text = decode_event_text(d.events[1], 1.0);
  EXPECT_NE(text.find("413 camera->daemon 01->00 seq 7 type 00 set 04 id 05 gimbal attitude (25)"),
            std::string::npos)
      << text;
  EXPECT_NE(text.find(" locked=0"), std::string::npos) << text;
  EXPECT_NE(decode_event_text(d.events[2], 0).find("BAD CRC16"), std::string::npos);
  std::string json = decode_event_json(d.events[4]);
  EXPECT_NE(json.find("\"direction\":\"out\""), std::string::npos) << json;
  EXPECT_NE(json.find("\"name\":\"gimbal speed\""), std::string::npos) << json;
}

}  // namespace
