// The HudBlock fields the camera operations read and write. The block is
// mapped at start-up; before that (tools, some tests) reads give 0 and writes
// go nowhere rather than through a null pointer.
#pragma once

#include <cstddef>
#include <cstdint>

#include "core/hud_block.h"

inline uint8_t camera_hud_u8(size_t off) {
  const uint8_t* hud = hud_block();
  return hud ? hud_get_u8(hud, off) : 0;
}
inline uint16_t camera_hud_u16(size_t off) {
  const uint8_t* hud = hud_block();
  return hud ? hud_get_u16(hud, off) : 0;
}
inline double camera_hud_f64(size_t off) {
  const uint8_t* hud = hud_block();
  return hud ? hud_get_f64(hud, off) : 0.0;
}
inline void camera_hud_set_u8(size_t off, uint8_t v) {
  if (uint8_t* hud = hud_block()) hud_set_u8(hud, off, v);
}
inline void camera_hud_set_f64(size_t off, double v) {
  if (uint8_t* hud = hud_block()) hud_set_f64(hud, off, v);
}
