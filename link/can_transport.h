// The CAN transport: LinkPackets cut into 8-byte frames with id 0x412 on the
// way out, frames with id 0x413 reassembled into packets on the way in.
#pragma once

#include <cstddef>
#include <cstdint>

// "can0" (default, SocketCAN) or "udp:LOCALPORT:HOST:PORT": the same 16-byte
// classic frames carried one per datagram over loopback, for the simulation.
void can_set_spec(const char* spec);

void can_open();
void can_close();
void can_start();
void* can_reader(void*);
int can_write_packet(const uint8_t* bytes, size_t length);
void can_check_stall();
