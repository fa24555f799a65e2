#include "link/link_decode.h"

#include <cmath>

#include "link/link_handler.h"
#include "link/link_packet.h"

namespace {

// Sorted by set, then id: what the daemon, the camera and the gimbal say.
constexpr LinkCommandName kNames[] = {
    {0x00, 0x01, "identify"},
    {0x00, 0x02, "identify (Ambarella)"},
    {0x00, 0x05, "camera setting (23 bytes)"},
    {0x00, 0x0E, "status reply"},
    {0x00, 0x50, "camera query"},
    {0x01, 0x01, "button"},
    {0x02, 0x10, "capture mode"},
    {0x02, 0x12, "camera setting 12"},
    {0x02, 0x16, "shot format"},
    {0x02, 0x18, "video format"},
    {0x02, 0x24, "focus type"},
    {0x02, 0x26, "aperture"},
    {0x02, 0x28, "shutter"},
    {0x02, 0x2A, "ISO"},
    {0x02, 0x2C, "white balance"},
    {0x02, 0x2E, "exposure compensation"},
    {0x02, 0x30, "focus point"},
    {0x02, 0x34, "digital zoom"},
    {0x02, 0x54, "date and time"},
    {0x02, 0x66, "video standard"},
    {0x02, 0x6A, "shot type"},
    {0x02, 0x6C, "timelapse"},
    {0x02, 0x6E, "panorama"},
    {0x02, 0x72, "camera request 72"},
    {0x02, 0x80, "telemetry"},
    {0x02, 0x81, "camera state"},
    {0x02, 0x82, "focus status"},
    {0x02, 0x83, "card"},
    {0x02, 0x84, "status 52"},
    {0x02, 0x85, "playback status"},
    {0x02, 0x86, "histogram"},
    {0x02, 0x95, "manual focus"},
    {0x02, 0xA4, "camera setting A4"},
    {0x02, 0xAF, "video format (short)"},
    {0x02, 0xB8, "zoom move"},
    {0x02, 0xFA, "focus type (alternate)"},
    {0x03, 0x42, "attitude for the flight controller"},
    {0x04, 0x01, "gimbal request 01"},
    {0x04, 0x05, "gimbal attitude"},
    {0x04, 0x08, "gimbal request 08"},
    {0x04, 0x0A, "gimbal angles"},
    {0x04, 0x0C, "gimbal speed"},
    {0x04, 0x1C, "gimbal query"},
    {0x04, 0x28, "gimbal parameters"},
    {0x04, 0x35, "gimbal request 35"},
    {0x07, 0x11, "MAC address"},
    {0x09, 0x0E, "status query"},
    {0x09, 0x51, "flight controller request 51"},
};

constexpr double kApertures[21] = {1.7, 1.8, 2.0, 2.2, 2.5, 2.8,  3.2,  3.5,  4.0,  4.5, 5.0,
                                   5.6, 6.3, 7.1, 8.0, 9.0, 10.0, 11.0, 13.0, 14.0, 16.0};

// 30 s to 1/8000 s, the order of the camera's shutter table.
constexpr uint32_t kShutterCodes[57] = {
    0x1E,   0x19,    0x14,   0x0F,    0x0A,   0x09,     0x08,    0x07,   0x06,     0x05,
    0x04,   0x20003, 0x03,   0x50002, 0x02,   0x60001,  0x30001, 0x01,   0x198001, 0x438001,
    0x8002, 0x58002, 0x8003, 0x8004,  0x8005, 0x198006, 0x8008,  0x800A, 0x5800C,  0x800F,
    0x8014, 0x8019,  0x801E, 0x8028,  0x8032, 0x803C,   0x8050,  0x8064, 0x8078,   0x80A0,
    0x80C8, 0x80F0,  0x8140, 0x8190,  0x81F4, 0x8280,   0x8320,  0x83E8, 0x84E2,   0x8640,
    0x87D0, 0x89C4,  0x8C80, 0x8FA0,  0x9388, 0x9900,   0x9F40};

// Exposure compensation codes 7..25 in tenths of a stop.
constexpr int8_t kEvTenths[19] = {-30, -27, -23, -20, -17, -13, -10, -7, -3, 0,
                                  3,   7,   10,  13,  17,  20,  23,  27, 30};

constexpr bool names_sorted() {
  for (size_t i = 1; i < sizeof kNames / sizeof kNames[0]; i++) {
    unsigned a = kNames[i - 1].set << 8 | kNames[i - 1].id, b = kNames[i].set << 8 | kNames[i].id;
    if (a >= b) return false;
  }
  return true;
}
static_assert(names_sorted());

}  // namespace

