// pqw-web's HTTP server (libmicrohttpd): one epoll thread serves every
// connection; a bounded number of connections, each with a bounded memory
// pool for its request line and headers and an idle time-out; event streams
// wait suspended (no thread, no polling) until the snapshot changes.
#pragma once

#include <sys/socket.h>

#include <cstdint>
#include <string>
#include <vector>

struct WebLink;
struct WebServer;

struct WebServerOptions {
  std::string address = "0.0.0.0";  // IPv4
  uint16_t port = 8080;             // 0: any free port
  std::string pin;                  // empty: no PIN
  // Host names requests may use besides addresses, localhost and this
  // machine's own names (--allow-host).
  std::vector<std::string> allow_hosts;
  // false: no listening socket; clients come only through
  // web_server_add_client (tests and fuzzing, without a network). Such a
  // server waits with poll, not epoll: libmicrohttpd's edge-triggered loop
  // may miss a close that arrives with the last bytes of a partial request,
  // and a fuzzer would wait out every such input.
  bool listen = true;
  unsigned video_watchers = 4;  // browsers watching the video at once
};

// One address holds at most a few connections and streams, well below the
// totals, so that one client (or one trickling attacker) cannot keep the
// others out.
inline constexpr unsigned kWebConnectionsMax = 128;
inline constexpr unsigned kWebConnectionsPerIp = 8;
inline constexpr unsigned kWebStreamsMax = 32;
inline constexpr unsigned kWebStreamsPerIp = 4;
inline constexpr unsigned kWebIdleTimeoutS = 15;
// A request must arrive whole (line, headers and body) within this time of
// its connection's start (or of the previous answer on it), however slowly
// its bytes trickle in: the idle time-out alone restarts with every byte.
inline constexpr int64_t kWebRequestDeadlineMs = 10000;
inline constexpr size_t kWebConnectionMemory = 16 * 1024;  // request line + headers + buffers
inline constexpr size_t kWebVideoBlock = 8 * 1024;         // video bytes per write, within that

// Starts serving (GET /api/video too when link->video is set); nullptr when
// the address cannot be bound.
WebServer* web_server_start(const WebServerOptions& options, WebLink* link);
// Serves a connected stream socket as a client at the given address; the
// server owns fd from here on (also when it refuses it: false).
bool web_server_add_client(WebServer* s, int fd, const sockaddr* address, socklen_t length);
// The port actually bound.
uint16_t web_server_port(const WebServer* s);
// Wakes the event streams: the snapshot changed, or a tick passed (for
// repeats while the camera link is up, and keep-alive comments); each call
// also ends the connections whose request is past its deadline. Safe from
// any thread.
void web_server_notify(WebServer* s, bool changed, bool live);

// While the camera link is up every stream gets the snapshot at least this
// often, changed or not, so that a page sees it is live.
inline constexpr int64_t kWebLiveRepeatMs = 200;
void web_server_stop(WebServer* s);
