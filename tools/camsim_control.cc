#include "tools/camsim_control.h"

#include <cstdlib>
#include <cstring>

#include "link/can_frame.h"
#include "link/link_packet.h"

bool camsim_parse_int(const char* s, int lo, int hi, int* out) {
  if (!s || !*s) return false;
  char* end = nullptr;
  long v = strtol(s, &end, 10);
  if (*end || v < lo || v > hi) return false;
  *out = static_cast<int>(v);
  return true;
}

void camsim_send_bytes(Camsim* cs, const uint8_t* bytes, size_t n) {
  for (size_t i = 0; i < can_frame_count(n); i++) {
    if (camsim_bus_send(&cs->bus, can_frame_chunk(kCanIdCamera, bytes, n, i))) cs->frames_out++;
  }
}

void camsim_send_packet(Camsim* cs, Packet p) {
  size_t n = p.size();
  if (cs->corrupt > 0 && n > 12) {
    cs->corrupt--;
    p[11] ^= 0x5A;  // the CRC16 no longer checks out
  } else if (cs->truncate > 0 && n > 8) {
    cs->truncate--;
    n = n / 2;
  }
  camsim_send_bytes(cs, p.data(), n);
  cs->packets_out++;
}

void camsim_send_queries(Camsim* cs) {
  for (Packet& p : camera_queries(&cs->model.cam)) camsim_send_packet(cs, p);
}

void camsim_send_burst(Camsim* cs, int n) {
  for (int i = 0; i < n; i++) camsim_send_packet(cs, camera_telemetry(&cs->model.cam));
}

std::string camsim_stats_json(const Camsim& cs) {
  char buf[256];
  snprintf(buf, sizeof buf,
           "{\"frames_in\":%llu,\"frames_out\":%llu,\"packets_in\":%llu,\"packets_out\":%llu,"
           "\"send_errors\":%llu,\"reopens\":%llu,\"silent\":%s}",
           static_cast<unsigned long long>(cs.frames_in),
           static_cast<unsigned long long>(cs.frames_out),
           static_cast<unsigned long long>(cs.packets_in),
           static_cast<unsigned long long>(cs.packets_out),
           static_cast<unsigned long long>(cs.bus.send_errors),
           static_cast<unsigned long long>(cs.bus.reopens), cs.silent ? "true" : "false");
  return buf;
}

std::string camsim_command(Camsim* cs, std::string text) {
  while (!text.empty() && (text.back() == '\n' || text.back() == '\r' || text.back() == ' '))
    text.pop_back();
  size_t space = text.find(' ');
  std::string word = text.substr(0, space);
  std::string arg = space == std::string::npos ? "" : text.substr(space + 1);
  int n = 0;
  bool has_n = camsim_parse_int(arg.c_str(), 0, 1000000, &n);
  if (word == "silent" && has_n) {
    bool was = cs->silent;
    cs->silent = n != 0;
    if (was && !cs->silent) cs->queries_due = true;
  } else if (word == "corrupt" && has_n) {
    cs->corrupt = n;
  } else if (word == "truncate" && has_n) {
    cs->truncate = n;
  } else if (word == "badlen" && has_n) {
    cs->badlen = n;
  } else if (word == "burst" && has_n) {
    if (!cs->silent) camsim_send_burst(cs, n);
  } else if (word == "iso" && has_n && n <= 255) {
    // A change on the camera's side, as if made on the camera itself.
    cs->model.cam.iso = static_cast<uint8_t>(n);
  } else if (word == "queries") {
    if (!cs->silent) camsim_send_queries(cs);
  } else if (word == "state") {
    return camsim_state_json(cs->model) + "\n";
  } else if (word == "stats") {
    return camsim_stats_json(*cs) + "\n";
  } else if (word == "quit") {
    cs->quit = true;
  } else {
    return "error: " + text + "\n";
  }
  return "ok\n";
}