const char* link_command_name(uint8_t set, uint8_t id) {
  for (const LinkCommandName& n : kNames)
    if (n.set == set && n.id == id) return n.name;
  return nullptr;
}

const LinkCommandName* link_command_names(size_t* count) {
  *count = sizeof kNames / sizeof kNames[0];
  return kNames;
}

int link_aperture_index(double f_number) {
  for (int i = 0; i < 21; i++)
    if (kApertures[i] == f_number) return i;
  return -1;
}

int link_shutter_index(uint32_t code) {
  for (int i = 0; i < 57; i++)
    if (kShutterCodes[i] == code) return i;
  return -1;
}

int link_ev_tenths(uint8_t code) { return code >= 7 && code <= 25 ? kEvTenths[code - 7] : 0; }

bool link_decode_attitude(const uint8_t* p, size_t length, LinkAttitude* a) {
  if (length != 25 || p[9] != 0x04 || p[10] != 0x05) return false;
  a->raw_tilt = link_i16(p, 11);
  a->raw_dutch = link_i16(p, 13);
  a->raw_pan = link_i16(p, 15);
  a->tilt = a->raw_tilt >= 0 ? a->raw_tilt * 45.0 / 347.0 : a->raw_tilt * 135.0 / 1293.0;
  a->dutch = -static_cast<double>(a->raw_dutch) * 60.0 / 490.0;
  a->pan = a->raw_pan * 350.0 / 3260.0;
  a->locked = p[17] == 0 ? 1 : 0;
  return true;
}

LinkFocus link_decode_focus(const uint8_t* p) {
  LinkFocus f{};
  f.range = link_u16(p, 12);
  f.position = link_u16(p, 14);
  float fraction = static_cast<float>(f.position) / static_cast<float>(f.range);
  // No range reported yet: 0 % rather than a division by zero. With a range
  // of 1 or more the figure stays under 6.6 million.
  f.percent = f.range == 0 ? 0 : static_cast<int>(fraction * 100.0f);
  f.value100 = std::round(link_f32(p, 16) * 100.0f);
  f.bit2 = (p[11] >> 2) & 1;
  f.mf_available = p[11] & 1;
  f.x = link_f32(p, 24);
  f.y = link_f32(p, 28);
  f.b32 = p[32];
  f.assistants = p[42];
  return f;
}

LinkShotType link_decode_shot_type(const uint8_t* p, size_t length, LinkShotType s) {
  switch (p[68]) {
    case 1:
      s.mode = 0, s.sub = 0;
      break;
    case 2:
      s.mode = 0, s.sub = 2;
      break;
    case 4:
      s.mode = 1;
      if (p[44] == 3) s.sub = 0;
      if (p[44] == 5) s.sub = 1;
      if (p[44] == 7) s.sub = 2;
      break;
    case 5:
      s.mode = 1;
      if (p[71] == 3) s.sub = 3;
      if (p[71] == 5) s.sub = 4;
      break;
    case 6:
      if (p[46] == 1 && p[45] == 0) {
        s.mode = 0, s.sub = 1;
      } else if (p[46] == 0xFF && p[45] == 0) {
        s.mode = 2;
        if (p[47] == 10) s.sub = 0;
        if (p[47] == 30) s.sub = 1;
      } else if (p[45] == 2) {
        // Only the 104-byte state carries the timelapse figures; an 85-byte
        // one keeps the last known ones rather than reading past its end.
        if (length >= 90) {
          s.interval = static_cast<uint16_t>(link_u16(p, 86) / 10);
          s.duration = link_u16(p, 88);
        }
        s.mode = 4;
      }
      break;
    case 7:
      s.mode = 3;
      if (p[72] == 1) s.sub = 1;
      if (p[72] == 3) s.sub = 2;
      if (p[72] == 4) s.sub = 3;
      if (p[72] == 5) s.sub = 0;
      if (p[72] == 7) s.sub = 4;
      break;
    default:
      break;
  }
  return s;
}

