// pqw-web beside a daemon started with e2e_start: the program, a small HTTP
// client and an event-stream reader, for the end-to-end tests and the bench.
//
//   WebProc w;
//   ASSERT_TRUE(web_start(&w, d.dir, d.viewer_port));   // --listen 127.0.0.1:0
//   HttpReply r = web_http(w.port, "GET", "/api/status");
//   WebEvents ev; web_events_open(&ev, w.port); web_events_next(&ev, &json, 500);
//   web_stop(&w);
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <string>
#include <vector>

struct WebProc {
  pid_t pid = -1;
  uint16_t port = 0;  // the port it bound, from its first line
  std::string out_path;
};
// Starts bin/pqw-web with its output in dir/web.out and waits for its port.
bool web_start(WebProc* w, const std::string& dir, uint16_t daemon_port,
               const std::vector<std::string>& extra_args = {});
// SIGTERM, then SIGKILL after 2 s. True when it ended by itself with status 0.
bool web_stop(WebProc* w);

struct HttpReply {
  int status = 0;  // 0: no answer
  std::string headers;
  std::string body;
};
// One request on its own connection. A JSON body goes with
// "Content-Type: application/json"; extra_headers are whole lines ending in CRLF
// (a first line "Host: ..." replaces the default Host 127.0.0.1:PORT).
// from: the local source address (another 127.x.y.z is another client).
HttpReply web_http(uint16_t port, const std::string& method, const std::string& path,
                   const std::string& body = "", const std::string& extra_headers = "",
                   const char* from = nullptr);
// An open connection that sends nothing; -1 when refused at once.
int web_idle_connection(uint16_t port, const char* from = nullptr);

// GET /api/events, read one "data:" line at a time.
struct WebEvents {
  int fd = -1;
  std::string buf;
};
bool web_events_open(WebEvents* ev, uint16_t port, const char* from = nullptr);
// The HTTP status line's code of an opened stream (0 on close or time-out);
// what follows stays for web_events_next.
int web_events_status(WebEvents* ev, int timeout_ms);
// The next event's JSON within timeout_ms; false on time-out or close.
bool web_events_next(WebEvents* ev, std::string* json, int timeout_ms);
void web_events_close(WebEvents* ev);
