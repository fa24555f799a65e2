// Packet templates and the link_up-gated send of the camera operations.
//
// Every packet the camera operations send starts as a whole packet in
// read-only data: 0x55, length, 0x04, header CRC8, sender, receiver, two
// placeholder sequence bytes, command type, set, id, default payload and two
// placeholder CRC bytes. The header CRC8 depends on the length byte alone, so
// it is worked out here at compile time, once per template; link_send stamps
// the sequence number and CRC16.
//
//   camera_packet<14>(0x02, 0x01, 0x40, 0x02, 0x2E, {0x10})
//     -> 55 0E 04 66 02 01 00 00 40 02 2E 10 00 00
//   link_send stamps sequence 1 and CRC16: ... 01 00 40 02 2E 10 lo hi
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <initializer_list>

#include "link/link_packet.h"
#include "link/link_state.h"

template <size_t N>
using CameraPacket = std::array<uint8_t, N>;

// A whole template of N bytes; payload bytes beyond those given are 0.
template <size_t N>
constexpr CameraPacket<N> camera_packet(uint8_t sender, uint8_t receiver, uint8_t type, uint8_t set,
                                        uint8_t id, std::initializer_list<uint8_t> payload = {}) {
  static_assert(N >= 13 && N <= 255);
  CameraPacket<N> p{};
  p[0] = 0x55;
  p[1] = static_cast<uint8_t>(N);
  p[2] = 0x04;
  p[3] = link_header_crc8(static_cast<uint8_t>(N));
  p[4] = sender;
  p[5] = receiver;
  p[8] = type;
  p[9] = set;
  p[10] = id;
  size_t i = 11;
  for (uint8_t b : payload) {
    if (i < N - 2) p[i++] = b;
  }
  return p;
}

// The remote controller's 23-byte button state packet (set 0x01, id 0x01,
// sender 0x09). `state` is bytes 11 to 19; byte 20 is their XOR, which the
// camera checks.
constexpr CameraPacket<23> camera_button_packet(uint8_t type, uint8_t receiver,
                                                std::initializer_list<uint8_t> state) {
  CameraPacket<23> p = camera_packet<23>(0x09, receiver, type, 0x01, 0x01, state);
  uint8_t x = 0;
  for (size_t i = 11; i <= 19; i++) x ^= p[i];
  p[20] = x;
  return p;
}

inline bool camera_link_up() { return link_state().link_up.load(std::memory_order_relaxed) != 0; }

// One send gated by link_up; true when the packet went to link_send.
inline bool camera_send(uint8_t* packet, size_t length) {
  if (!camera_link_up()) return false;
  link_send(packet, length);
  return true;
}

// A run of sends where the first one that finds the link down ends the run:
// the camera would see a half-pressed button otherwise only if the link came
// back in between, and a dead link is not worth the further tries.
struct CameraSendChain {
  bool open = true;
  template <size_t N>
  bool send(CameraPacket<N> packet) {
    if (open && !camera_send(packet.data(), N)) open = false;
    return open;
  }
  template <size_t N>
  bool send_times(const CameraPacket<N>& packet, int times) {
    for (int i = 0; i < times; i++) send(packet);
    return open;
  }
};

// Wrapping int arithmetic for values that come from outside (viewer texts,
// RC values): the camera takes the low 16 bits anyway, and a signed overflow
// must not be undefined behaviour here.
inline int camera_wrap_add(int a, int b) {
  return static_cast<int>(static_cast<unsigned>(a) + static_cast<unsigned>(b));
}
inline int camera_wrap_neg(int a) { return static_cast<int>(0u - static_cast<unsigned>(a)); }

inline void camera_put_u16(uint8_t* p, size_t off, uint32_t v) {
  p[off] = static_cast<uint8_t>(v & 0xFF);
  p[off + 1] = static_cast<uint8_t>((v >> 8) & 0xFF);
}
