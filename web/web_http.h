// pqw-web's HTTP server (libmicrohttpd): one epoll thread serves every
// connection; a bounded number of connections, each with a bounded memory
// pool for its request line and headers and an idle time-out; event streams
// wait suspended (no thread, no polling) until the snapshot changes.
#pragma once

#include <cstdint>
#include <string>

struct WebLink;
struct WebServer;

struct WebServerOptions {
  std::string address = "0.0.0.0";  // IPv4
  uint16_t port = 8080;             // 0: any free port
  std::string pin;                  // empty: no PIN
  unsigned video_watchers = 4;      // browsers watching the video at once
};

inline constexpr unsigned kWebConnectionsMax = 128;
inline constexpr unsigned kWebConnectionsPerIp = 32;
inline constexpr unsigned kWebStreamsMax = 16;
inline constexpr unsigned kWebIdleTimeoutS = 15;
inline constexpr size_t kWebConnectionMemory = 16 * 1024;  // request line + headers + buffers
inline constexpr size_t kWebVideoBlock = 8 * 1024;         // video bytes per write, within that

// Starts serving (GET /api/video too when link->video is set); nullptr when
// the address cannot be bound.
WebServer* web_server_start(const WebServerOptions& options, WebLink* link);
// The port actually bound.
uint16_t web_server_port(const WebServer* s);
// Wakes the event streams: the snapshot changed, or a tick passed (for
// repeats while the camera link is up, and keep-alive comments). Safe from
// any thread.
void web_server_notify(WebServer* s, bool changed, bool live);

// While the camera link is up every stream gets the snapshot at least this
// often, changed or not, so that a page sees it is live.
inline constexpr int64_t kWebLiveRepeatMs = 200;
void web_server_stop(WebServer* s);
