// pqw-viewer: a minimal viewer for people who write viewer apps and for the
// tests. It registers with the daemon, keeps the registration alive, prints
// every datagram it receives as one JSON line, and can send commands.
//
// Options: see kUsage (pqw-viewer --help).
#include <arpa/inet.h>
#include <getopt.h>
#include <netdb.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>
#include <vector>

#include "core/version.h"
#include "platform/ports.h"
#include "tools/viewer_decode.h"

namespace {

constexpr size_t kHeader = 12;
constexpr size_t kMessageMax = 1488;
constexpr int kRefreshMs = 1000;
// A registered daemon answers at once ('B', then beacons every 800 ms).
constexpr double kAnswerWaitS = 2.0;

struct Options {
  std::string host = "127.0.0.1";
  int daemon_port = 4242;
  int port = 0;
  bool data_only = false;
  bool do_register = true;
  bool remove_at_end = false;
  bool video_lines = true;
  std::vector<std::vector<uint8_t>> messages;  // sent once, after registering
  std::string video_out;
  long count = -1;
  double seconds = -1;
};

const char kUsage[] =
    "usage: pqw-viewer [options]\n"
    "Registers with the daemon, keeps the registration alive and prints every datagram\n"
    "it sends as one JSON line on standard output.\n"
    "\n"
    "  --host NAME         daemon host name or IPv4 address (127.0.0.1)\n"
    "  --daemon-port N     daemon viewer port (4242)\n"
    "  --port N            our source port (0: any)\n"
    "  --data-only         register for data only (no video)\n"
    "  --no-register       do not register (only send)\n"
    "  --send JSON         send a JSON command (repeatable)\n"
    "  --raw HEX           send a raw message: type byte and what follows (repeatable)\n"
    "  --remove            send the removal message before leaving\n"
    "  --video-out FILE    write every video payload to FILE\n"
    "  --no-video-lines    do not print a line per video datagram\n"
    "  --count N           stop after N received datagrams\n"
    "  --seconds S         stop after S seconds\n"
    "  --version           the version\n"
    "  --help              this text\n"
    "\n"
    "When nothing comes back within 2 s of registering, it says so on standard error\n"
    "and keeps trying; it then exits 1 if the daemon never answered.\n";

bool parse_hex(const char* text, std::vector<uint8_t>* out) {
  std::string digits;
  for (const char* p = text; *p; p++)
    if (!strchr(" :,-", *p)) digits += *p;
  if (digits.empty() || digits.size() % 2 != 0 || digits.size() / 2 > kMessageMax) return false;
  for (size_t i = 0; i < digits.size(); i += 2) {
    char pair[3] = {digits[i], digits[i + 1], 0};
    char* end = nullptr;
    long v = strtol(pair, &end, 16);
    if (*end) return false;
    out->push_back(static_cast<uint8_t>(v));
  }
  return true;
}

bool parse_long(const char* text, long lo, long hi, long* out) {
  char* end = nullptr;
  errno = 0;
  long v = strtol(text, &end, 10);
  if (!*text || *end || errno || v < lo || v > hi) return false;
  *out = v;
  return true;
}

bool parse_seconds(const char* text, double* out) {
  char* end = nullptr;
  double v = strtod(text, &end);
  if (!*text || *end || !(v >= 0) || v > 1e9) return false;
  *out = v;
  return true;
}

enum Parsed { kRun, kExitOk, kExitUsage };

Parsed parse_args(int argc, char** argv, Options* o) {
  enum {
    kHost = 256,
    kDaemonPort,
    kPort,
    kDataOnly,
    kNoRegister,
    kSend,
    kRaw,
    kRemove,
    kVideoOut,
    kNoVideoLines,
    kCount,
    kSeconds,
    kVersion,
    kHelp
  };
  static const option kLong[] = {{"host", required_argument, nullptr, kHost},
                                 {"daemon-port", required_argument, nullptr, kDaemonPort},
                                 {"port", required_argument, nullptr, kPort},
                                 {"data-only", no_argument, nullptr, kDataOnly},
                                 {"no-register", no_argument, nullptr, kNoRegister},
                                 {"send", required_argument, nullptr, kSend},
                                 {"raw", required_argument, nullptr, kRaw},
                                 {"remove", no_argument, nullptr, kRemove},
                                 {"video-out", required_argument, nullptr, kVideoOut},
                                 {"no-video-lines", no_argument, nullptr, kNoVideoLines},
                                 {"count", required_argument, nullptr, kCount},
                                 {"seconds", required_argument, nullptr, kSeconds},
                                 {"version", no_argument, nullptr, kVersion},
                                 {"help", no_argument, nullptr, kHelp},
                                 {nullptr, 0, nullptr, 0}};
  auto bad = [](const char* what, const char* value) {
    fprintf(stderr, "pqw-viewer: bad %s \"%s\"\n", what, value);
    return kExitUsage;
  };
  long n = 0;
  int c;
  opterr = 1;  // getopt_long names unknown options and missing values itself
  while ((c = getopt_long(argc, argv, "h", kLong, nullptr)) != -1) {
    switch (c) {
      case kHost:
        o->host = optarg;
        break;
      case kDaemonPort:
        if (!parse_long(optarg, 1, 65535, &n)) return bad("--daemon-port (1-65535)", optarg);
        o->daemon_port = static_cast<int>(n);
        break;
      case kPort:
        if (!parse_long(optarg, 0, 65535, &n)) return bad("--port (0-65535)", optarg);
        o->port = static_cast<int>(n);
        break;
      case kDataOnly:
        o->data_only = true;
        break;
      case kNoRegister:
        o->do_register = false;
        break;
      case kSend: {
        size_t len = strlen(optarg);
        if (len > kMessageMax) return bad("--send (longer than 1488 bytes)", "...");
        o->messages.emplace_back(optarg, optarg + len);
        break;
      }
      case kRaw: {
        std::vector<uint8_t> m;
        if (!parse_hex(optarg, &m)) return bad("--raw (hex bytes)", optarg);
        o->messages.push_back(m);
        break;
      }
      case kRemove:
        o->remove_at_end = true;
        break;
      case kVideoOut:
        o->video_out = optarg;
        break;
      case kNoVideoLines:
        o->video_lines = false;
        break;
      case kCount:
        if (!parse_long(optarg, 0, LONG_MAX, &o->count)) return bad("--count", optarg);
        break;
      case kSeconds:
        if (!parse_seconds(optarg, &o->seconds)) return bad("--seconds", optarg);
        break;
      case kVersion:
        printf("pqw-viewer %d.%d.%d\n", kVersionMajor, kVersionMinor, kVersionPatch);
        return kExitOk;
      case 'h':
      case kHelp:
        fputs(kUsage, stdout);
        return kExitOk;
      default:  // getopt_long has named the option
        return kExitUsage;
    }
  }
  if (optind < argc) {
    fprintf(stderr, "pqw-viewer: unexpected argument \"%s\"\n", argv[optind]);
    return kExitUsage;
  }
  return kRun;
}

// The daemon's IPv4 address: a dotted quad or a name, through the resolver.
bool resolve_host(const std::string& host, int port, sockaddr_in* out) {
  addrinfo hints{};
  hints.ai_family = AF_INET;
  hints.ai_socktype = SOCK_DGRAM;
  addrinfo* found = nullptr;
  int rc = getaddrinfo(host.c_str(), nullptr, &hints, &found);
  if (rc != 0 || !found) {
    fprintf(stderr, "pqw-viewer: cannot resolve host \"%s\": %s\n", host.c_str(),
            rc ? gai_strerror(rc) : "no IPv4 address");
    return false;
  }
  memcpy(out, found->ai_addr, sizeof *out);
  out->sin_port = htons(static_cast<uint16_t>(port));
  freeaddrinfo(found);
  return true;
}

double now_s() {
  timespec ts{};
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return ts.tv_sec + ts.tv_nsec / 1e9;
}

// 'B', eleven header bytes (zero), then the message.
void send_message(int fd, const sockaddr_in& to, const std::vector<uint8_t>& message) {
  std::vector<uint8_t> d(kHeader, 0);
  d[0] = 'B';
  d.insert(d.end(), message.begin(), message.end());
  sendto(fd, d.data(), d.size(), 0, reinterpret_cast<const sockaddr*>(&to), sizeof to);
}

}  // namespace

