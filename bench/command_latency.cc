// command_latency: how long a viewer's JSON command takes from its datagram
// leaving the viewer to the first CAN frame of its packet on the bus, and how
// many commands per second the daemon carries without losing one.
//
// The real daemon runs in --sim with its CAN bus pointed at this program
// ("--can udp:LOCAL:127.0.0.1:OURS"): we play the camera side, keeping the
// link up with a small packet every 200 ms, and read every frame the daemon
// writes. The command is {"cmd":"iso","param":"400"}, one 14-byte packet
// (two frames) whose first frame starts 55 0E 04 66 02 01.
//
//   command_latency [--count N] [--trial-ms MS] [--bin DIR]
//
// Run by hand on an otherwise idle machine; figures go to the README.
#include <arpa/inet.h>
#include <fcntl.h>
#include <ftw.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "link/can_frame.h"
#include "link/link_packet.h"
#include "platform/paths.h"
#include "platform/ports.h"
#include "platform/spawn.h"

namespace {

const char kCommand[] = R"({"cmd":"iso","param":"400"})";
const uint8_t kFirstFrame[6] = {0x55, 0x0E, 0x04, 0x66, 0x02, 0x01};

int64_t now_ns() {
  timespec ts{};
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return static_cast<int64_t>(ts.tv_sec) * 1000000000 + ts.tv_nsec;
}

int udp_socket() {
  UdpOptions big;
  big.receive_buffer = 8 << 20;
  int fd = net_udp_open(0, big);
  if (fd < 0) {
    perror("bind");
    exit(1);
  }
  return fd;
}

int remove_entry(const char* path, const struct stat*, int, FTW*) { return remove(path); }

std::string read_file(const std::string& path) {
  std::ifstream f(path);
  std::stringstream ss;
  ss << f.rdbuf();
  return ss.str();
}

struct Bench {
  int bus = -1;     // our end of the simulated CAN bus
  int viewer = -1;  // the viewer's socket
  sockaddr_in daemon_bus{};
  sockaddr_in daemon_viewer{};
  std::atomic<bool> stop{false};
  std::atomic<uint64_t> first_frames{0};  // ISO packets seen on the bus
  std::atomic<int64_t> last_frame_ns{0};
};

// The camera side: one 13-byte packet every 200 ms keeps the link up.
void keep_alive(Bench* b) {
  uint8_t p[13] = {0x55, 0x0D, 0x04, 0x33, 0x05, 0x06, 0, 0, 0x00, 0x00, 0x00, 0, 0};
  uint16_t crc = link_crc16(p, 11);
  p[11] = static_cast<uint8_t>(crc & 0xFF);
  p[12] = static_cast<uint8_t>(crc >> 8);
  while (!b->stop.load()) {
    for (size_t i = 0; i < can_frame_count(sizeof p); i++) {
      CanFrame f = can_frame_chunk(kCanIdCamera, p, sizeof p, i);
      uint8_t wire[kCanWireSize];
      can_frame_encode(f, wire);
      sendto(b->bus, wire, sizeof wire, 0, reinterpret_cast<const sockaddr*>(&b->daemon_bus),
             sizeof b->daemon_bus);
    }
    usleep(200 * 1000);
  }
}

bool is_first_frame(const uint8_t* wire, ssize_t n) {
  CanFrame f;
  return can_frame_decode(wire, static_cast<size_t>(n), &f) && f.can_id == kCanIdDaemon &&
         f.len == 8 && memcmp(f.data, kFirstFrame, sizeof kFirstFrame) == 0;
}

// Counts the ISO packets on the bus (throughput trials).
void bus_counter(Bench* b) {
  uint8_t wire[64];
  pollfd pfd{b->bus, POLLIN, 0};
  while (!b->stop.load()) {
    if (poll(&pfd, 1, 50) <= 0) continue;
    ssize_t n = recv(b->bus, wire, sizeof wire, 0);
    if (is_first_frame(wire, n)) {
      b->first_frames.fetch_add(1);
      b->last_frame_ns.store(now_ns());
    }
  }
}

void send_command(const Bench& b) {
  uint8_t dgram[12 + sizeof kCommand - 1] = {'B'};
  memcpy(dgram + 12, kCommand, sizeof kCommand - 1);
  sendto(b.viewer, dgram, sizeof dgram, 0, reinterpret_cast<const sockaddr*>(&b.daemon_viewer),
         sizeof b.daemon_viewer);
}

// Waits for the next ISO packet's first frame; its time, or -1 after 1 s.
int64_t wait_first_frame(const Bench& b) {
  uint8_t wire[64];
  int64_t end = now_ns() + 1000000000;
  pollfd pfd{b.bus, POLLIN, 0};
  for (;;) {
    int left_ms = static_cast<int>((end - now_ns()) / 1000000);
    if (left_ms < 0 || poll(&pfd, 1, left_ms) <= 0) return -1;
    ssize_t n = recv(b.bus, wire, sizeof wire, 0);
    if (is_first_frame(wire, n)) return now_ns();
  }
}

void drain(int fd) {
  uint8_t buf[2048];
  while (recv(fd, buf, sizeof buf, MSG_DONTWAIT) > 0) {
  }
}

// Sends at `rate` commands per second for trial_ms; true when every one of
// them reached the bus.
bool trial(Bench* b, int rate, int trial_ms, uint64_t* sent_out, uint64_t* seen_out) {
  b->first_frames.store(0);
  int64_t start = now_ns();
  int64_t step = 1000000000LL / rate;
  uint64_t sent = 0;
  int64_t end = start + static_cast<int64_t>(trial_ms) * 1000000;
  for (int64_t next = start; next < end; next += step) {
    while (now_ns() < next) {
    }
    send_command(*b);
    sent++;
  }
  // Let the last ones through.
  int64_t settle = now_ns() + 1000000000LL;
  while (now_ns() < settle && b->first_frames.load() < sent) usleep(1000);
  *sent_out = sent;
  *seen_out = b->first_frames.load();
  return *seen_out == sent;
}

}  // namespace

