// pqw-camsim: the camera, gimbal and flight controller side of the bus, over
// the simulated bus of the daemon's --can udp:... / --sim, or on a SocketCAN
// interface (--bus can:IFACE) facing the daemon's can0.
//
// Frames with CAN id 0x413 go out, frames with id 0x412 come in
// (tools/camsim_bus.h). At start it sends the identification queries of its
// mode (again when it first hears the daemon, if no reply came yet), then ten
// times a second the status records (tools/camera_records.h).
// Every intact packet from the daemon is logged as one JSON line and acted
// on (tools/camsim_model.h). Faults are injected on request.
#include <arpa/inet.h>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <netinet/in.h>
#include <poll.h>
#include <string>
#include <vector>
#include <sys/socket.h>
#include <unistd.h>

#include "link/can_frame.h"
#include "link/can_reassembly.h"
#include "tools/camera_records.h"
#include "core/version.h"
#include "tools/packet_build.h"
#include "platform/ports.h"
#include "tools/camsim_bus.h"
#include "tools/camsim_model.h"
#include "tools/capture_decode.h"
#include "tools/capture_read.h"

namespace {

const char kUsage[] =
    "usage: pqw-camsim --bus udp:LOCALPORT:HOST:PORT|can:IFACE [options]\n"
    "Plays the camera, gimbal and flight controller on the daemon's simulated CAN bus\n"
    "(frames with id 0x413 out to HOST:PORT, id 0x412 in on 127.0.0.1:LOCALPORT), or\n"
    "on the SocketCAN interface IFACE (reopened when it goes down or is made again).\n"
    "\n"
    "  --mode osmo|inspire   device the camera side acts as (default osmo): its queries\n"
    "                        and record sizes (telemetry 49/50, state 104/85, focus 59/53)\n"
    "  --log FILE            one JSON line per packet from the daemon: time (ms since the\n"
    "                        epoch), sender, receiver, sequence, type, set, id, length,\n"
    "                        payload (hex), effect (\"\" when the packet is unknown)\n"
    "  --control PORT        UDP control socket on 127.0.0.1 (default: any free port; the\n"
    "                        port is printed on standard output at start)\n"
    "  --rate HZ             status records per second (default 10)\n"
    "  --silent              start without sending anything\n"
    "  --corrupt N           spoil the CRC of the next N packets sent\n"
    "  --truncate N          send only the first bytes of the next N packets\n"
    "  --badlen N            add a packet of an unaccepted length (16) to the next N ticks\n"
    "  --burst N             send N extra telemetry records back to back at start\n"
    "  --replay FILE         play the camera side of a capture instead (frames with id\n"
    "                        0x413 of a candump -l log or SocketCAN pcap/pcapng, with\n"
    "                        their timing), print a summary line and end\n"
    "  --replay-delay MS     wait before the first replayed frame, for the daemon to open\n"
    "                        its bus (default 1000)\n"
    "  --version             the version\n"
    "  --help                this text\n"
    "\n"
    "Control commands (one UDP datagram each, answered with \"ok\" or a JSON line):\n"
    "  silent 1|0   stop or resume sending (resuming sends the queries again)\n"
    "  corrupt N    truncate N    badlen N    burst N    (as the options above)\n"
    "  queries      send the identification queries now\n"
    "  iso CODE     set the camera's ISO code (3 = 100 ... 9 = 6400) as the camera itself would\n"
    "  state        the simulated state as JSON (recording, mode, attitude, exposure, date, MAC)\n"
    "  stats        frames and packets in and out as JSON\n"
    "  quit         end the simulator\n";

volatile sig_atomic_t g_stop = 0;
void on_signal(int) { g_stop = 1; }

// The camera side of a capture, played back instead of the model's records.
struct ReplayFrame {
  double time;
  uint8_t len;
  uint8_t data[8];
};

struct Replay {
  std::string path;
  std::vector<ReplayFrame> frames;
  size_t next = 0;
  double t0 = 0;
  uint64_t start_us = 0;
  int delay_ms = 1000;
  CaptureDecoder decoder;  // what the played frames carry, for the summary
  CaptureReport report;
  uint64_t packets = 0, spoilt = 0;  // intact; bad CRC, broken or of a dropped length
};

void replay_count(Replay* r) {
  for (const DecodeEvent& e : r->decoder.events)
    (e.kind == DecodeKind::kPacket ? r->packets : r->spoilt)++;
  r->decoder.events.clear();
}

void replay_collect(const CaptureFrame& f, void* ctx) {
  Replay* r = static_cast<Replay*>(ctx);
  if (f.extended || f.remote || f.error || f.can_id != kCanIdCamera) return;
  capture_decoder_frame(&r->decoder, f);
  replay_count(r);
  // A CAN FD frame goes out as the classic frames of its bytes.
  size_t off = 0;
  do {
    ReplayFrame rf{f.time, static_cast<uint8_t>(f.len - off > 8 ? 8 : f.len - off), {}};
    memcpy(rf.data, f.data + off, rf.len);
    r->frames.push_back(rf);
    off += 8;
  } while (off < f.len);
}

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
  Replay* replay = nullptr;
};

