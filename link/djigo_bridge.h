// The DJI Go bridge: the app connects over TCP (net_ports().djigo, 6789 on
// the Pi), every byte it sends goes onto the bus through can_write_packet as
// received (no framing, no realignment), and every CAN frame the reader keeps
// goes back to it (can_transport.cc). One client at a time; others wait in
// the listen backlog (16) until it leaves.
//
//   app sends 20 bytes in one segment -> one can_write_packet of 20 bytes
//                                        (frames of 8, 8 and 4, id 0x412)
//   reader keeps frame {0x413, 8, 55 0E 04 66 ..} -> app receives those 8 bytes
#pragma once

#include <cstddef>
#include <cstdint>

// The bridge's one slot must not stay held by a phone that went away without
// closing (out of range, battery gone): the blocking receive would wait for
// ever. TCP keep-alive probes a quiet connection after kDjigoKeepIdleS, every
// kDjigoKeepIntervalS, and gives up after kDjigoKeepCount unanswered probes;
// TCP_USER_TIMEOUT ends it when data the bridge sent stays unacknowledged
// that long. A vanished client frees the slot within about 30 s; a live one
// that only listens answers the probes and keeps it.
inline constexpr int kDjigoKeepIdleS = 10;
inline constexpr int kDjigoKeepIntervalS = 5;
inline constexpr int kDjigoKeepCount = 3;
inline constexpr unsigned kDjigoUserTimeoutMs = 30000;
// Sets those options on an accepted client; false (errno set) if one failed.
bool djigo_client_keepalive(int fd);

// One chunk received from the app: onto the bus as it came, then the pause
// that paces the app to half the bus. The receive loop's body.
void djigo_on_received(const uint8_t* bytes, size_t length);

// Thread body. Exits the process with status 1 when the listening socket
// cannot be created, bound or put to listening; returns when accept fails.
void* djigo_listener(void*);
