// pqw-camsim's state and its control commands: the text commands that
// arrive on the control socket (127.0.0.1) and what they change. A library
// of its own so that tests and the fuzzer drive the commands without the
// simulator's loop.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "link/can_reassembly.h"
#include "tools/camera_records.h"
#include "tools/camsim_bus.h"
#include "tools/camsim_model.h"

struct Replay;

struct Camsim {
  CamsimBus bus;
  int control = -1;
  uint16_t control_port = 0;
  FILE* log = nullptr;
  CamsimModel model;
  CanAssembler rx;
  int rate = 10;
  bool silent = false;
  bool queries_due = true;
  bool replied = false;  // a reply of the daemon's has arrived
  int corrupt = 0, truncate = 0, badlen = 0;
  uint64_t frames_in = 0, frames_out = 0, packets_in = 0, packets_out = 0;
  std::vector<Packet> tick_records = std::vector<Packet>(8);
  Replay* replay = nullptr;  // a capture played back instead of the records (pqw_camsim.cc)
  bool quit = false;         // "quit" was asked for
};

// A decimal number from lo to hi, the whole text.
bool camsim_parse_int(const char* s, int lo, int hi, int* out);

// One packet's bytes onto the bus as frames (counted).
void camsim_send_bytes(Camsim* cs, const uint8_t* bytes, size_t n);
// One packet onto the bus, spoilt first when a fault is pending.
void camsim_send_packet(Camsim* cs, Packet p);
void camsim_send_queries(Camsim* cs);
void camsim_send_burst(Camsim* cs, int n);
// The frame and packet counters as one JSON object.
std::string camsim_stats_json(const Camsim& cs);
// One control command (a trailing newline, CR or blank is ignored); the
// answer to send back: "ok\n", a JSON line, or "error: TEXT\n".
std::string camsim_command(Camsim* cs, std::string text);