int main(int argc, char** argv) {
  int count = 10000;
  int trial_ms = 1000;
  std::string bin = paths_exe_dir();
  for (int i = 1; i + 1 < argc; i += 2) {
    std::string a = argv[i];
    if (a == "--count")
      count = atoi(argv[i + 1]);
    else if (a == "--trial-ms")
      trial_ms = atoi(argv[i + 1]);
    else if (a == "--bin")
      bin = argv[i + 1];
  }
  if (count < 1) count = 1;
  if (trial_ms < 100) trial_ms = 100;

  Bench b;
  b.bus = udp_socket();
  b.viewer = udp_socket();
  uint16_t can_local = net_free_port(SOCK_DGRAM);
  uint16_t viewer_port = net_free_port(SOCK_DGRAM);
  uint16_t video_port = net_free_port(SOCK_DGRAM);
  uint16_t djigo_port = net_free_port(SOCK_STREAM);
  b.daemon_bus = net_loopback(can_local);
  b.daemon_viewer = net_loopback(viewer_port);

  char tmpl[] = "/tmp/pqw-bench-XXXXXX";
  if (!mkdtemp(tmpl)) return 1;
  std::string dir = tmpl;
  std::string out = dir + "/daemon.out";
  std::string can =
      "udp:" + std::to_string(can_local) + ":127.0.0.1:" + std::to_string(net_bound_port(b.bus));
  std::string daemon = bin + "/pelquarinthos-wired";
  SpawnOptions o;
  o.path = daemon.c_str();
  o.log_path = out.c_str();
  o.death_signal = SIGTERM;
  pid_t pid =
      spawn_process({"pelquarinthos-wired", "--sim", "--sim-dir", dir + "/sim", "--can", can,
                     "--viewer-port", std::to_string(viewer_port), "--video-port",
                     std::to_string(video_port), "--djigo-port", std::to_string(djigo_port)},
                    o);
  std::thread alive(keep_alive, &b);

  // The link is up once the daemon has heard our camera.
  bool up = false;
  for (int i = 0; i < 1000 && !up; i++) {
    up = read_file(out).find("data connected") != std::string::npos;
    if (!up) usleep(10000);
  }
  if (!up) {
    fprintf(stderr, "the daemon did not bring the link up; see %s\n", out.c_str());
    b.stop = true;
    alive.join();
    kill(pid, SIGTERM);
    return 1;
  }
  drain(b.bus);

  // Latency: one command at a time.
  std::vector<double> us;
  int lost = 0;
  for (int i = 0; i < count; i++) {
    int64_t t0 = now_ns();
    send_command(b);
    int64_t t1 = wait_first_frame(b);
    if (t1 < 0) {
      lost++;
      continue;
    }
    us.push_back(static_cast<double>(t1 - t0) / 1000.0);
  }
  std::sort(us.begin(), us.end());
  auto pct = [&](double p) {
    return us.empty() ? 0.0
                      : us[std::min(us.size() - 1,
                                    static_cast<size_t>(p * static_cast<double>(us.size())))];
  };
  printf(
      "latency over %d commands (datagram out -> first CAN frame): median %.0f us, p99 %.0f us, "
      "max %.0f us, lost %d\n",
      count, pct(0.5), pct(0.99), us.empty() ? 0.0 : us.back(), lost);

  // Throughput: the highest paced rate that loses nothing.
  usleep(300 * 1000);
  drain(b.bus);
  std::thread counter(bus_counter, &b);
  int good = 0, bad = 0;
  for (int rate = 500; rate <= 128000; rate *= 2) {
    uint64_t sent, seen;
    bool ok = trial(&b, rate, trial_ms, &sent, &seen);
    printf("  %6d/s: sent %llu, on the bus %llu%s\n", rate, static_cast<unsigned long long>(sent),
           static_cast<unsigned long long>(seen), ok ? "" : "  (lost some)");
    if (!ok) {
      bad = rate;
      break;
    }
    good = rate;
    usleep(300 * 1000);
  }
  while (bad && bad - good > good / 16) {
    int rate = (good + bad) / 2;
    usleep(300 * 1000);
    uint64_t sent, seen;
    bool ok = trial(&b, rate, trial_ms, &sent, &seen);
    printf("  %6d/s: sent %llu, on the bus %llu%s\n", rate, static_cast<unsigned long long>(sent),
           static_cast<unsigned long long>(seen), ok ? "" : "  (lost some)");
    (ok ? good : bad) = rate;
  }
  printf("sustained without loss: %d commands/s%s\n", good, bad ? "" : " (the highest rate tried)");
  // Why commands were lost, as the daemon said it.
  std::string log = read_file(out);
  for (const char* what : {"command dropped", "need to send again 1"}) {
    size_t n = 0;
    for (size_t at = log.find(what); at != std::string::npos; at = log.find(what, at + 1)) n++;
    printf("daemon: \"%s\" %zu times\n", what, n);
  }

  b.stop = true;
  alive.join();
  counter.join();
  spawn_stop(pid);
  nftw(dir.c_str(), remove_entry, 16, FTW_DEPTH | FTW_PHYS);
  return 0;
}
