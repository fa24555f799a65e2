// The CAN transport: LinkPackets cut into 8-byte frames with id 0x412 on the
// way out, frames with id 0x413 reassembled into packets on the way in.
//
// Bus: can0 at 1 Mbit/s, the rate of the DJI camera/gimbal bus (classic CAN,
// standard ids). can_open brings the interface up itself on every open:
//   ip link set can0 down
//   ip link set can0 type can bitrate 1000000
//   ip link set can0 type can restart-ms 100     (leave bus-off on its own)
//   ip link set can0 txqueuelen 1000             (a 104-byte packet is 13 frames)
//   ip link set can0 up
// then a raw socket filtered to id 0x413 (mask 0x7FF), loopback and own
// messages off. Socket creation or bind failure ends the process (status 2);
// a missing can0 is waited for up to 3 s before the bind is let fail.
//
// Simulated bus, "udp:LOCALPORT:HOST:PORT": a UDP socket bound to
// 127.0.0.1:LOCALPORT; each datagram is one 16-byte frame (can_frame.h) and
// frames are sent to HOST:PORT. No shell commands. Everything else (reader,
// writer, filters, stall check, reopen) is the same code for both.
//
// Reading: the reader waits in one recvmmsg (at most 50 ms, SO_RCVTIMEO)
// and takes every frame already waiting, up to 32, then hands them one at a
// time, in order, to can_reader_frame. Writers send with MSG_DONTWAIT.
//
// Socket retirement: the socket is replaced by the reader after a read error
// and by the watchdog's stall check. Readers and writers pin the current
// descriptor under a mutex for the length of one read or one packet's
// writes; can_close unpublishes it, wakes a blocked reader (shutdown for
// UDP; the reader's read times out every 50 ms anyway), waits until no one
// holds it and only then closes it. So no thread ever reads or writes a descriptor
// that has been closed or reused, and the UDP port is free again before the
// reopen binds it.
#pragma once

#include <cstddef>
#include <cstdint>

// "can0" (default, SocketCAN) or "udp:LOCALPORT:HOST:PORT" (HOST an IPv4
// address). A bus that does not parse makes can_open fail (exit status 2).
void can_set_spec(const char* bus);

void can_open();
void can_close();
// Says "Init CAN bus" and arms the stall check; app/ then starts can_reader
// (which opens the socket itself) and the DJI Go bridge.
void can_init();
// Thread body: opens the bus unless a stall check already has, then reads
// frames until the process ends.
void* can_reader(void*);
int can_write_packet(const uint8_t* bytes, size_t length);
void can_check_stall();

// Which socket is current: a new value on every close and every open.
uint32_t can_generation();
// Close and open again for the socket of generation `seen`, found faulty
// (the stall check's reopen); skipped when another thread has replaced that
// socket since, so that two reopens never follow on each other's heels.
void can_reopen_unless_replaced(uint32_t seen);

// Steps of the reader for one frame read from the socket: id filter, length
// filter, DJI Go forwarding, reassembly and the handler, receive time. The
// reader thread calls it; fuzzers and benchmarks feed it directly.
void can_reader_frame(uint32_t can_id, const uint8_t* data, uint8_t len);

// Time of the last accepted frame (0: none known, stall check disarmed).
uint32_t can_last_receive_time();
void can_set_last_receive_time(uint32_t t);

// The DJI Go client (djigo_bridge.cc is the only caller): attach sets
// djigo_socket and djigo_connected; detach clears djigo_connected and closes
// the socket under the same lock the reader sends under, so the reader never
// sends to a closed or reused descriptor.
void can_djigo_attach(int socket);
void can_djigo_detach();
bool can_djigo_connected();

// Test seam: receives every delivered packet instead of handle_link_packet.
using CanPacketHandler = void (*)(const uint8_t* packet, size_t length);
void can_set_packet_handler(CanPacketHandler handler);  // nullptr: handle_link_packet
// Tests: empties the reassembly buffer and clears skipping.
void can_reader_reset();
