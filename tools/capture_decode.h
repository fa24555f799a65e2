// Turns the frames of a capture into camera-link packets the way the daemon
// reads them: frames with id 0x413 (camera side -> daemon) go through the
// daemon's own reassembly with its length filter, frames with id 0x412
// (daemon -> camera side) through the same reassembly without the filter, as
// the camera simulator reads them. Alongside, each direction's packet starts
// are followed so that what the reassembly drops silently is reported:
//
//   bad_crc      all L bytes of a packet arrived, its CRC16 does not check out
//   broken       a new packet started (or the capture ended) before the L bytes
//                of the last one were in: frames lost or cut short
//   length       a camera packet of a length the daemon does not accept, dropped
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "link/can_reassembly.h"
#include "tools/capture_read.h"

enum class DecodeKind { kPacket, kBadCrc, kBroken, kLength };

struct DecodeEvent {
  DecodeKind kind = DecodeKind::kPacket;
  double time = 0;  // of the frame that completed (or broke) it
  uint32_t can_id = 0;
  std::vector<uint8_t> bytes;  // the packet, or what arrived of it
  size_t expected = 0;         // its length byte
};

struct DecodeTrack {
  bool active = false;
  size_t expected = 0;
  double start = 0;
  std::vector<uint8_t> bytes;
};

struct CaptureDecoder {
  CanAssembler from_camera{};
  CanAssembler from_daemon{};
  DecodeTrack track[2];
  uint64_t frames = 0, link_frames = 0, other_frames = 0;
  // Filled by capture_decoder_frame; the caller empties it.
  std::vector<DecodeEvent> events;
  double now = 0;
  uint32_t current_id = 0;
};

void capture_decoder_init(CaptureDecoder* d);
void capture_decoder_frame(CaptureDecoder* d, const CaptureFrame& f);
// A packet begun and not finished when the capture ends is broken.
void capture_decoder_finish(CaptureDecoder* d);

// One event as a text line (time relative to t0) or a JSON object line.
std::string decode_event_text(const DecodeEvent& e, double t0);
std::string decode_event_json(const DecodeEvent& e);
