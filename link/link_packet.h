// LinkPacket: 0x55, length, 0x04, header CRC8, sender, receiver, sequence
// (u16 LE), command type, set, id, payload, CRC16 (LE).
#pragma once

#include <cstddef>
#include <cstdint>

// The header CRC8, over its first three bytes: start 0x77, reflected polynomial
// 0x8C. Usable at compile time, so packet templates carry their header CRC.
constexpr uint8_t link_crc8(const uint8_t* bytes, size_t n) {
  uint8_t v = 0x77;
  for (size_t i = 0; i < n; i++) {
    v ^= bytes[i];
    for (int b = 0; b < 8; b++)
      v = (v & 1) ? static_cast<uint8_t>((v >> 1) ^ 0x8C) : static_cast<uint8_t>(v >> 1);
  }
  return v;
}
// The header CRC8 of a packet of the given length: 14 -> 0x66, 26 -> 0xB1.
constexpr uint8_t link_header_crc8(uint8_t length) {
  const uint8_t head[3] = {0x55, length, 0x04};
  return link_crc8(head, 3);
}
static_assert(link_header_crc8(14) == 0x66 && link_header_crc8(23) == 0x38 &&
              link_header_crc8(26) == 0xB1 && link_header_crc8(28) == 0x1B &&
              link_header_crc8(43) == 0x58 && link_header_crc8(44) == 0x36 &&
              link_header_crc8(51) == 0xC2);

uint16_t link_crc16(const uint8_t* bytes, size_t n);

// Stamps the next sequence number and the CRC16, then writes the packet
// (two attempts 500 us apart while the writer is busy).
int link_send(uint8_t* packet, size_t length);
// Stores the CRC16 and writes once; the sequence bytes stay as they are.
int link_send_unsequenced(uint8_t* packet, size_t length);

// Test seam: replaces can_write_packet as the writer of both send operations.
using LinkWriter = int (*)(const uint8_t* bytes, size_t length);
void link_set_writer(LinkWriter writer);  // nullptr: can_write_packet

// Little-endian field access on packet bytes.
inline uint16_t link_u16(const uint8_t* p, size_t off) {
  return static_cast<uint16_t>(p[off] | p[off + 1] << 8);
}
inline int16_t link_i16(const uint8_t* p, size_t off) {
  return static_cast<int16_t>(link_u16(p, off));
}
inline uint32_t link_u24(const uint8_t* p, size_t off) {
  return static_cast<uint32_t>(p[off]) | static_cast<uint32_t>(p[off + 1]) << 8 |
         static_cast<uint32_t>(p[off + 2]) << 16;
}
inline uint32_t link_u32(const uint8_t* p, size_t off) {
  return link_u24(p, off) | static_cast<uint32_t>(p[off + 3]) << 24;
}
float link_f32(const uint8_t* p, size_t off);
inline void link_put_u16(uint8_t* p, size_t off, uint32_t v) {
  p[off] = static_cast<uint8_t>(v);
  p[off + 1] = static_cast<uint8_t>(v >> 8);
}
inline void link_put_u24(uint8_t* p, size_t off, uint32_t v) {
  link_put_u16(p, off, v);
  p[off + 2] = static_cast<uint8_t>(v >> 16);
}
inline void link_put_u32(uint8_t* p, size_t off, uint32_t v) {
  link_put_u24(p, off, v);
  p[off + 3] = static_cast<uint8_t>(v >> 24);
}
void link_put_f32(uint8_t* p, size_t off, float v);
