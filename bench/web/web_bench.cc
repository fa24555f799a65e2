// Web console benchmark: pqw-web in front of the daemon in --sim with the
// camera simulator, three event streams connected (three browsers' worth).
// Measures pqw-web's CPU time per wall second, and the time from a change
// made on the simulated camera (its ISO, through its control port) to the
// event carrying it arriving at a stream on loopback (as good as leaving
// pqw-web). Loopback only; every wait is bounded.
//
//   pqw-bench-web --bin DIR [--seconds 30] [--changes 40]
//   pqw-bench-web --bin DIR --load VIEWER_PORT   pqw-web and three streams
//       against a running daemon until SIGTERM (the video relay bench's
//       companion), then its CPU figure.
#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fstream>
#include <mutex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "bench/bench_cpu.h"
#include "platform/ports.h"
#include "platform/spawn.h"

namespace {

constexpr int kStreams = 3;
volatile sig_atomic_t g_stop = 0;

int64_t now_us() {
  timespec ts{};
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return int64_t(ts.tv_sec) * 1000000 + ts.tv_nsec / 1000;
}

std::string read_file(const std::string& path) {
  std::ifstream f(path);
  std::stringstream s;
  s << f.rdbuf();
  return s.str();
}

pid_t spawn(const std::vector<std::string>& args, const std::string& log) {
  SpawnOptions o;
  o.log_path = log.c_str();
  o.death_signal = SIGKILL;
  return spawn_process(args, o);
}

// The text after `key` in the file, once it appears (within timeout_ms).
std::string wait_after(const std::string& path, const char* key, int timeout_ms) {
  for (int64_t end = now_us() + timeout_ms * 1000ll; now_us() < end; usleep(20000)) {
    std::string t = read_file(path);
    size_t at = t.find(key);
    if (at != std::string::npos) return t.substr(at + strlen(key));
  }
  return "";
}

// Three event streams on one thread; each event's arrival time and ISO.
struct Streams {
  int fds[kStreams] = {-1, -1, -1};
  std::string bufs[kStreams];
  std::mutex mu;
  std::string want_iso;  // when set: the first event carrying it stamps seen_us
  int64_t seen_us = 0;
  std::atomic<uint64_t> events{0};
  std::thread thread;

  bool open_all(uint16_t port) {
    for (int& fd : fds) {
      fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
      sockaddr_in a{};
      a.sin_family = AF_INET;
      a.sin_port = htons(port);
      a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
      if (connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) return false;
      static const char kGet[] = "GET /api/events HTTP/1.0\r\nHost: 127.0.0.1\r\n\r\n";
      if (send(fd, kGet, sizeof kGet - 1, MSG_NOSIGNAL) != sizeof kGet - 1) return false;
    }
    thread = std::thread([this] { run(); });
    return true;
  }

  void run() {
    char buf[16384];
    while (!g_stop) {
      pollfd p[kStreams];
      for (int i = 0; i < kStreams; i++) p[i] = {fds[i], POLLIN, 0};
      if (poll(p, kStreams, 100) <= 0) continue;
      int64_t t = now_us();
      for (int i = 0; i < kStreams; i++) {
        if (!(p[i].revents & POLLIN)) continue;
        ssize_t n = recv(fds[i], buf, sizeof buf, 0);
        if (n <= 0) return;
        bufs[i].append(buf, size_t(n));
        for (size_t end; (end = bufs[i].find("\n\n")) != std::string::npos;) {
          std::string ev = bufs[i].substr(0, end);
          bufs[i].erase(0, end + 2);
          if (ev.find("data: ") == std::string::npos) continue;
          events++;
          std::lock_guard<std::mutex> lock(mu);
          if (!want_iso.empty() && !seen_us &&
              ev.find("\"iso\":\"" + want_iso + "\"") != std::string::npos)
            seen_us = t;
        }
      }
    }
  }