LinkCameraState link_decode_camera_state(const uint8_t* p) {
  LinkCameraState c{};
  c.aperture = link_i16(p, 49);
  c.f_number = c.aperture / 100.0;
  c.ev_tenths = link_ev_tenths(p[17]);
  uint16_t v38 = link_u16(p, 38);
  c.v38 = static_cast<int16_t>(v38 == 255 ? 2 : v38 == 256 ? 3 : v38 == 257 ? 1 : 0);
  c.shutter = link_u24(p, 13);
  return c;
}

void link_describe_fields(const uint8_t* p, size_t length, LinkFieldFn fn, void* ctx) {
  if (length < 13 || length > 255 || p[1] != length) return;
  switch (length) {
    case 22:
      fn("card_value", link_u24(p, 14), ctx);
      break;
    case 25: {
      LinkAttitude a;
      if (!link_decode_attitude(p, length, &a)) break;
      fn("pan", a.pan, ctx);
      fn("tilt", a.tilt, ctx);
      fn("dutch", a.dutch, ctx);
      fn("locked", a.locked, ctx);
      break;
    }
    case 49:
    case 50:
      fn("status", p[11], ctx);
      fn("recording", (p[11] >> 6) == 2, ctx);
      fn("camera_mode", p[15], ctx);
      fn("flags13", p[13], ctx);
      fn("interval_active", (p[13] >> 4) & 1, ctx);
      fn("u32_20", link_u32(p, 20), ctx);
      fn("u32_24", link_u32(p, 24), ctx);
      fn("u32_28", link_u32(p, 28), ctx);
      fn("u16_40", link_u16(p, 40), ctx);
      fn("b42", p[42], ctx);
      fn("b44", p[44], ctx);
      break;
    case 52:
      fn("b11", p[11], ctx);
      fn("u16_12", link_u16(p, 12), ctx);
      fn("u16_25", link_u16(p, 25), ctx);
      break;
    case 53:
    case 59: {
      LinkFocus f = link_decode_focus(p);
      fn("focus_percent", f.percent, ctx);
      fn("focus_range", f.range, ctx);
      fn("focus_value", f.value100 / 100, ctx);
      fn("mf_available", f.mf_available, ctx);
      fn("focus_x", f.x, ctx);
      fn("focus_y", f.y, ctx);
      fn("assistants", f.assistants, ctx);
      break;
    }
    case 54:
      fn("playback_state", p[11], ctx);
      break;
    case 85:
    case 104: {
      LinkCameraState c = link_decode_camera_state(p);
      LinkShotType s = link_decode_shot_type(p, length, LinkShotType{});
      fn("f_number", c.f_number, ctx);
      fn("aperture_index", link_aperture_index(c.f_number), ctx);
      fn("shutter_code", c.shutter, ctx);
      fn("shutter_index", link_shutter_index(c.shutter), ctx);
      fn("iso", p[16], ctx);
      fn("ev_tenths", c.ev_tenths, ctx);
      fn("shot_format", p[21], ctx);
      fn("resolution", p[24], ctx);
      fn("frame_rate", p[25], ctx);
      fn("wb_mode", p[34], ctx);
      fn("wb_value", p[35], ctx);
      fn("ntsc", p[66] & 1, ctx);
      // Byte 68 values the camera state leaves the shot type alone for.
      if (p[68] >= 1 && p[68] <= 7 && p[68] != 3) {
        fn("shot_mode", s.mode, ctx);
        fn("shot_submode", s.sub, ctx);
      }
      break;
    }
    default:
      break;
  }
}
