// pqw-viewer: a minimal viewer for people who write viewer apps and for the
// tests. It registers with the daemon, keeps the registration alive, prints
// every datagram it receives as one JSON line, and can send commands.
//
//   pqw-viewer [--host 127.0.0.1] [--daemon-port 4242] [--port 0] [--data-only]
//              [--no-register] [--send JSON]... [--raw HEX]... [--remove]
//              [--video-out FILE] [--no-video-lines] [--count N] [--seconds S]
#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>
#include <vector>

#include "tools/viewer_decode.h"

namespace {

constexpr size_t kHeader = 12;
constexpr size_t kMessageMax = 1488;
constexpr int kRefreshMs = 1000;

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

void usage() {
  fputs(
      "usage: pqw-viewer [options]\n"
      "  --host ADDR         daemon address (127.0.0.1)\n"
      "  --daemon-port N     daemon viewer port (4242)\n"
      "  --port N            our source port (0: any)\n"
      "  --data-only         register for data only (no video)\n"
      "  --no-register       do not register (only send)\n"
      "  --send JSON         send a JSON command (repeatable)\n"
      "  --raw HEX           send a raw message: type byte and what follows (repeatable)\n"
      "  --remove            send the removal message before leaving\n"
      "  --video-out FILE    append every video payload to FILE\n"
      "  --no-video-lines    do not print a line per video datagram\n"
      "  --count N           stop after N received datagrams\n"
      "  --seconds S         stop after S seconds\n",
      stderr);
}

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

bool parse_args(int argc, char** argv, Options* o) {
  for (int i = 1; i < argc; i++) {
    std::string a = argv[i];
    auto value = [&]() -> const char* { return i + 1 < argc ? argv[++i] : nullptr; };
    const char* v = nullptr;
    if (a == "--data-only") {
      o->data_only = true;
    } else if (a == "--no-register") {
      o->do_register = false;
    } else if (a == "--remove") {
      o->remove_at_end = true;
    } else if (a == "--no-video-lines") {
      o->video_lines = false;
    } else if (a == "--help" || a == "-h") {
      return false;
    } else if ((v = value()) == nullptr) {
      fprintf(stderr, "pqw-viewer: %s needs a value\n", a.c_str());
      return false;
    } else if (a == "--host") {
      o->host = v;
    } else if (a == "--daemon-port") {
      o->daemon_port = atoi(v);
    } else if (a == "--port") {
      o->port = atoi(v);
    } else if (a == "--send") {
      size_t n = strlen(v);
      if (n > kMessageMax) {
        fputs("pqw-viewer: command longer than 1488 bytes\n", stderr);
        return false;
      }
      o->messages.emplace_back(v, v + n);
    } else if (a == "--raw") {
      std::vector<uint8_t> m;
      if (!parse_hex(v, &m)) {
        fprintf(stderr, "pqw-viewer: bad hex \"%s\"\n", v);
        return false;
      }
      o->messages.push_back(m);
    } else if (a == "--video-out") {
      o->video_out = v;
    } else if (a == "--count") {
      o->count = atol(v);
    } else if (a == "--seconds") {
      o->seconds = atof(v);
    } else {
      fprintf(stderr, "pqw-viewer: unknown option %s\n", a.c_str());
      return false;
    }
  }
  if (o->daemon_port <= 0 || o->daemon_port > 65535 || o->port < 0 || o->port > 65535) {
    fputs("pqw-viewer: bad port\n", stderr);
    return false;
  }
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
  if (!parse_args(argc, argv, &o)) {
    usage();
    return 2;
  }
  sockaddr_in to{};
  to.sin_family = AF_INET;
  to.sin_port = htons(static_cast<uint16_t>(o.daemon_port));
  if (inet_pton(AF_INET, o.host.c_str(), &to.sin_addr) != 1) {
    fprintf(stderr, "pqw-viewer: bad host %s\n", o.host.c_str());
    return 2;
  }
  int fd = socket(AF_INET, SOCK_DGRAM, 0);
  int big = 8 << 20;
  if (setsockopt(fd, SOL_SOCKET, SO_RCVBUFFORCE, &big, sizeof big) != 0)
    setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &big, sizeof big);
  sockaddr_in self{};
  self.sin_family = AF_INET;
  self.sin_addr.s_addr = htonl(INADDR_ANY);
  self.sin_port = htons(static_cast<uint16_t>(o.port));
  if (fd < 0 || bind(fd, reinterpret_cast<sockaddr*>(&self), sizeof self) != 0) {
    fprintf(stderr, "pqw-viewer: cannot bind port %d: %s\n", o.port, strerror(errno));
    return 1;
  }
  socklen_t len = sizeof self;
  getsockname(fd, reinterpret_cast<sockaddr*>(&self), &len);
  fprintf(stderr, "pqw-viewer: port %d\n", ntohs(self.sin_port));

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
  while (o.count < 0 || received < o.count) {
    double t = now_s();
    if (o.seconds >= 0 && t - start >= o.seconds) break;
    if (o.do_register && t >= next_refresh) {
      send_message(fd, to, registration);
      next_refresh = t + kRefreshMs / 1000.0;
    }
    double wait = o.do_register ? next_refresh - t : 1.0;
    if (o.seconds >= 0 && start + o.seconds - t < wait) wait = start + o.seconds - t;
    pollfd p{fd, POLLIN, 0};
    int ready = poll(&p, 1, wait > 0 ? static_cast<int>(wait * 1000) + 1 : 0);
    if (ready <= 0) continue;
    ssize_t n = recv(fd, buffer, sizeof buffer, 0);
    if (n < 0) continue;
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
  return 0;
}
