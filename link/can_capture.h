// --capture FILE: every CAN frame the daemon reads and writes, on either bus,
// as a pcap file of link type LINKTYPE_CAN_SOCKETCAN (227), the form
// `tcpdump -i can0 -w` writes, so that pqw-decode, pqw-camsim --replay and
// Wireshark read both alike.
//
// The link never waits for the disk nor for the capture thread: the reader
// and the writers put frames into a lock-free ring of kCanCaptureRing
// entries; the pqw-capture thread empties it every 20 ms into the file. A frame that
// finds the ring full, or that the disk refuses, is dropped and counted
// (health counter capture_dropped). A file that would pass its size cap is
// closed and rotated: FILE -> FILE.1 -> ... -> FILE.<keep>, the oldest gone.
//
// File layout (little-endian headers, the frame itself in SocketCAN's
// capture form with the CAN id big-endian):
//   global header  D4 C3 B2 A1 02 00 04 00 | 0 x 8 | snaplen 72 | E3 00 00 00
//   record         u32 seconds, u32 microseconds, u32 16, u32 16, then
//   frame          id (u32 BE), length, 3 x 00, 8 data bytes (zeros past length)
//     {0x413, 3, 55 0E 04} -> 00 00 04 13 03 00 00 00 55 0E 04 00 00 00 00 00
#pragma once

#include <cstddef>
#include <cstdint>

inline constexpr size_t kCanCaptureRing = 4096;
inline constexpr size_t kCanCaptureHeader = 24;
inline constexpr size_t kCanCaptureRecord = 16 + 16;

inline constexpr uint64_t kCanCaptureDefaultBytes = 16ull << 20;
inline constexpr int kCanCaptureDefaultKeep = 3;

// The file to capture into (the --capture option); empty: no capture.
// max_bytes caps each file (at least one header and one record), keep is how
// many rotated files stay (0: none, FILE starts again).
void can_capture_set(const char* path, uint64_t max_bytes = kCanCaptureDefaultBytes,
                     int keep = kCanCaptureDefaultKeep);
bool can_capture_configured();
// Opens the file set (truncating it), writes the header and turns the hook
// on; false, with the reason logged, when it cannot.
bool can_capture_open();
bool can_capture_enabled();

// The hook of one frame read or written: a copy into the ring, or a count.
void can_capture_frame(uint32_t can_id, const uint8_t* data, uint8_t len);

// Writes whatever the ring holds and flushes the file: the pqw-capture thread
// calls it in its loop; tests call it directly.
void can_capture_drain();
// Thread body (pqw-capture): drains every 20 ms until the process ends.
void* can_capture_loop(void*);
// Drains, closes the file and turns the hook off (tests, and a clean end).
void can_capture_close();

// The 16-byte SocketCAN capture form of a frame, as written to the file.
void can_capture_encode(uint32_t can_id, const uint8_t* data, uint8_t len, uint8_t out[16]);
