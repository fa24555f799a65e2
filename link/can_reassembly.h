// Gluing CAN frames back into LinkPackets.
//
// Length filter: a frame whose first data byte is 0x55 starts a packet; its
// second byte (the packet length) decides whether the frames up to the next
// such frame are kept (13, 14, 15, 19, 22, 25, 49, 50, 52, 53, 54, 59, 77,
// 85, 104) or dropped one by one ("skipping"). Frames before the first 0x55
// frame are kept.
//
// Buffer: kept frames are appended to 1024 bytes; a frame that would overflow
// it empties it first and becomes its whole content. After each append the
// buffer is scanned once from position 0: at a 0x55 with length byte L, when
// L bytes are buffered there and their CRC16 comes out 0, those L bytes are
// delivered and everything up to their end is dropped; the scan then goes on
// at the next position over the moved content. A packet moved to a position
// the scan has passed (e.g. a second whole packet behind one at position 0)
// waits for the scan after the next kept frame.
//
//   frames 55 0E 04 66 01 09 00 00 | 40 02 66 00 cl ch  -> nothing | one 14-byte packet
//   frames 55 10 ... (length 16)                          -> dropped, nothing buffered
#pragma once

#include <cstddef>
#include <cstdint>

inline constexpr size_t kCanReassemblySize = 1024;

struct CanAssembler {
  uint8_t buffer[kCanReassemblySize];
  uint32_t buffered = 0;
  uint8_t skipping = 0;
  // The camera simulator reads the daemon's side, whose packets have other
  // lengths: it turns the filter off and scans until nothing more is found.
  bool any_length = false;
  bool rescan = false;
};

// Called with each delivered packet (L bytes, L equal to its length byte).
using CanPacketFn = void (*)(const uint8_t* packet, size_t length, void* ctx);

bool can_length_accepted(uint8_t length);

// The length filter for one frame: false when the frame is to be dropped.
bool can_assembler_accept(CanAssembler* a, const uint8_t* data, uint8_t len);

// Appends a kept frame's bytes and scans once, delivering intact packets.
void can_assembler_push(CanAssembler* a, const uint8_t* data, uint8_t len, CanPacketFn fn,
                        void* ctx);

void can_assembler_reset(CanAssembler* a);
