// pqw-web: the rig's state and controls for any phone browser. A viewer of
// the daemon over the viewer protocol, with a small HTTP server in front.
#include <fcntl.h>
#include <getopt.h>
#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "core/config_record.h"
#include "core/shm_names.h"
#include "core/version.h"
#include "web/web_api.h"
#include "web/web_http.h"
#include "web/web_link.h"
#include "web/web_video.h"

namespace {

const char kUsage[] =
    "usage: pqw-web [--listen ADDR:PORT] [--daemon HOST:PORT] [--pin PIN] [--allow-host NAME]...\n"
    "               [--health FILE] [--shm-prefix P] [--video-watchers N]\n"
    "  --listen ADDR:PORT  where to serve the page (default 0.0.0.0:8080; port 0: any free)\n"
    "  --daemon HOST:PORT  the daemon's viewer port (default 127.0.0.1:4242)\n"
    "  --pin PIN           ask for this PIN once per browser (default: $PQW_WEB_PIN, else none);\n"
    "                      at least 6 characters\n"
    "  --allow-host NAME   also answer requests for this host name (repeatable); addresses,\n"
    "                      localhost and this machine's names (and NAME.local) always work\n"
    "  --health FILE       the daemon's health counters, shown when the file exists\n"
    "                      (default /run/pelquarinthos-wired/stats.json)\n"
    "  --shm-prefix P      the daemon's --shm-prefix: the newest file on the card comes\n"
    "                      from its block /Phud_mem when this user may read it\n"
    "  --video-watchers N  browsers that may watch the live video at once, 0..16\n"
    "                      (default 4; 0: no video)\n"
    "  --version           the version\n"
    "  --help              this text\n";

// "ADDR:PORT", ":PORT" or "PORT"; the address stays as given when absent.
bool split_address(const char* text, std::string* addr, uint16_t* port) {
  std::string t = text;
  size_t colon = t.rfind(':');
  std::string p = colon == std::string::npos ? t : t.substr(colon + 1);
  if (colon != std::string::npos && colon > 0) *addr = t.substr(0, colon);
  char* end = nullptr;
  unsigned long n = strtoul(p.c_str(), &end, 10);
  if (p.empty() || *end || n > 65535) return false;
  *port = static_cast<uint16_t>(n);
  return true;
}

int g_stop_pipe[2] = {-1, -1};
void on_stop(int) {
  int saved = errno;
  ssize_t n = write(g_stop_pipe[1], "x", 1);
  (void)n;
  errno = saved;
}

void on_change(void* arg, bool changed, bool live) {
  web_server_notify(static_cast<WebServer*>(arg), changed, live);
}

}  // namespace

int main(int argc, char** argv) {
  WebServerOptions opt;
  std::string daemon_host = "127.0.0.1";
  uint16_t daemon_port = 4242;
  std::string health = "/run/pelquarinthos-wired/stats.json";
  if (const char* pin = getenv("PQW_WEB_PIN")) opt.pin = pin;

  static const option kLong[] = {{"listen", required_argument, nullptr, 'l'},
                                 {"daemon", required_argument, nullptr, 'd'},
                                 {"pin", required_argument, nullptr, 'p'},
                                 {"allow-host", required_argument, nullptr, 'A'},
                                 {"health", required_argument, nullptr, 'H'},
                                 {"shm-prefix", required_argument, nullptr, 's'},
                                 {"video-watchers", required_argument, nullptr, 'w'},
                                 {"help", no_argument, nullptr, 'h'},
                                 {"version", no_argument, nullptr, 'V'},
                                 {nullptr, 0, nullptr, 0}};
  int c;
  while ((c = getopt_long(argc, argv, "", kLong, nullptr)) != -1) {
    switch (c) {
      case 'l':
        if (!split_address(optarg, &opt.address, &opt.port)) {
          fprintf(stderr, "pqw-web: bad --listen %s\n%s", optarg, kUsage);
          return 2;
        }
        break;
      case 'd':
        if (!split_address(optarg, &daemon_host, &daemon_port)) {
          fprintf(stderr, "pqw-web: bad --daemon %s\n%s", optarg, kUsage);
          return 2;
        }
        break;
      case 'p':
        opt.pin = optarg;
        break;
      case 'H':
        health = optarg;
        break;
      case 'A':
        opt.allow_hosts.push_back(optarg);
        break;
      case 's':
        config_shm_set_prefix(optarg);
        break;
      case 'w': {
        char* end = nullptr;
        unsigned long n = strtoul(optarg, &end, 10);
        if (!*optarg || *end || n > 16) {
          fprintf(stderr, "pqw-web: bad --video-watchers %s (0..16)\n%s", optarg, kUsage);
          return 2;
        }
        opt.video_watchers = static_cast<unsigned>(n);
        break;
      }
      case 'h':
        fputs(kUsage, stdout);
        return 0;
      case 'V':
        printf("pqw-web %d.%d.%d\n", kVersionMajor, kVersionMinor, kVersionPatch);
        return 0;
      default:
        fputs(kUsage, stderr);
        return 2;
    }
  }
  if (optind < argc) {
    fprintf(stderr, "pqw-web: unexpected argument %s\n%s", argv[optind], kUsage);
    return 2;
  }

  if (std::string why = web_pin_problem(opt.pin); !why.empty()) {
    fprintf(stderr, "pqw-web: %s (--pin or PQW_WEB_PIN)\n", why.c_str());
    return 2;
  }

  // A stop signal may land on any thread (the libraries' own included):
  // its handler only writes to a pipe that main waits on.
  if (pipe2(g_stop_pipe, O_CLOEXEC) != 0) return 1;
  struct sigaction sa = {};
  sa.sa_handler = on_stop;
  sigaction(SIGINT, &sa, nullptr);
  sigaction(SIGTERM, &sa, nullptr);
  signal(SIGPIPE, SIG_IGN);

  auto* link = new WebLink;
  link->health_path = health;
  link->hud_name = hud_shm_name();
  WebVideo* video = opt.video_watchers ? new WebVideo : nullptr;
  link->video = video;
  if (!web_link_open(link, daemon_host.c_str(), daemon_port)) {
    fprintf(stderr, "pqw-web: bad daemon address %s:%u\n", daemon_host.c_str(), daemon_port);
    return 1;
  }
  WebServer* server = web_server_start(opt, link);
  if (!server) {
    fprintf(stderr, "pqw-web: cannot listen on %s:%u\n", opt.address.c_str(), opt.port);
    return 1;
  }
  link->on_change = on_change;
  link->on_change_arg = server;
  web_link_start(link);
  printf("pqw-web: listening on %s:%u, daemon %s:%u%s\n", opt.address.c_str(),
         web_server_port(server), daemon_host.c_str(), daemon_port,
         opt.pin.empty() ? "" : ", PIN required");
  fflush(stdout);

  char byte;
  while (read(g_stop_pipe[0], &byte, 1) < 0 && errno == EINTR) {
  }
  // The link thread first (it wakes the server), then the server (its
  // requests use the link's socket), then the socket.
  web_link_stop(link);
  web_server_stop(server);
  web_link_close(link);
  delete link;
  delete video;
  printf("pqw-web: stopped\n");
  return 0;
}
