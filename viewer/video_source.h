// Video datagrams in on the video port (UDP 5000 on the Pi), forwarded
// unchanged to the full viewers, and the video watchdog.
//
// The connected state lives in three places that always change together:
// VideoSource.connected, HudBlock byte 190 and ConfigRecord camera_connected.
// The watchdog, once a second, declares the video lost after more than
// 3000 ms without a datagram, writes the HudBlock video status text ("" or
// "video disconnected") and sends the data message 05 01 s 00 00 00 00
// (s = 2 connected, 0 not) to the viewers.
#pragma once

#include <cstddef>
#include <cstdint>
#include <netinet/in.h>

inline constexpr size_t kVideoDatagramMax = 65000;
inline constexpr int32_t kVideoTimeoutMs = 3000;

// Opens the video socket (a failed bind leaves the daemon without video);
// app/ then starts video_receive_loop.
void video_source_init();
// Thread body: relays datagrams to the viewers until the process ends.
void* video_receive_loop(void*);
void video_watchdog();

// One received video datagram: time stamp, connected state, forwarding.
// The receive loop's body, callable by tests.
void video_on_datagram(const uint8_t* bytes, size_t length);
// The same for a datagram received behind kViewerHeaderSize bytes of room
// (frame[0..11]), which is forwarded without a copy.
void video_on_frame(uint8_t* frame, size_t length);

// One datagram as the receive loop took it (behind kViewerHeaderSize bytes
// of room, recvmmsg's flags, its source): dropped when empty, from a source
// not admitted, or cut by the kernel (MSG_TRUNC) or longer than
// kVideoDatagramMax; else relayed. True when relayed.
bool video_take(uint8_t* frame, size_t length, int flags, const sockaddr_in& from);

// Whether a video datagram from this source is relayed: loopback always (the
// video producer runs on the Pi), anyone else only as --viewer-allow admits
// (the first refusal of each source is logged). Without the check anyone on
// the LAN could push datagrams to every viewer through the relay.
bool video_source_admits(const sockaddr_in& from);

// A datagram longer than kVideoDatagramMax: dropped whole and counted; the
// first one is said on stderr.
void video_drop_oversize();
uint64_t video_oversize_drops();

// The VideoSource connected byte and last receive time.
uint8_t video_connected();
uint32_t video_last_receive();
// The bound video socket (-1 before video_source_init).
int video_socket();
