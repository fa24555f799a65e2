// Every intact packet the CAN reader reassembles lands here, on the reader
// thread: the link is kept alive, identification queries are answered as the
// device mode requires, and status records are unpacked into the HudBlock,
// LinkState and short messages to the viewers.
//
// Replies (CRC16 left out; s s = the request's sequence bytes):
//   Osmo  14 04->09 type 20  -> 55 0E 04 66 09 04 00 00 80 04 1C 06
//   Osmo  14 04->09 type 00, byte 11 = 1
//                            -> 55 1A 04 B1 09 04 00 00 A0 04 28 + 13 x 00
//   Osmo  14 01->07          -> 55 0E 04 66 07 01 s s 80 00 50 00
//   both  15 01->09 type 40  -> 55 0E 04 66 09 01 s s 80 09 0E 00
//   Osmo  13 04->09 / 01->09 -> 55 2C 04 36 09 04|01 s s 80 00 01 00 10 "HG310" 11 x 00
//                               0B 00 00 00 04 01 00 00 FF 03 00 00 01    "Init Osmo mode"
//   Insp. 14 04->03 type 20  -> 55 0E 04 66 03 04 00 00 80 04 1C b (b = request byte 11)
//   Insp. 13 01->09 set 00 id 01
//                            -> 55 2B 04 58 09 01 s s 80 00 01 00 01 "03J0050506" 9 x 00
//                               03 04 00 00 03 01 00 00 00   "Init Inspire mode DM368"
//   Insp. 13 04->09 (other)  -> the same with receiver 04, fresh sequence (link_send)
//                                                            "Init Inspire mode Ambarella"
//
// Viewer messages by packet length: 25 -> codes 0, 10, 8; 49/50 -> 7 (24 bytes);
// 53/59 -> 16, 12, 13; 77 -> 14 (65 bytes); 85/104 -> 2 (31 bytes), 3.
#pragma once

#include <cstddef>
#include <cstdint>

// The handler's calls into the camera operations (a floor above the link),
// installed by app/ at start-up: a gimbal report whose lock differs from the
// wanted one presses the lock button; telemetry showing a shot whose interval
// ended stops it. Null: nothing is sent.
struct LinkHooks {
  void (*gimbal_lock_press)(int lock);
  void (*stop_shot)();
};
void link_install_hooks(const LinkHooks& hooks);

// Does nothing when length differs from the packet's length byte.
void handle_link_packet(const uint8_t* packet, size_t length);

// Positions in the camera's tables (-1 when not there): f-number -> 0..20,
// ShutterCode -> 0..56 (30 s first); EV code 7..25 -> tenths of a stop (0 else).
int link_aperture_index(double f_number);
int link_shutter_index(uint32_t code);
int link_ev_tenths(uint8_t code);
