// Whole LinkPackets built from their fields and read back, for whoever plays
// the other side of the bus: the camera simulator, the tests, the benchmark.
// The daemon itself never assembles a header at run time; it copies fixed
// templates (link_handler.cc, data_source.cc, control/), so none of this is
// linked into it.
//
//   link_packet_build(out, sizeof out, {0x02, 0x01, 0x0001, 0x40, 0x02, 0x66}, {00}, 1)
//     -> 55 0E 04 66 02 01 01 00 40 02 66 00 9F 53     (14 bytes)
//   header CRC8 over 55 0E 04 = 66; CRC16 over bytes 0..11 = 0x539F, low byte first.
#pragma once

#include <cstddef>
#include <cstdint>

#include "link/link_packet.h"  // the field readers and writers

struct LinkFields {
  uint8_t sender = 0;
  uint8_t receiver = 0;
  uint16_t sequence = 0;
  uint8_t type = 0;
  uint8_t set = 0;
  uint8_t id = 0;
};

inline constexpr size_t kLinkHeaderSize = 11;  // 0x55 .. command id
inline constexpr size_t kLinkOverhead = 13;    // header + CRC16
inline constexpr size_t kLinkMaxPacket = 255;  // the length is one byte on receive

// Builds 0x55, L, 0x04, CRC8, fields, payload, CRC16 into out. Returns L, or 0
// when L would exceed 255 or cap.
size_t link_packet_build(uint8_t* out, size_t cap, const LinkFields& f, const uint8_t* payload,
                         size_t payload_len);

// Fills in bytes 0 to 3 (0x55, L, 0x04, CRC8) and the CRC16 of a packet of n
// bytes whose other bytes are already in place (13 <= n <= 255).
void link_packet_seal(uint8_t* packet, size_t n);

// True when the n bytes start with 0x55, byte 1 equals n and the CRC16 over
// all n bytes is 0.
bool link_packet_intact(const uint8_t* packet, size_t n);

// Reads the header fields of a packet of at least 11 bytes.
LinkFields link_packet_fields(const uint8_t* packet);
