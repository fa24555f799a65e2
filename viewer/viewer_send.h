// Everything the device sends to viewers: the 12-byte header, the shared
// sequence counter, fan-out to the client table, the video-in-flight rule.
//
// Framed datagram: 'B', channel (0 data, 1 video), 00 00, sequence (u32 LE),
// 00 00 00 00, payload. Examples, sequence 0x01020304:
//   data  [06 01 00 00 00 00 00] -> 42 00 00 00 04 03 02 01 00 00 00 00 06 01 00 00 00 00 00
//   video [AA BB]                -> 42 01 00 00 04 03 02 01 00 00 00 00 AA BB
// Short messages (7 bytes of payload):
//   viewer_send_short16(0, 0x1234, -1, 70000) -> 00 34 12 FF FF 70 11
//   viewer_send_short8(5, 1, 2, 0, 0, 0, 0)   -> 05 01 02 00 00 00 00
// The only datagram without a header is the one-byte registration reply 42.
#pragma once

#include <cstddef>
#include <cstdint>

inline constexpr size_t kViewerHeaderSize = 12;
inline constexpr size_t kViewerDataMax = 3988;    // payload of a data message
inline constexpr size_t kViewerVideoMax = 65488;  // payload of a video message

// One raw datagram (no header) to one viewer over the discovery socket.
int viewer_send_one(const uint8_t* bytes, size_t length, const char* address, uint16_t port);

// channel 0: data (dropped while a video datagram is being sent);
// channel 1: video; any other channel: nothing.
void viewer_send(const uint8_t* payload, size_t length, int channel);
void viewer_forward_video(const uint8_t* bytes, size_t length);
// The same for a payload that already has kViewerHeaderSize bytes of room in
// front of it (frame[0..11]): the header is written there and the frame goes
// out as one piece, never copied. The video receive path uses this.
void viewer_forward_video_frame(uint8_t* frame, size_t length);
void viewer_send_short16(uint8_t code, int a, int b, int c);
void viewer_send_short8(uint8_t code, uint8_t b1, uint8_t b2, uint8_t b3, uint8_t b4, uint8_t b5,
                        uint8_t b6);

// Test seam: called with every message that is framed for the viewers (after
// the drop rules), whether or not any viewer is registered.
using ViewerTap = void (*)(int channel, const uint8_t* payload, size_t length);
void viewer_set_tap(ViewerTap tap);

// Counters for tests and diagnostics.
uint32_t viewer_next_sequence();  // the number the next framed message takes
uint64_t viewer_refused_count();  // payloads over their frame's limit, refused whole
uint64_t viewer_dropped_count();  // data messages dropped while video was in flight
