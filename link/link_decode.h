// What a LinkPacket means, as pure functions over its bytes: the incoming
// handler takes its values from here, and pqw-decode and the Wireshark
// dissector's name table show the same values and names, so a capture reads
// the way the daemon read it.
//
//   25 bytes set 04 id 05, i16 tilt 347 at 11 -> attitude.tilt = 45.0 degrees
//   53/59 bytes, u16 range 1000 at 12, position 500 at 14 -> focus.percent = 50
//   85/104 bytes, byte 68 = 2 -> shot type mode 0 sub-mode 2 (HDR)
#pragma once

#include <cstddef>
#include <cstdint>

struct LinkCommandName {
  uint8_t set;
  uint8_t id;
  const char* name;
};

// The name our code knows a command set and id by; nullptr when unknown.
const char* link_command_name(uint8_t set, uint8_t id);
// The whole table, in (set, id) order.
const LinkCommandName* link_command_names(size_t* count);

// Gimbal attitude, 25 bytes with set 04 id 05 (false for anything else).
struct LinkAttitude {
  int16_t raw_tilt, raw_dutch, raw_pan;
  double tilt, dutch, pan;  // degrees
  uint8_t locked;
};
bool link_decode_attitude(const uint8_t* p, size_t length, LinkAttitude* out);

// Focus status, 53 or 59 bytes.
struct LinkFocus {
  uint16_t range, position;
  int percent;      // 0 while the range is 0
  double value100;  // focus value x 100, rounded
  uint8_t bit2, mf_available;
  float x, y;
  uint8_t b32, assistants;
};
LinkFocus link_decode_focus(const uint8_t* p);

// Shot type (capture mode, sub-mode) and timelapse figures: a camera state
// changes only what its byte 68 speaks of, so the previous values go in.
struct LinkShotType {
  uint8_t mode, sub;
  uint16_t interval, duration;
};
LinkShotType link_decode_shot_type(const uint8_t* p, size_t length, LinkShotType previous);

// Camera state, 85 or 104 bytes: the values the handler works out.
struct LinkCameraState {
  int16_t aperture;  // f-number x 100
  double f_number;
  int ev_tenths;
  int16_t v38;  // 2, 3, 1 for 255, 256, 257; else 0
  uint32_t shutter;
};
LinkCameraState link_decode_camera_state(const uint8_t* p);

// Every field the handler decodes from a packet of the camera side, by name,
// through fn (numbers; a packet the handler does not unpack gives none).
using LinkFieldFn = void (*)(const char* name, double value, void* ctx);
void link_describe_fields(const uint8_t* p, size_t length, LinkFieldFn fn, void* ctx);
