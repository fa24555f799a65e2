#include "tools/viewer_decode.h"

#include <cjson/cJSON.h>

#include <cstdio>
#include <cstring>
#include <string>

namespace {

constexpr size_t kHeader = 12;
constexpr size_t kHexMax = 64;

// Reads past the end come back as 0: the layouts are fixed and a short
// payload is reported by its "length", not by a crash.
struct Reader {
  const uint8_t* p;
  size_t n;
  uint32_t u8(size_t at) const { return at < n ? p[at] : 0; }
  uint32_t u16(size_t at) const { return u8(at) | u8(at + 1) << 8; }
  int32_t i16(size_t at) const { return static_cast<int16_t>(u16(at)); }
  uint32_t u24(size_t at) const { return u16(at) | u8(at + 2) << 16; }
  uint32_t u32(size_t at) const { return u24(at) | u8(at + 3) << 24; }
};

std::string hex(const uint8_t* p, size_t n) {
  static const char* digits = "0123456789abcdef";
  std::string s;
  for (size_t i = 0; i < n && i < kHexMax; i++) {
    s += digits[p[i] >> 4];
    s += digits[p[i] & 15];
  }
  return s;
}

void num(cJSON* o, const char* name, double v) { cJSON_AddNumberToObject(o, name, v); }

void fields(cJSON* o, const Reader& r, std::initializer_list<std::pair<const char*, int>> list) {
  // Each pair: name and width in bytes (1, 2, 3 or 4; -2 for a signed i16).
  size_t at = 1;
  for (auto [name, width] : list) {
    switch (width) {
      case 1:
        num(o, name, r.u8(at));
        break;
      case 2:
        num(o, name, r.u16(at));
        break;
      case -2:
        num(o, name, r.i16(at));
        break;
      case 3:
        num(o, name, r.u24(at));
        break;
      default:
        num(o, name, r.u32(at));
        break;
    }
    at += static_cast<size_t>(width < 0 ? -width : width);
  }
}

void beacon(cJSON* o, const Reader& r) {
  cJSON_AddStringToObject(o, "name", "beacon");
  uint32_t f = r.u8(1);
  cJSON* flags = cJSON_AddObjectToObject(o, "flags");
  num(flags, "value", f);
  num(flags, "always", f & 1);
  num(flags, "apstate", f >> 1 & 1);
  num(flags, "hdmi_enabled", f >> 2 & 1);
  num(flags, "camera_connected", f >> 4 & 1);
  num(flags, "hud_2625_bit0", f >> 6 & 1);
  num(flags, "hud_2626_bit0", f >> 7 & 1);
  num(o, "clients", r.u8(2));
  num(o, "byte3", r.u8(3));
  num(o, "focus_assistant_enabled", r.u8(4));
  num(o, "rc_state", static_cast<int8_t>(r.u8(5)));
  num(o, "byte6", r.u8(6));
}

void link_state(cJSON* o, const Reader& r) {
  cJSON_AddStringToObject(o, "name", "link_state");
  uint32_t link = r.u8(1), state = r.u8(2);
  num(o, "link", link);
  cJSON_AddStringToObject(o, "link_name", link == 0 ? "telemetry" : link == 1 ? "video" : "other");
  num(o, "state", state);
  cJSON_AddBoolToObject(o, "connected", state == 2);
}

void rc_report(cJSON* o, const Reader& r) {
  cJSON_AddStringToObject(o, "name", "rc_report");
  num(o, "rc_state", static_cast<int8_t>(r.u8(1)));
  uint32_t count = r.u8(2);
  num(o, "count", count);
  cJSON* values = cJSON_AddArrayToObject(o, "channels");
  for (uint32_t i = 0; i < count && i < 32; i++)
    cJSON_AddItemToArray(values, cJSON_CreateNumber(r.u16(3 + 2 * i)));
}

void data_message(cJSON* o, const uint8_t* p, size_t n) {
  if (n == 0) return;
  if (p[0] == '{') {
    std::string text(reinterpret_cast<const char*>(p),
                     strnlen(reinterpret_cast<const char*>(p), n));
    if (cJSON* parsed = cJSON_Parse(text.c_str())) {
      cJSON_AddItemToObject(o, "json", parsed);
    } else {
      cJSON_AddStringToObject(o, "text", text.c_str());
    }
    return;
  }
  Reader r{p, n};
  num(o, "code", p[0]);
  switch (p[0]) {
    case 0:
      cJSON_AddStringToObject(o, "name", "gimbal_angles");
      fields(o, r, {{"pan_x100", -2}, {"tilt_x100", -2}, {"dutch_x100", -2}});
      break;
    case 2:
      cJSON_AddStringToObject(o, "name", "camera_state");
      fields(o, r,
             {{"b31", 1},
              {"b21", 1},
              {"u16_38_code", 1},
              {"b42", 1},
              {"ev_tenths", 1},
              {"b34", 1},
              {"video_format_24", 1},
              {"video_format_25", 1},
              {"b35", 1},
              {"u16_54", 2},
              {"shutter_code", 3},
              {"b67", 1},
              {"b16", 1},
              {"aperture_x100", 2},
              {"b66_bit0", 1},
              {"b43", 1},
              {"u24_51", 3},
              {"b23", 1},
              {"capture_mode", 1},
              {"capture_submode", 1},
              {"timelapse_interval", 2},
              {"timelapse_duration", 2}});
      // Exposure compensation is signed tenths of a step.
      cJSON_ReplaceItemInObject(o, "ev_tenths", cJSON_CreateNumber(static_cast<int8_t>(r.u8(5))));
      break;
    case 3:
      cJSON_AddStringToObject(o, "name", "digital_zoom");
      fields(o, r, {{"digital_zoom_percent", -2}, {"b", -2}, {"c", -2}});
      break;
    case 5:
      link_state(o, r);
      break;
    case 6:
      beacon(o, r);
      break;
    case 7:
      cJSON_AddStringToObject(o, "name", "telemetry");
      fields(o, r,
             {{"camera_mode", 1},
              {"camera_status", 1},
              {"u32_20", 4},
              {"u32_24", 4},
              {"u32_28", 4},
              {"u16_40", 2},
              {"msg22_value", 4},
              {"b42", 1},
              {"b13", 1},
              {"b44", 1}});
      cJSON_AddBoolToObject(o, "recording", (r.u8(2) >> 6) != 0);
      break;
    case 8:
      cJSON_AddStringToObject(o, "name", "gimbal_state");
      fields(o, r, {{"gimbal_state", -2}, {"b", -2}, {"c", -2}});
      break;
    case 10:
      cJSON_AddStringToObject(o, "name", "gimbal_raw");
      fields(o, r, {{"pan_raw", -2}, {"tilt_raw", -2}, {"dutch_raw", -2}});
      break;
    case 12:
      cJSON_AddStringToObject(o, "name", "focus");
      fields(o, r, {{"focus_flags", -2}, {"focus_percent", -2}, {"focus_value_x100", -2}});
      break;
    case 13:
      cJSON_AddStringToObject(o, "name", "focus_point");
      fields(o, r, {{"x_x10000", -2}, {"y_x10000", -2}, {"focus_byte", -2}});
      break;
    case 14:
      cJSON_AddStringToObject(o, "name", "record64");
      cJSON_AddStringToObject(o, "record", hex(p + 1, n - 1).c_str());
      break;
    case 15:
      rc_report(o, r);
      break;
    case 16:
      cJSON_AddStringToObject(o, "name", "focus_mode");
      fields(o, r, {{"b32", 1}, {"continuous_af", 1}, {"b3", 1}, {"b4", 1}, {"b5", 1}, {"b6", 1}});
      break;
    default:
      cJSON_AddStringToObject(o, "hex", hex(p, n).c_str());
      break;
  }
}

}  // namespace

std::string viewer_decode_json(const uint8_t* bytes, size_t length) {
  cJSON* o = cJSON_CreateObject();
  if (length == 1 && bytes[0] == 'B') {
    cJSON_AddStringToObject(o, "reply", "registered");
  } else if (length < kHeader || bytes[0] != 'B' || bytes[1] > 1) {
    cJSON_AddStringToObject(o, "unframed", hex(bytes, length).c_str());
    num(o, "length", static_cast<double>(length));
  } else {
    Reader r{bytes, length};
    cJSON_AddStringToObject(o, "channel", bytes[1] == 0 ? "data" : "video");
    num(o, "sequence", r.u32(4));
    num(o, "length", static_cast<double>(length - kHeader));
    if (bytes[1] == 0) data_message(o, bytes + kHeader, length - kHeader);
  }
  char* text = cJSON_PrintUnformatted(o);
  std::string out = text ? text : "{}";
  cJSON_free(text);
  cJSON_Delete(o);
  return out;
}
