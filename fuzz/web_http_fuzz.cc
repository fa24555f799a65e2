// libFuzzer target: pqw-web's HTTP server as a browser (or an attacker)
// reaches it, without a network: each input is one client connection,
// handed to the real server over a socket pair, from a client address and
// to a server (PIN or none) that the first bytes choose. The request
// callback, the Host check, the PIN and its per-address waits, sessions, the
// per-address stream caps and the event streams' suspend and wake-up all
// run as in pqw-web.
//
// Input: byte 0 flags (bit 0: the server with a PIN; bit 1: wake the event
// streams with a change first; bit 2: a live link), bytes 1-4 the client's
// IPv4 address, the rest the bytes the client sends.
//
// The promise checked: a Wi-Fi password never leaves the server unless the
// request asked for it ("secrets=1") with a session (with no PIN set, any).
#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "web/web_http.h"
#include "web/web_link.h"

namespace {

constexpr const char* kReport =
    "{\"app\":\"wired\",\"ap_ssid\":\"rig\",\"ap_psk\":\"ap-secret-4711\",\"lan_ssid\":\"home\","
    "\"lan_psk\":\"lan-secret-0815\",\"cam_psk\":\"\",\"version\":\"0.14.11\"}";

struct Rig {
  WebLink link;
  WebServer* open = nullptr;
  WebServer* pin = nullptr;
};

Rig* rig() {
  static Rig* r = [] {
    auto* r = new Rig;
    // Commands go to the discard port on loopback: nothing listens there.
    if (!web_link_open(&r->link, "127.0.0.1", 9)) abort();
    r->link.snap.settings = kReport;
    WebServerOptions o;
    o.listen = false;
    r->open = web_server_start(o, &r->link);
    o.pin = "246810";
    r->pin = web_server_start(o, &r->link);
    if (!r->open || !r->pin) abort();
    return r;
  }();
  return r;
}

// Reads the answer until the server closes, an event stream has sent its
// first event, or 50 ms pass (a request still waiting for bytes).
std::string answer_of(int fd) {
  std::string got;
  char buf[8192];
  for (;;) {
    pollfd p = {fd, POLLIN, 0};
    if (poll(&p, 1, 50) <= 0) break;
    ssize_t n = recv(fd, buf, sizeof buf, 0);
    if (n <= 0) break;
    got.append(buf, static_cast<size_t>(n));
    if (got.find("text/event-stream") != std::string::npos &&
        got.find("\n\n", got.find("\r\n\r\n") + 4) != std::string::npos)
      break;
  }
  return got;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 5 || size > 32 * 1024) return 0;
  Rig* r = rig();
  WebServer* s = (data[0] & 1) ? r->pin : r->open;
  if (data[0] & 2) {
    std::lock_guard<std::mutex> lock(r->link.mu);
    r->link.version++;
  }
  web_server_notify(s, (data[0] & 2) != 0, (data[0] & 4) != 0);

  sockaddr_in from{};
  from.sin_family = AF_INET;
  memcpy(&from.sin_addr, data + 1, 4);
  from.sin_port = htons(40000);
  int sv[2];
  if (socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, sv) != 0) return 0;
  if (!web_server_add_client(s, sv[0], reinterpret_cast<sockaddr*>(&from), sizeof from)) {
    close(sv[1]);
    return 0;
  }
  const std::string request(reinterpret_cast<const char*>(data + 5), size - 5);
  // A socket pair holds far more than the largest input: this never blocks.
  ssize_t sent = send(sv[1], request.data(), request.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
  (void)sent;
  shutdown(sv[1], SHUT_WR);
  std::string got = answer_of(sv[1]);
  close(sv[1]);
  // With a PIN no input can carry a session (the tokens are random), so
  // nothing may ever leak there.
  bool asked = s == r->open && request.find("secrets=1") != std::string::npos;
  if (!asked &&
      (got.find("lan-secret") != std::string::npos || got.find("ap-secret") != std::string::npos))
    abort();
  return 0;
}