uint64_t now_us() {
  return static_cast<uint64_t>(std::chrono::duration_cast<std::chrono::microseconds>(
                                   std::chrono::steady_clock::now().time_since_epoch())
                                   .count());
}

uint64_t now_ms() {
  return static_cast<uint64_t>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                   std::chrono::system_clock::now().time_since_epoch())
                                   .count());
}

bool parse_int(const char* s, int lo, int hi, int* out) {
  if (!s || !*s) return false;
  char* end = nullptr;
  long v = strtol(s, &end, 10);
  if (*end || v < lo || v > hi) return false;
  *out = static_cast<int>(v);
  return true;
}

void send_bytes(Camsim* cs, const uint8_t* bytes, size_t n) {
  for (size_t i = 0; i < can_frame_count(n); i++) {
    if (camsim_bus_send(&cs->bus, can_frame_chunk(kCanIdCamera, bytes, n, i))) cs->frames_out++;
  }
}

// One packet onto the bus, spoilt first when a fault is pending.
void send_packet(Camsim* cs, Packet p) {
  size_t n = p.size();
  if (cs->corrupt > 0 && n > 12) {
    cs->corrupt--;
    p[11] ^= 0x5A;  // the CRC16 no longer checks out
  } else if (cs->truncate > 0 && n > 8) {
    cs->truncate--;
    n = n / 2;
  }
  send_bytes(cs, p.data(), n);
  cs->packets_out++;
}

void send_queries(Camsim* cs) {
  for (Packet& p : camera_queries(&cs->model.cam)) send_packet(cs, p);
}

void send_burst(Camsim* cs, int n) {
  for (int i = 0; i < n; i++) send_packet(cs, camera_telemetry(&cs->model.cam));
}

// One slot of a tick: the records of a tick are spread evenly over its
// period, as a busy bus carries them, so that the daemon's 100 ms stall check
// never sees a quiet bus between two ticks.
void slot(Camsim* cs, int index, int slots) {
  if (index == 0) {
    camsim_tick(&cs->model);
    camsim_bus_check(&cs->bus);
  }
  if (cs->silent) return;
  if (index == 0 && cs->queries_due) {
    send_queries(cs);
    cs->queries_due = false;
  }
  if (index < static_cast<int>(cs->tick_records.size())) {
    if (index == 0) cs->tick_records = camera_tick_records(&cs->model.cam);
    send_packet(cs, cs->tick_records[static_cast<size_t>(index)]);
  }
  if (index == slots - 1 && cs->badlen > 0) {
    cs->badlen--;
    Packet odd(16, 0);
    odd[9] = 0x02, odd[10] = 0x8F;
    link_packet_seal(odd.data(), odd.size());
    send_bytes(cs, odd.data(), odd.size());
    cs->packets_out++;
  }
}

std::string hex(const uint8_t* p, size_t n) {
  static const char digits[] = "0123456789abcdef";
  std::string s;
  for (size_t i = 0; i < n; i++) {
    s += digits[p[i] >> 4];
    s += digits[p[i] & 15];
  }
  return s;
}

void on_packet(const uint8_t* p, size_t n, void* ctx) {
  Camsim* cs = static_cast<Camsim*>(ctx);
  cs->packets_in++;
  // The queries sent at start are lost when the daemon's bus socket was not
  // open yet (both start together under --sim): the first packet heard from
  // the daemon, if no reply came before it, has them sent once more.
  if (n >= 13 && (link_packet_fields(p).type & 0x80)) cs->replied = true;
  if (cs->packets_in == 1 && !cs->replied && !cs->silent) cs->queries_due = true;
  std::string effect = camsim_apply(&cs->model, p, n);
  if (!cs->log || n < 13) return;
  LinkFields f = link_packet_fields(p);
  fprintf(cs->log,
          "{\"time\":%llu,\"sender\":%u,\"receiver\":%u,\"sequence\":%u,\"type\":%u,\"set\":%u,"
          "\"id\":%u,\"length\":%zu,\"payload\":\"%s\",\"effect\":\"%s\"}\n",
          static_cast<unsigned long long>(now_ms()), f.sender, f.receiver, f.sequence, f.type,
          f.set, f.id, n, hex(p + 11, n - 13).c_str(), effect.c_str());
  fflush(cs->log);
}

