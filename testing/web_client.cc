#include "testing/web_client.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <cstdlib>
#include <cstring>

#include "platform/spawn.h"
#include "testing/e2e_support.h"
#include "testing/sandbox.h"

namespace {

int connect_local(uint16_t port, const char* from = nullptr) {
  int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return -1;
  if (from) {
    sockaddr_in b{};
    b.sin_family = AF_INET;
    inet_pton(AF_INET, from, &b.sin_addr);
    if (bind(fd, reinterpret_cast<sockaddr*>(&b), sizeof b) != 0) {
      close(fd);
      return -1;
    }
  }
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_port = htons(port);
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) {
    close(fd);
    return -1;
  }
  return fd;
}

bool send_all(int fd, const std::string& s) {
  size_t off = 0;
  while (off < s.size()) {
    ssize_t n = send(fd, s.data() + off, s.size() - off, MSG_NOSIGNAL);
    if (n <= 0) return false;
    off += static_cast<size_t>(n);
  }
  return true;
}

// Appends what arrives within timeout_ms; false on close, error or time-out.
bool read_some(int fd, std::string* out, int timeout_ms) {
  pollfd p = {fd, POLLIN, 0};
  if (poll(&p, 1, timeout_ms) <= 0) return false;
  char buf[8192];
  ssize_t n = recv(fd, buf, sizeof buf, 0);
  if (n <= 0) return false;
  out->append(buf, static_cast<size_t>(n));
  return true;
}

}  // namespace

bool web_start(WebProc* w, const std::string& dir, uint16_t daemon_port,
               const std::vector<std::string>& extra_args) {
  std::string bin = e2e_bin_dir() + "/pqw-web";
  w->out_path = dir + "/web.out";
  std::vector<std::string> args = {bin,
                                   "--listen",
                                   "127.0.0.1:0",
                                   "--daemon",
                                   "127.0.0.1:" + std::to_string(daemon_port),
                                   "--health",
                                   dir + "/health.json"};
  args.insert(args.end(), extra_args.begin(), extra_args.end());
  SpawnOptions o;
  o.log_path = w->out_path.c_str();
  o.death_signal = SIGKILL;
  pid_t pid = spawn_process(args, o);
  if (pid < 0) return false;
  w->pid = pid;
  return e2e_wait_until(
      [&] {
        std::string out = test_read_file(w->out_path);
        size_t at = out.find("listening on ");
        if (at == std::string::npos) return false;
        size_t colon = out.find(':', at);
        if (colon == std::string::npos) return false;
        w->port = static_cast<uint16_t>(strtoul(out.c_str() + colon + 1, nullptr, 10));
        return w->port != 0;
      },
      5000);
}

bool web_stop(WebProc* w) {
  if (w->pid <= 0) return false;
  int status = spawn_stop(w->pid);
  w->pid = -1;
  return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

HttpReply web_http(uint16_t port, const std::string& method, const std::string& path,
                   const std::string& body, const std::string& extra_headers, const char* from) {
  HttpReply r;
  int fd = connect_local(port, from);
  if (fd < 0) return r;
  // extra_headers may name a Host of their own.
  bool own_host = extra_headers.rfind("Host:", 0) == 0;
  std::string req = method + " " + path + " HTTP/1.1\r\n" +
                    (own_host ? "" : "Host: 127.0.0.1:" + std::to_string(port) + "\r\n") +
                    "Connection: close\r\n" + extra_headers;
  if (method == "POST" && extra_headers.find("Content-Type") == std::string::npos)
    req += "Content-Type: application/json\r\n";
  if (method == "POST") req += "Content-Length: " + std::to_string(body.size()) + "\r\n";
  req += "\r\n" + body;
  std::string raw;
  if (send_all(fd, req)) {
    while (read_some(fd, &raw, 3000)) {
    }
  }
  close(fd);
  size_t end = raw.find("\r\n\r\n");
  if (raw.rfind("HTTP/1.", 0) != 0 || end == std::string::npos) return r;
  r.status = atoi(raw.c_str() + 9);
  r.headers = raw.substr(0, end);
  r.body = raw.substr(end + 4);
  return r;
}

int web_idle_connection(uint16_t port, const char* from) { return connect_local(port, from); }

bool web_events_open(WebEvents* ev, uint16_t port, const char* from) {
  ev->fd = connect_local(port, from);
  ev->buf.clear();
  // HTTP/1.0: the stream comes without chunk framing.
  return ev->fd >= 0 && send_all(ev->fd, "GET /api/events HTTP/1.0\r\nHost: 127.0.0.1\r\n\r\n");
}

bool web_events_next(WebEvents* ev, std::string* json, int timeout_ms) {
  int64_t end = e2e_now_ms() + timeout_ms;
  for (;;) {
    size_t at = ev->buf.find("data: ");
    size_t stop = at == std::string::npos ? at : ev->buf.find("\n\n", at);
    if (stop != std::string::npos) {
      *json = ev->buf.substr(at + 6, stop - at - 6);
      ev->buf.erase(0, stop + 2);
      return true;
    }
    int64_t left = end - e2e_now_ms();
    if (left <= 0 || !read_some(ev->fd, &ev->buf, static_cast<int>(left))) return false;
  }
}

int web_events_status(WebEvents* ev, int timeout_ms) {
  int64_t end = e2e_now_ms() + timeout_ms;
  while (ev->buf.find("\r\n") == std::string::npos) {
    int64_t left = end - e2e_now_ms();
    if (left <= 0 || !read_some(ev->fd, &ev->buf, static_cast<int>(left))) return 0;
  }
  return ev->buf.rfind("HTTP/1.", 0) == 0 ? atoi(ev->buf.c_str() + 9) : 0;
}

void web_events_close(WebEvents* ev) {
  if (ev->fd >= 0) close(ev->fd);
  ev->fd = -1;
}
