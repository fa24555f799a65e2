// Everything the device sends to viewers: the 12-byte header, the shared
// sequence counter, fan-out to the client table, the video-in-flight rule.
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
void viewer_send_short16(uint8_t code, int a, int b, int c);
void viewer_send_short8(uint8_t code, uint8_t b1, uint8_t b2, uint8_t b3, uint8_t b4, uint8_t b5,
                        uint8_t b6);

// Test seam: called with every message that is framed for the viewers (after
// the drop rules), whether or not any viewer is registered.
using ViewerTap = void (*)(int channel, const uint8_t* payload, size_t length);
void viewer_set_tap(ViewerTap tap);