void read_bus(Camsim* cs) {
  CanFrame f;
  while (camsim_bus_recv(&cs->bus, &f) == 1) {
    cs->frames_in++;
    can_assembler_push(&cs->rx, f.data, f.len, on_packet, cs);
  }
}

// Sends every replayed frame whose time has come; the microseconds until the
// next one, or -1 when all have gone.
int64_t replay_step(Camsim* cs, uint64_t now) {
  Replay* r = cs->replay;
  while (r->next < r->frames.size()) {
    const ReplayFrame& f = r->frames[r->next];
    uint64_t due = r->start_us + static_cast<uint64_t>((f.time - r->t0) * 1e6);
    if (due > now) return static_cast<int64_t>(due - now);
    CanFrame cf;
    cf.can_id = kCanIdCamera;
    cf.len = f.len;
    memcpy(cf.data, f.data, f.len);
    if (camsim_bus_send(&cs->bus, cf)) cs->frames_out++;
    r->next++;
  }
  return -1;
}

void replay_summary(const Camsim& cs) {
  const Replay& r = *cs.replay;
  double span = r.frames.empty() ? 0 : r.frames.back().time - r.t0;
  printf(
      "pqw-camsim: replayed %zu of %zu camera frames, %llu packets (%llu spoilt) over %.3f s "
      "from %s (%s%s)\n",
      r.next, r.frames.size(), static_cast<unsigned long long>(r.packets),
      static_cast<unsigned long long>(r.spoilt), span, r.path.c_str(), r.report.format,
      r.report.cut_short.empty() ? "" : ", cut short");
  fflush(stdout);
}

std::string stats_json(const Camsim& cs) {
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

// One control command; the answer to send back.
std::string command(Camsim* cs, std::string text) {
  while (!text.empty() && (text.back() == '\n' || text.back() == '\r' || text.back() == ' '))
    text.pop_back();
  size_t space = text.find(' ');
  std::string word = text.substr(0, space);
  std::string arg = space == std::string::npos ? "" : text.substr(space + 1);
  int n = 0;
  bool has_n = parse_int(arg.c_str(), 0, 1000000, &n);
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
    if (!cs->silent) send_burst(cs, n);
  } else if (word == "iso" && has_n && n <= 255) {
    // A change on the camera's side, as if made on the camera itself.
    cs->model.cam.iso = static_cast<uint8_t>(n);
  } else if (word == "queries") {
    if (!cs->silent) send_queries(cs);
  } else if (word == "state") {
    return camsim_state_json(cs->model) + "\n";
  } else if (word == "stats") {
    return stats_json(*cs) + "\n";
  } else if (word == "quit") {
    g_stop = 1;
  } else {
    return "error: " + text + "\n";
  }
  return "ok\n";
}

void read_control(Camsim* cs) {
  for (;;) {
    char buf[256];
    sockaddr_in from{};
    socklen_t len = sizeof from;
    ssize_t n =
        recvfrom(cs->control, buf, sizeof buf - 1, 0, reinterpret_cast<sockaddr*>(&from), &len);
    if (n < 0) return;
    std::string answer = command(cs, std::string(buf, static_cast<size_t>(n)));
    sendto(cs->control, answer.data(), answer.size(), 0, reinterpret_cast<sockaddr*>(&from), len);
  }
}

}  // namespace

