// I2C joystick and encoder panels at 0x40 and 0x41.
//
// Each panel answers a read with a 10-byte PanelPacket:
//   0-1 axis 0 (roll), 2-3 axis 1 (pan), 4-5 axis 2 (tilt): u16 LE, centre 512
//   6 encoder 0 count (focus), 7 encoder 1 count (EV): u8, wrapping
//   8 button bits (bit i = button i held)
//   9 XOR of bytes 0 to 8
// Worked examples (panel 1, speeds 100 %):
//   00 02 00 02 00 02 00 00 00 00   all centred: nothing is sent
//   FF 03 00 02 00 02 00 00 00 FC   axis 0 at 1023: roll speed 7937
//   00 00 FF 03 00 02 ...           axis 0 reads 0: no joystick speeds at all
//   encoder 0 from 250 to 4         delta +10, focus +30 %
//   camera at EV 0.0, encoder 1 +1  camera_set_ev(0.3)
// A packet whose last byte is not the XOR of the others, or that is shorter
// than 10 bytes, is dropped whole (buttons included).
//
// Sources (--i2c BUS):
//   "/dev/i2c-1" (default): the I2C character device; each panel is selected
//     with the I2C_SLAVE request and read with read().
//   "udp:LOCALPORT": simulated panels. A socket on 127.0.0.1:LOCALPORT takes
//     datagrams of one panel address byte (0x40 or 0x41) followed by that
//     panel's report bytes; a read of an address returns the newest report
//     received for it since the last read, or nothing.
//
// Button presses 1 and 2 wait 1 s and button 4 waits 100 ms on the poll
// thread itself; the thread holds no lock while it waits, so nothing else in
// the daemon ever waits for it.
#pragma once

#include <cstddef>
#include <cstdint>

inline constexpr size_t kPanelPacketSize = 10;

// Prints "Init I2C input" and opens the source; app/ then starts
// i2c_poll_loop, which polls on even when the open failed.
void i2c_input_init();
// "/dev/i2c-1" (default) or "udp:LOCALPORT" for the simulation.
void i2c_set_spec(const char* bus);

// Thread body: both panels every 20 ms; never returns.
void* i2c_poll_loop(void*);
// Reads the selected panel's packet into the input record: 0 valid, 1 nothing
// read, 2 checksum mismatch or short packet.
int i2c_read_packet(int device);
// Acts on the packet just read, for panel 0 (0x40) or 1 (0x41).
void i2c_handle_packet(int panel);

// Opens the source named by the bus; i2c_input_init uses it.
void i2c_input_open();
// Checks a packet as i2c_read_packet does and, when valid, handles it for the
// panel; returns the same codes. Tests and the fuzzer feed packets here.
int i2c_take_packet(int panel, const uint8_t* bytes, size_t n);
// One poll cycle (both panels) without the sleep.
void i2c_poll_once();
// The bound UDP port of a "udp:" source (useful with "udp:0"), else 0.
int i2c_udp_port();
// Tests: back to the state at process start (panel states, focus level),
// with the source closed.
void i2c_input_reset();