  void close_all() {
    g_stop = 1;
    if (thread.joinable()) thread.join();
    for (int fd : fds)
      if (fd >= 0) close(fd);
  }
};

bool camsim_command(uint16_t port, const std::string& cmd) {
  return net_udp_send(-1, port, cmd.data(), cmd.size());
}

pid_t start_web(const std::string& bin, const std::string& dir, uint16_t viewer_port,
                uint16_t* port) {
  pid_t web = spawn({bin + "/pqw-web", "--listen", "127.0.0.1:0", "--daemon",
                     "127.0.0.1:" + std::to_string(viewer_port), "--health", dir + "/none.json"},
                    dir + "/web.log");
  std::string rest = wait_after(dir + "/web.log", "listening on 127.0.0.1:", 5000);
  *port = static_cast<uint16_t>(atoi(rest.c_str()));
  return web;
}

double median(std::vector<double> v) {
  if (v.empty()) return 0;
  std::sort(v.begin(), v.end());
  return v[v.size() / 2];
}
double percentile(std::vector<double> v, double q) {
  if (v.empty()) return 0;
  std::sort(v.begin(), v.end());
  return v[std::min(v.size() - 1, size_t(q * double(v.size())))];
}

int load(const std::string& bin, uint16_t viewer_port) {
  char tmpl[] = "/tmp/pqw-bench-web-load.XXXXXX";
  std::string dir = mkdtemp(tmpl);
  uint16_t port = 0;
  pid_t web = start_web(bin, dir, viewer_port, &port);
  Streams s;
  if (!port || !s.open_all(port)) {
    fprintf(stderr, "pqw-web did not start; see %s\n", dir.c_str());
    spawn_stop(web);
    return 1;
  }
  signal(SIGTERM, [](int) { g_stop = 1; });
  double cpu0 = bench_cpu_seconds(web);
  int64_t t0 = now_us();
  while (!g_stop) usleep(100000);
  double cpu = bench_cpu_seconds(web) - cpu0, wall = double(now_us() - t0) / 1e6;
  s.close_all();
  spawn_stop(web);
  printf("pqw-web beside the relay: %.2f %% of a core over %.0f s, %llu events\n", 100 * cpu / wall,
         wall, static_cast<unsigned long long>(s.events.load()));
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  std::string bin = ".";
  int seconds = 30, changes = 40, load_port = 0;
  for (int i = 1; i + 1 < argc; i += 2) {
    std::string a = argv[i];
    if (a == "--bin") {
      bin = argv[i + 1];
    } else if (a == "--seconds") {
      seconds = atoi(argv[i + 1]);
    } else if (a == "--changes") {
      changes = atoi(argv[i + 1]);
    } else if (a == "--load") {
      load_port = atoi(argv[i + 1]);
    } else {
      fprintf(stderr,
              "usage: pqw-bench-web --bin DIR [--seconds 30] [--changes 40] [--load PORT]\n");
      return 2;
    }
  }
  signal(SIGPIPE, SIG_IGN);
  if (load_port) return load(bin, static_cast<uint16_t>(load_port));

  char tmpl[] = "/tmp/pqw-bench-web.XXXXXX";
  std::string dir = mkdtemp(tmpl);
  uint16_t viewer_port = net_free_port(SOCK_DGRAM);
  pid_t daemon =
      spawn({bin + "/pelquarinthos-wired", "--sim", "--sim-dir", dir + "/sim", "--shm-prefix",
             "pqwbenchweb" + std::to_string(getpid()), "--viewer-port", std::to_string(viewer_port),
             "--video-port", std::to_string(net_free_port(SOCK_DGRAM)), "--djigo-port",
             std::to_string(net_free_port(SOCK_STREAM))},
            dir + "/daemon.log");
  uint16_t camsim = static_cast<uint16_t>(
      atoi(wait_after(dir + "/sim/camsim.out", "control 127.0.0.1:", 10000).c_str()));
  uint16_t port = 0;
  pid_t web = start_web(bin, dir, viewer_port, &port);
  Streams s;
  if (!camsim || !port || !s.open_all(port)) {
    fprintf(stderr, "daemon, simulator or pqw-web did not start; see %s\n", dir.c_str());
    spawn_stop(web);
    spawn_stop(daemon);
    return 1;
  }
  // Let the link come up and the first snapshots go out.
  usleep(3000000);

  double cpu0 = bench_cpu_seconds(web);
  uint64_t events0 = s.events.load();
  int64_t t0 = now_us();
  usleep(useconds_t(seconds) * 1000000);
  double idle_wall = double(now_us() - t0) / 1e6;
  double idle_cpu = bench_cpu_seconds(web) - cpu0;
  uint64_t idle_events = s.events.load() - events0;

  static const char* const kIso[][2] = {{"5", "400"}, {"7", "1600"}};
  std::vector<double> ms;
  int missed = 0;
  cpu0 = bench_cpu_seconds(web);
  t0 = now_us();
  for (int i = 0; i < changes; i++) {
    const auto& iso = kIso[i % 2];
    {
      std::lock_guard<std::mutex> lock(s.mu);
      s.want_iso = iso[1];
      s.seen_us = 0;
    }
    int64_t sent = now_us();
    camsim_command(camsim, std::string("iso ") + iso[0]);
    int64_t seen = 0;
    for (int64_t end = sent + 2000000; now_us() < end && !seen; usleep(1000)) {
      std::lock_guard<std::mutex> lock(s.mu);
      seen = s.seen_us;
    }
    if (seen)
      ms.push_back(double(seen - sent) / 1000.0);
    else
      missed++;
    // Changes at varied phases of the simulator's 100 ms status cycle.
    usleep(useconds_t(250000 + (i * 37 % 100) * 1000));
  }
  double change_wall = double(now_us() - t0) / 1e6;
  double change_cpu = bench_cpu_seconds(web) - cpu0;
  s.close_all();
  spawn_stop(web);
  spawn_stop(daemon);

  printf("pqw-web with %d event streams, daemon --sim with the camera simulator\n", kStreams);
  printf("  steady: %.2f %% of a core over %.0f s (%.1f events/s per stream)\n",
         100 * idle_cpu / idle_wall, idle_wall, double(idle_events) / idle_wall / kStreams);
  printf("  with %d camera changes: %.2f %% of a core over %.0f s\n", changes,
         100 * change_cpu / change_wall, change_wall);
  printf(
      "  camera change -> event: median %.1f ms, p90 %.1f ms, max %.1f ms (%zu seen, %d missed)\n",
      median(ms), percentile(ms, 0.9), ms.empty() ? 0 : *std::max_element(ms.begin(), ms.end()),
      ms.size(), missed);
  bool ok = 100 * idle_cpu / idle_wall < 1.0 && median(ms) < 150 && missed == 0;
  printf("targets (< 1 %% of a core, median < 150 ms) %s; logs in %s\n", ok ? "met" : "MISSED",
         dir.c_str());
  return ok ? 0 : 1;
}
