#include "link/can_reassembly.h"

#include <cstring>

#include "link/link_packet.h"
#include "platform/health.h"

bool can_length_accepted(uint8_t length) {
  switch (length) {
    case 13:
    case 14:
    case 15:
    case 19:
    case 22:
    case 25:
    case 49:
    case 50:
    case 52:
    case 53:
    case 54:
    case 59:
    case 77:
    case 85:
    case 104:
      return true;
    default:
      return false;
  }
}

bool can_assembler_accept(CanAssembler* a, const uint8_t* data, uint8_t len) {
  if (a->any_length) return true;
  if (len >= 1 && data[0] == 0x55) {
    // A frame too short to carry the length byte cannot start a packet we keep.
    a->skipping = (len >= 2 && can_length_accepted(data[1])) ? 0 : 1;
    if (a->skipping) health_add(HEALTH_LENGTH_REJECTS);
  }
  return a->skipping == 0;
}

namespace {

// One pass over the buffer; true when something was delivered.
// A candidate whose last byte came before fresh_from was judged on an earlier
// pass: only the newly completed ones count as rejects.
bool scan_once(CanAssembler* a, CanPacketFn fn, void* ctx, uint32_t fresh_from) {
  bool delivered = false;
  const uint32_t n = a->buffered;
  for (uint32_t i = 0; i < n; i++) {
    // Positions past the current count hold stale bytes of moved content;
    // no packet can be complete there, so the pass ends.
    if (i >= a->buffered) break;
    if (a->buffer[i] != 0x55) continue;
    // The length byte itself may not have arrived yet.
    if (i + 1 >= a->buffered) continue;
    uint32_t length = a->buffer[i + 1];
    if (length == 0 || a->buffered < i + length) continue;
    if (link_crc16(a->buffer + i, length) != 0) {
      if (i + length > fresh_from) health_add(HEALTH_CRC_REJECTS);
      continue;
    }
    // The handler gets its own copy: the buffer moves right after.
    uint8_t packet[256];
    memcpy(packet, a->buffer + i, length);
    uint32_t end = i + length;
    memmove(a->buffer, a->buffer + end, a->buffered - end);
    a->buffered -= end;
    delivered = true;
    if (fn) fn(packet, length, ctx);
  }
  return delivered;
}

}  // namespace

void can_assembler_push(CanAssembler* a, const uint8_t* data, uint8_t len, CanPacketFn fn,
                        void* ctx) {
  if (len > 8) len = 8;
  if (a->buffered + len > kCanReassemblySize) a->buffered = 0;
  const uint32_t fresh_from = a->buffered;
  if (len) memcpy(a->buffer + a->buffered, data, len);
  a->buffered += len;
  if (a->rescan) {
    while (scan_once(a, fn, ctx, fresh_from)) {
    }
  } else {
    scan_once(a, fn, ctx, fresh_from);
  }
}

void can_assembler_reset(CanAssembler* a) {
  a->buffered = 0;
  a->skipping = 0;
}
