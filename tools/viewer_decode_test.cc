#include "tools/viewer_decode.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

using Bytes = std::vector<uint8_t>;

std::string decode(const Bytes& b) { return viewer_decode_json(b.data(), b.size()); }

Bytes frame(int channel, uint32_t seq, Bytes payload) {
  Bytes f(12 + payload.size(), 0);
  f[0] = 'B';
  f[1] = uint8_t(channel);
  for (int i = 0; i < 4; i++) f[4 + i] = uint8_t(seq >> (8 * i));
  for (size_t i = 0; i < payload.size(); i++) f[12 + i] = payload[i];
  return f;
}

TEST(ViewerDecode, TableOfDatagrams) {
  struct Row {
    Bytes datagram;
    const char* json;
  } rows[] = {
      {{'B'}, R"({"reply":"registered"})"},
      {frame(0, 5, {6, 0x13, 2, 0, 1, 6, 0}),
       R"({"channel":"data","sequence":5,"length":7,"code":6,"name":"beacon","flags":{"value":19,)"
       R"("always":1,"apstate":1,"hdmi_enabled":0,"camera_connected":1,"hud_2625_bit0":0,)"
       R"("hud_2626_bit0":0},"clients":2,"byte3":0,"focus_assistant_enabled":1,"rc_state":6,"byte6":0})"},
      {frame(0, 0x01020304, {5, 1, 2, 0, 0, 0, 0}),
       R"({"channel":"data","sequence":16909060,"length":7,"code":5,"name":"link_state","link":1,)"
       R"("link_name":"video","state":2,"connected":true})"},
      {frame(0, 1, {0, 0x10, 0x27, 0xF0, 0xD8, 0, 0}),
       R"({"channel":"data","sequence":1,"length":7,"code":0,"name":"gimbal_angles",)"
       R"("pan_x100":10000,"tilt_x100":-10000,"dutch_x100":0})"},
      {frame(1, 7, {1, 2, 3}), R"({"channel":"video","sequence":7,"length":3})"},
      {frame(0, 8, {'{', '"', 'a', '"', ':', '"', 'b', '"', '}'}),
       R"({"channel":"data","sequence":8,"length":9,"json":{"a":"b"}})"},
      {frame(0, 9, {'{', 'x'}), R"({"channel":"data","sequence":9,"length":2,"text":"{x"})"},
      {frame(0, 10, {99, 1}),
       R"({"channel":"data","sequence":10,"length":2,"code":99,"hex":"6301"})"},
      {{'C', 0, 0}, R"({"unframed":"430000","length":3})"},
  };
  for (const Row& r : rows) EXPECT_EQ(decode(r.datagram), r.json);
}

TEST(ViewerDecode, TelemetryAndRcReport) {
  Bytes t(24, 0);
  t[0] = 7;
  t[1] = 1;     // camera mode: video
  t[2] = 0x80;  // status: recording
  t[3] = 0x78;  // u32 at 20 = 0x12345678
  t[4] = 0x56;
  t[5] = 0x34;
  t[6] = 0x12;
  t[23] = 44;
  std::string s = decode(frame(0, 1, t));
  EXPECT_NE(s.find(R"("camera_mode":1,"camera_status":128,"u32_20":305419896)"), std::string::npos)
      << s;
  EXPECT_NE(s.find(R"("b44":44,"recording":true)"), std::string::npos) << s;

  Bytes rc(67, 0);
  rc[0] = 15;
  rc[1] = 6;
  rc[2] = 32;
  rc[3] = 0xDC;  // channel 0 = 1500
  rc[4] = 0x05;
  s = decode(frame(0, 2, rc));
  EXPECT_NE(s.find(R"("name":"rc_report","rc_state":6,"count":32,"channels":[1500,0,)"),
            std::string::npos)
      << s;

  // A short camera state reads zeros, never past the end.
  s = decode(frame(0, 3, {2, 1}));
  EXPECT_NE(s.find(R"("name":"camera_state","b31":1,"b21":0)"), std::string::npos) << s;
}

}  // namespace
