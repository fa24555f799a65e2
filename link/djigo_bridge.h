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

// Thread body. Exits the process with status 1 when the listening socket
// cannot be created, bound or put to listening; returns when accept fails.
void* djigo_listener(void*);
