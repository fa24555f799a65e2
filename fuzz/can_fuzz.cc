// libFuzzer target: a CAN frame stream through the reader's per-frame steps
// (id and length filters, reassembly, the once-per-frame scan) into the
// incoming packet handler, in both device modes.
//
// Input: byte 0 picks the device mode (bit 0) and the wanted orientation lock
// (bit 1); then records:
//   00 I L d0..     one raw frame: id 0x413 unless bit 0 of I is set (then
//                   0x412, or an extended id with bit 1), L data bytes (L up to
//                   15: lengths over 8 must be refused)
//   01 L S R T C D F payload..   a whole packet of length L (13..255) with
//                   sender S, receiver R, type T, set C, id D and both CRCs
//                   right, cut into frames of 1 + F % 8 bytes, so that the
//                   handler is reached with well-formed records
// Every packet the handler sends back is checked (length byte, CRC8, CRC16)
// and every viewer message must fit a data frame.
#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <string>

#include "core/hud_block.h"
#include "fuzz/fuzz_harness.h"
#include "link/can_frame.h"
#include "link/can_transport.h"
#include "link/link_packet.h"
#include "link/link_state.h"
#include "tools/packet_build.h"
#include "platform/app_exit.h"
#include "platform/clock.h"
#include "platform/paths.h"
#include "platform/shell.h"
#include "platform/wiringpi.h"
#include "viewer/viewer_send.h"

namespace {

TestSandbox* g_box;
uint8_t g_hud[kHudSize];

void check_message(int channel, const uint8_t*, size_t n) {
  if (channel != 0 || n == 0 || n > kViewerDataMax) abort();
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  g_box = fuzz_sandbox_start("fuzz-can");
  gpio_set_log("/dev/null");
  viewer_set_tap(check_message);
  hud_set_block(g_hud);
  link_set_writer(fuzz_check_packet);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  can_reader_reset();
  LinkState& ls = link_state();
  ls.mode.store(data[0] & 1);
  ls.wanted_orientation_lock.store((data[0] >> 1) & 1);
  // Each input starts with no video format known, so that only a change
  // within one input restarts the display (a shell spawn, the slow part).
  ls.last_video_format[0].store(0);
  ls.last_video_format[1].store(0);
  size_t i = 1;
  while (i < size) {
    uint8_t kind = data[i++];
    if (kind % 2 == 0) {
      if (i + 2 > size) break;
      uint8_t idsel = data[i], len = data[i + 1] & 15;
      i += 2;
      uint32_t id = (idsel & 1) ? ((idsel & 2) ? (0x413u | 0x80000000u) : 0x412u) : 0x413u;
      uint8_t frame[16] = {};
      for (uint8_t k = 0; k < len && k < 8 && i < size; k++) frame[k] = data[i++];
      can_reader_frame(id, frame, len);
    } else {
      if (i + 7 > size) break;
      size_t length = data[i] < 13 ? 13 : data[i];
      LinkFields f{data[i + 1], data[i + 2], static_cast<uint16_t>(i),
                   data[i + 3], data[i + 4], data[i + 5]};
      size_t chunk = 1 + data[i + 6] % 8;
      i += 7;
      uint8_t payload[255] = {};
      size_t want = length - kLinkOverhead;
      for (size_t k = 0; k < want && i < size; k++) payload[k] = data[i++];
      uint8_t packet[255];
      size_t n = link_packet_build(packet, sizeof packet, f, payload, want);
      for (size_t off = 0; off < n; off += chunk) {
        size_t len = n - off < chunk ? n - off : chunk;
        can_reader_frame(kCanIdCamera, packet + off, static_cast<uint8_t>(len));
      }
    }
  }
  unlink((g_box->dir + "/commands.log").c_str());
  return 0;
}
