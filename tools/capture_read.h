// Readers for captures of a CAN bus taken in the field, frame by frame:
//
//   candump -l log   "(1765300000.123456) can0 413#550E046601090000"
//                    "(...) can0 413##1550E04" (CAN FD: one flags digit after ##),
//                    "123#R" remote frames, 8-digit ids extended
//   pcap / pcapng    link type LINKTYPE_CAN_SOCKETCAN (227), read with libpcap:
//                    id and flags u32 big-endian, length, FD flags, 2 reserved,
//                    data (8 bytes classic, 64 FD)
//
// Both are untrusted: a line or record that does not parse (bad hex, a data
// length the frame kind cannot have, a record shorter than its length byte
// says) is skipped and counted, the first one kept for the message; a file
// cut short ends the reading with what came before it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

struct CaptureFrame {
  double time = 0;      // seconds, as the capture says (the epoch, usually)
  uint32_t can_id = 0;  // without the flag bits
  bool extended = false;
  bool remote = false;
  bool error = false;  // an error frame of the controller
  bool fd = false;
  uint8_t len = 0;  // 0..8, or 0..64 for FD
  uint8_t data[64] = {};
};

struct CaptureReport {
  const char* format = "";  // "candump", "pcap"
  uint64_t frames = 0;      // handed on
  uint64_t skipped = 0;     // malformed lines or records
  std::string first_skip;   // "line 7: bad data length", "record 3: ..."
  std::string cut_short;    // the file ended inside a record (libpcap's words)
};

using CaptureFrameFn = void (*)(const CaptureFrame& frame, void* ctx);

// One line of a candump -l log (no newline); false when it is not a frame,
// with *why set.
bool capture_parse_candump_line(const char* line, size_t n, CaptureFrame* f, const char** why);

// The captured bytes of one SocketCAN record; false when they are not a frame.
bool capture_parse_socketcan(const uint8_t* bytes, size_t n, CaptureFrame* f, const char** why);

// Reads a whole file (pcap, pcapng or candump log, told apart by its first
// bytes). False, with *error a sentence for the operator, when it cannot be
// read at all: missing, empty, not a capture, a link type other than
// SocketCAN. Frames go to fn in file order.
bool capture_read_file(const std::string& path, CaptureFrameFn fn, void* ctx, CaptureReport* report,
                       std::string* error);
// The same over bytes in memory (tests, fuzzing).
bool capture_read_memory(const uint8_t* bytes, size_t n, CaptureFrameFn fn, void* ctx,
                         CaptureReport* report, std::string* error);
