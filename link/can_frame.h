// One classic CAN frame as the daemon reads and writes it, and its 16-byte
// wire form: the SocketCAN `struct can_frame` layout, which is also what one
// datagram of the simulated bus carries.
//
//   offset 0  can_id, u32 little-endian (standard 11-bit id, no flag bits)
//   offset 4  data length 0..8
//   offset 5  three padding bytes (sent as 0, ignored on receive)
//   offset 8  eight data bytes (bytes past the data length sent as 0)
//
//   {0x413, 3, 55 0E 04}  <->  13 04 00 00 03 00 00 00 55 0E 04 00 00 00 00 00
//
// Packets are cut into frames of eight data bytes from offset 0, the last one
// shorter: 20 bytes -> frames of 8, 8 and 4.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

inline constexpr uint32_t kCanIdDaemon = 0x412;  // every frame the daemon writes
inline constexpr uint32_t kCanIdCamera = 0x413;  // the only frames the daemon reads
inline constexpr size_t kCanWireSize = 16;

struct CanFrame {
  uint32_t can_id = 0;
  uint8_t len = 0;  // 0..8
  uint8_t data[8] = {};
};

inline void can_frame_encode(const CanFrame& f, uint8_t out[kCanWireSize]) {
  memset(out, 0, kCanWireSize);
  for (int i = 0; i < 4; i++) out[i] = static_cast<uint8_t>(f.can_id >> (8 * i));
  uint8_t len = f.len > 8 ? 8 : f.len;
  out[4] = len;
  memcpy(out + 8, f.data, len);
}

// False for anything but exactly 16 bytes with a data length of at most 8:
// a datagram from the simulated bus is untrusted.
inline bool can_frame_decode(const uint8_t* in, size_t n, CanFrame* f) {
  if (n != kCanWireSize || in[4] > 8) return false;
  f->can_id = static_cast<uint32_t>(in[0]) | static_cast<uint32_t>(in[1]) << 8 |
              static_cast<uint32_t>(in[2]) << 16 | static_cast<uint32_t>(in[3]) << 24;
  f->len = in[4];
  memset(f->data, 0, sizeof f->data);
  memcpy(f->data, in + 8, f->len);
  return true;
}

inline size_t can_frame_count(size_t n) { return (n + 7) / 8; }

// Frame `index` of a byte string of n bytes cut into 8-byte chunks.
inline CanFrame can_frame_chunk(uint32_t can_id, const uint8_t* bytes, size_t n, size_t index) {
  CanFrame f;
  f.can_id = can_id;
  size_t off = index * 8;
  if (off < n) {
    f.len = static_cast<uint8_t>(n - off > 8 ? 8 : n - off);
    memcpy(f.data, bytes + off, f.len);
  }
  return f;
}