int main(int argc, char** argv) {
  Options o;
  switch (parse_args(argc, argv, &o)) {
    case kExitOk:
      return 0;
    case kExitUsage:
      fputs("try pqw-viewer --help\n", stderr);
      return 2;
    case kRun:
      break;
  }
  sockaddr_in to{};
  if (!resolve_host(o.host, o.daemon_port, &to)) return 2;
  // Every address: the daemon may be on another machine.
  UdpOptions viewer;
  viewer.any_address = true;
  viewer.receive_buffer = 8 << 20;
  int fd = net_udp_open(static_cast<uint16_t>(o.port), viewer);
  if (fd < 0) {
    fprintf(stderr, "pqw-viewer: cannot bind port %d: %s\n", o.port, strerror(errno));
    return 1;
  }
  fprintf(stderr, "pqw-viewer: port %d\n", net_bound_port(fd));

  FILE* video = nullptr;
  if (!o.video_out.empty() && !(video = fopen(o.video_out.c_str(), "wb"))) {
    fprintf(stderr, "pqw-viewer: cannot open %s\n", o.video_out.c_str());
    return 1;
  }

  const std::vector<uint8_t> registration = {0, static_cast<uint8_t>(o.data_only ? 1 : 0)};
  const double start = now_s();
  double next_refresh = start;
  if (o.do_register) {
    send_message(fd, to, registration);
    next_refresh = start + kRefreshMs / 1000.0;
  }
  for (const auto& m : o.messages) send_message(fd, to, m);

  static uint8_t buffer[65536];
  long received = 0;
  bool answered = false, said_silent = false;
  while (o.count < 0 || received < o.count) {
    double t = now_s();
    if (o.seconds >= 0 && t - start >= o.seconds) break;
    if (o.do_register && !answered && !said_silent && t - start >= kAnswerWaitS) {
      fprintf(stderr,
              "pqw-viewer: no answer from %s:%d within 2 s of registering (is the daemon "
              "running there, and does its --viewer-allow admit us?); still trying\n",
              o.host.c_str(), o.daemon_port);
      said_silent = true;
    }
    if (o.do_register && t >= next_refresh) {
      send_message(fd, to, registration);
      next_refresh = t + kRefreshMs / 1000.0;
    }
    double wait = o.do_register ? next_refresh - t : 1.0;
    if (o.do_register && !answered && !said_silent && start + kAnswerWaitS - t < wait)
      wait = start + kAnswerWaitS - t;
    if (o.seconds >= 0 && start + o.seconds - t < wait) wait = start + o.seconds - t;
    pollfd p{fd, POLLIN, 0};
    int ready = poll(&p, 1, wait > 0 ? static_cast<int>(wait * 1000) + 1 : 0);
    if (ready <= 0) continue;
    ssize_t n = recv(fd, buffer, sizeof buffer, 0);
    if (n < 0) continue;
    if (!answered && said_silent)
      fprintf(stderr, "pqw-viewer: the daemon answered after %.1f s\n", now_s() - start);
    answered = true;
    received++;
    bool is_video = n >= static_cast<ssize_t>(kHeader) && buffer[0] == 'B' && buffer[1] == 1;
    if (is_video && video) fwrite(buffer + kHeader, 1, static_cast<size_t>(n) - kHeader, video);
    if (!is_video || o.video_lines) {
      std::string line = viewer_decode_json(buffer, static_cast<size_t>(n));
      fprintf(stdout, "%s\n", line.c_str());
      fflush(stdout);
    }
  }
  if (o.remove_at_end) send_message(fd, to, {1});
  if (video) fclose(video);
  close(fd);
  return o.do_register && !answered ? 1 : 0;
}