int main(int argc, char** argv) {
  Camsim cs;
  Replay replay;
  capture_decoder_init(&replay.decoder);
  cs.rx.any_length = true;
  cs.rx.rescan = true;
  std::string bus, log_path;
  int control_port = 0, burst = 0;
  for (int i = 1; i < argc; i++) {
    std::string a = argv[i];
    const char* v = i + 1 < argc ? argv[i + 1] : nullptr;
    auto number = [&](int lo, int hi, int* out) {
      if (!parse_int(v, lo, hi, out)) {
        fprintf(stderr, "pqw-camsim: %s needs a number\n", a.c_str());
        exit(2);
      }
      i++;
    };
    if (a == "--help" || a == "-h") {
      fputs(kUsage, stdout);
      return 0;
    } else if (a == "--version") {
      printf("pqw-camsim %d.%d.%d\n", kVersionMajor, kVersionMinor, kVersionPatch);
      return 0;
    } else if (a == "--bus" && v) {
      bus = v, i++;
    } else if (a == "--mode" && v && (!strcmp(v, "osmo") || !strcmp(v, "inspire"))) {
      cs.model.cam.mode = strcmp(v, "inspire") == 0 ? 1 : 0, i++;
    } else if (a == "--log" && v) {
      log_path = v, i++;
    } else if (a == "--control") {
      number(0, 65535, &control_port);
    } else if (a == "--rate") {
      number(1, 1000, &cs.rate);
    } else if (a == "--silent") {
      cs.silent = true;
    } else if (a == "--corrupt") {
      number(0, 1000000, &cs.corrupt);
    } else if (a == "--truncate") {
      number(0, 1000000, &cs.truncate);
    } else if (a == "--badlen") {
      number(0, 1000000, &cs.badlen);
    } else if (a == "--burst") {
      number(0, 1000000, &burst);
    } else if (a == "--replay" && v) {
      replay.path = v, i++;
    } else if (a == "--replay-delay") {
      number(0, 600000, &replay.delay_ms);
    } else {
      fprintf(stderr, "pqw-camsim: unknown argument %s\n%s", a.c_str(), kUsage);
      return 2;
    }
  }
  if (!camsim_bus_parse(bus, &cs.bus)) {
    fprintf(stderr, "pqw-camsim: --bus udp:LOCALPORT:HOST:PORT or can:IFACE needed\n%s", kUsage);
    return 2;
  }
  std::string error;
  if (!camsim_bus_open(&cs.bus, &error)) {
    fprintf(stderr, "pqw-camsim: %s\n", error.c_str());
    return 1;
  }
  if (!replay.path.empty()) {
    std::string why;
    if (!capture_read_file(replay.path, replay_collect, &replay, &replay.report, &why)) {
      fprintf(stderr, "pqw-camsim: --replay %s\n", why.c_str());
      return 1;
    }
    capture_decoder_finish(&replay.decoder);
    replay_count(&replay);
    if (replay.frames.empty()) {
      fprintf(stderr, "pqw-camsim: --replay %s: no frames with id 0x413 (the camera side)\n",
              replay.path.c_str());
      return 1;
    }
    replay.t0 = replay.frames.front().time;
    cs.replay = &replay;
  }
  UdpOptions nonblocking;
  nonblocking.nonblocking = true;
  cs.control = net_udp_open(static_cast<uint16_t>(control_port), nonblocking);
  cs.control_port = net_bound_port(cs.control);
  if (cs.control < 0) {
    fprintf(stderr, "pqw-camsim: cannot bind control port %d: %s\n", control_port, strerror(errno));
    return 1;
  }
  if (!log_path.empty()) {
    cs.log = fopen(log_path.c_str(), "ae");
    if (!cs.log) {
      fprintf(stderr, "pqw-camsim: cannot open %s: %s\n", log_path.c_str(), strerror(errno));
      return 1;
    }
  }
  struct sigaction sa {};
  sa.sa_handler = on_signal;
  sigaction(SIGTERM, &sa, nullptr);
  sigaction(SIGINT, &sa, nullptr);
  signal(SIGPIPE, SIG_IGN);

  printf("pqw-camsim: bus %s, mode %s, control 127.0.0.1:%u\n", bus.c_str(),
         cs.model.cam.mode == 1 ? "inspire" : "osmo", cs.control_port);
  fflush(stdout);

  if (cs.replay) {
    printf("pqw-camsim: replaying %zu camera frames from %s in %d ms\n", replay.frames.size(),
           replay.path.c_str(), replay.delay_ms);
    fflush(stdout);
    replay.start_us = now_us() + static_cast<uint64_t>(replay.delay_ms) * 1000;
  }
  if (burst > 0 && !cs.silent && !cs.replay) send_burst(&cs, burst);
  // Microseconds: eight slots per tick.
  constexpr int kSlots = 8;
  const uint64_t period = 1000000 / static_cast<uint64_t>(cs.rate) / kSlots;
  uint64_t next = now_us();
  int index = 0;
  while (!g_stop) {
    uint64_t now = now_us();
    if (cs.replay) {
      int64_t wait = replay_step(&cs, now);
      if (wait < 0) break;
      // The daemon's packets are still read and logged; the model sends nothing.
      next = now + static_cast<uint64_t>(wait);
    } else if (now >= next) {
      slot(&cs, index, kSlots);
      index = (index + 1) % kSlots;
      next += period;
      if (now > next + 100 * period) next = now + period;  // the clock jumped
      continue;
    }
    pollfd fds[2] = {{cs.bus.fd, POLLIN, 0}, {cs.control, POLLIN, 0}};
    int r = poll(fds, 2, static_cast<int>((next - now + 999) / 1000));
    if (r < 0 && errno != EINTR) break;
    if (r <= 0) continue;
    if (fds[0].revents & (POLLIN | POLLERR)) read_bus(&cs);
    if (fds[1].revents & POLLIN) read_control(&cs);
  }
  if (cs.replay) replay_summary(cs);
  if (cs.log) fclose(cs.log);
  printf("pqw-camsim: %s\n", stats_json(cs).c_str());
  return 0;
}
