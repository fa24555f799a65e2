// pqw-web in front of the real daemon in --sim with the camera simulator,
// all on loopback: the status shows the simulator's camera, commands and
// settings go through to it and to the sandbox's configuration file, the
// event stream follows a change on the camera, and bad requests get errors.
#include <cjson/cJSON.h>
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>

#include <fstream>
#include <string>
#include <vector>

#include "platform/spawn.h"
#include "testing/e2e_support.h"
#include "testing/sandbox.h"
#include "testing/web_client.h"
#include "web/web_http.h"

namespace {

// The value at a dotted path of a JSON text, printed as JSON.
std::string at(const std::string& json, const std::string& path) {
  cJSON* root = cJSON_Parse(json.c_str());
  const cJSON* v = root;
  size_t from = 0;
  for (;;) {
    size_t dot = path.find('.', from);
    v = cJSON_GetObjectItemCaseSensitive(v, path.substr(from, dot - from).c_str());
    if (!v || dot == std::string::npos) break;
    from = dot + 1;
  }
  char* text = v ? cJSON_PrintUnformatted(v) : nullptr;
  std::string out = text ? text : "<absent>";
  cJSON_free(text);
  cJSON_Delete(root);
  return out;
}

bool status_shows(uint16_t port, const char* path, const char* value, int timeout_ms) {
  return e2e_wait_until(
      [&] { return at(web_http(port, "GET", "/api/status").body, path) == value; }, timeout_ms);
}

// A UDP socket on loopback that stands in for the daemon and reads nothing:
// commands sent to it count as sent (to a port where nothing listens, the
// kernel's "port unreachable" would fail the next send).
struct DaemonSink {
  int fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  uint16_t port = 0;
  DaemonSink() {
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t n = sizeof a;
    if (bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0 &&
        getsockname(fd, reinterpret_cast<sockaddr*>(&a), &n) == 0)
      port = ntohs(a.sin_port);
  }
  ~DaemonSink() { close(fd); }
};

struct Rig {
  E2eDaemonGuard g;
  WebProc web;
  uint16_t camsim = 0;
  ~Rig() { web_stop(&web); }
};

void start_rig(Rig* r) {
  ASSERT_TRUE(e2e_start(&r->g.d));
  ASSERT_TRUE(e2e_wait_output(r->g.d, "GPIO init", 10000)) << e2e_stderr(r->g.d);
  r->camsim = e2e_camsim_control_port(r->g.d, 5000);
  ASSERT_NE(r->camsim, 0);
  ASSERT_TRUE(web_start(&r->web, r->g.d.dir, r->g.d.viewer_port))
      << test_read_file(r->web.out_path);
}

TEST(WebE2e, StatusCommandsSettingsAndEvents) {
  Rig r;
  start_rig(&r);
  const uint16_t port = r.web.port;

  // The simulator's camera starts at ISO code 3.
  EXPECT_NE(e2e_camsim_command(r.camsim, "state").find("\"iso\":3,"), std::string::npos);
  ASSERT_TRUE(status_shows(port, "link.connected", "true", 10000))
      << web_http(port, "GET", "/api/status").body;
  EXPECT_TRUE(status_shows(port, "camera.iso", "\"100\"", 5000));
  EXPECT_TRUE(status_shows(port, "viewers", "1", 3000));  // the next beacon counts us

  HttpReply rec =
      web_http(port, "POST", "/api/command", "{\"cmd\":\"record\",\"param\":\"start\"}");
  EXPECT_EQ(rec.status, 202) << rec.body;
  const std::string camsim_log = r.g.d.dir + "/camsim.log";
  EXPECT_TRUE(e2e_wait_until(
      [&] {
        return test_read_file(camsim_log).find("\"effect\":\"record start\"") != std::string::npos;
      },
      5000));
  EXPECT_TRUE(status_shows(port, "camera.recording", "true", 5000));

  HttpReply set =
      web_http(port, "POST", "/api/settings", "{\"name\":\"osd_top_offset\",\"value\":17}");
  EXPECT_EQ(set.status, 202) << set.body;
  const std::string conf = r.g.d.dir + "/root/boot/pelquarinthos-wired.conf";
  EXPECT_TRUE(e2e_wait_until(
      [&] { return test_read_file(conf).find("\r\nosd_top_offset=17\r\n") != std::string::npos; },
      5000))
      << test_read_file(conf);
  EXPECT_TRUE(e2e_wait_until(
      [&] { return at(web_http(port, "GET", "/api/settings").body, "osdtof") == "17"; }, 5000));

  // The Wi-Fi passwords reach the page only when it asks for them; a Wi-Fi
  // change that leaves them out keeps them.
  const std::string wifi =
      "{\"name\":\"wifi\",\"value4\":\"2\",\"value5\":\"home\",\"value6\":\"home-secret-1\","
      "\"value7\":\"0\",\"value8\":\"rig-ap\",\"value9\":\"ap-secret-22\",\"value10\":\"2.4\","
      "\"value11\":\"6\",\"value12\":\"US\"}";
  ASSERT_EQ(web_http(port, "POST", "/api/settings", wifi).status, 202);
  auto settings_show = [&](const char* path, const char* key, const char* value) {
    return e2e_wait_until([&] { return at(web_http(port, "GET", path).body, key) == value; }, 5000);
  };
  ASSERT_TRUE(settings_show("/api/settings?secrets=1", "lan_psk", "\"home-secret-1\""));
  HttpReply plain = web_http(port, "GET", "/api/settings");
  EXPECT_EQ(plain.body.find("secret"), std::string::npos) << plain.body;
  EXPECT_EQ(at(plain.body, "lan_psk"), "\"\"");
  EXPECT_EQ(at(plain.body, "lan_psk_set"), "true");
  EXPECT_EQ(at(plain.body, "ap_psk_set"), "true");
  EXPECT_EQ(at(plain.body, "cam_psk_set"), "false");
  EXPECT_EQ(at(plain.body, "ap_ssid"), "\"rig-ap\"");
  const std::string ssid_only =
      "{\"name\":\"wifi\",\"value4\":\"2\",\"value5\":\"home2\",\"value7\":\"0\","
      "\"value8\":\"rig-ap\",\"value10\":\"2.4\",\"value11\":\"6\",\"value12\":\"US\"}";
  HttpReply kept = web_http(port, "POST", "/api/settings", ssid_only);
  ASSERT_EQ(kept.status, 202);
  EXPECT_EQ(kept.body.find("secret"), std::string::npos) << kept.body;
  ASSERT_TRUE(settings_show("/api/settings", "lan_ssid", "\"home2\""));
  EXPECT_EQ(at(web_http(port, "GET", "/api/settings?secrets=1").body, "lan_psk"),
            "\"home-secret-1\"");
  EXPECT_EQ(at(web_http(port, "GET", "/api/settings?secrets=1").body, "ap_psk"),
            "\"ap-secret-22\"");

  // A change made on the camera reaches an open event stream within 500 ms.
  WebEvents ev;
  ASSERT_TRUE(web_events_open(&ev, port));
  std::string json;
  ASSERT_TRUE(web_events_next(&ev, &json, 2000));
  EXPECT_EQ(at(json, "link.connected"), "true");
  int64_t changed = e2e_now_ms();
  ASSERT_EQ(e2e_camsim_command(r.camsim, "iso 7"), "ok\n");
  bool seen = false;
  while (!seen && web_events_next(&ev, &json, 1000)) seen = at(json, "camera.iso") == "\"1600\"";
  int64_t took = e2e_now_ms() - changed;
  EXPECT_TRUE(seen);
  EXPECT_LT(took, 500);
  web_events_close(&ev);

  // Without the daemon the page says so.
  e2e_stop(&r.g.d);
  EXPECT_TRUE(status_shows(port, "link.status", "\"daemon not reachable\"", 5000));
  EXPECT_EQ(at(web_http(port, "GET", "/api/status").body, "link.connected"), "false");
  EXPECT_TRUE(web_stop(&r.web)) << test_read_file(r.web.out_path);
}

TEST(WebE2e, BadRequestsGetClearErrors) {
  TempDir dir("pqw-web-e2e");  // no daemon: the HTTP side alone
  DaemonSink sink;
  WebProc w;
  ASSERT_TRUE(web_start(&w, dir.dir, sink.port));
  const std::string json = "Content-Type: application/json\r\n";
  const struct {
    const char* method;
    const char* path;
    std::string body;
    std::string headers;
    int status;
  } kRequests[] = {
      {"GET", "/", "", "", 200},
      {"GET", "/app.js", "", "", 200},
      {"GET", "/api/vocabulary", "", "", 200},
      {"GET", "/api/settings", "", "", 503},  // no report from a daemon yet
      {"GET", "/nowhere", "", "", 404},
      {"GET", "/api/nowhere", "", "", 404},
      {"DELETE", "/api/status", "", "", 405},
      {"POST", "/api/command", "{\"cmd\":\"shot\"}", "", 202},
      {"POST", "/api/command", "{nope", "", 400},
      {"POST", "/api/command", "{\"param\":\"start\"}", "", 400},
      {"GET", "/favicon.ico", "", "", 200},
      // The daemon runs commands up to 1488 characters.
      {"POST", "/api/command", "{\"cmd\":\"" + std::string(1000, 'x') + "\"}", "", 202},
      {"POST", "/api/command", "{\"cmd\":\"" + std::string(1480, 'x') + "\"}", "", 413},
      {"POST", "/api/command", "{\"cmd\":\"aperture\",\"param\":\"99\"}", "", 400},
      {"POST", "/api/command", std::string(100000, ' '), "", 413},
      {"POST", "/api/command", "{\"cmd\":\"shot\"}", "Content-Type: text/plain\r\n", 403},
      {"POST", "/api/command", "{\"cmd\":\"shot\"}", json + "Origin: http://example.com\r\n", 403},
      {"POST", "/api/settings", "{\"value\":\"1\"}", "", 400},
      {"POST", "/api/elsewhere", "{}", "", 404},
      {"GET", "/api/status", "", "X-Big: " + std::string(40000, 'b') + "\r\n", 431},
  };
  for (const auto& q : kRequests) {
    HttpReply r = web_http(w.port, q.method, q.path, q.body, q.headers);
    EXPECT_EQ(r.status, q.status) << q.method << " " << q.path << " " << r.body.substr(0, 200);
  }
  // The health counters file, once it appears.
  std::ofstream(dir.dir + "/health.json") << "{\"frames\":5}\n";
  EXPECT_TRUE(e2e_wait_until(
      [&] { return at(web_http(w.port, "GET", "/api/status").body, "health.frames") == "5"; },
      3000));
  HttpReply page = web_http(w.port, "GET", "/");
  EXPECT_NE(page.headers.find("Content-Security-Policy: default-src 'self'"), std::string::npos);
  EXPECT_NE(page.body.find("width=device-width"), std::string::npos);
  // The page's files are kept by the browser and asked for again with their
  // validator: unchanged, the answer is a bodiless 304.
  size_t tag_at = page.headers.find("ETag: ");
  ASSERT_NE(tag_at, std::string::npos) << page.headers;
  std::string tag = page.headers.substr(tag_at + 6, page.headers.find('\r', tag_at) - tag_at - 6);
  EXPECT_NE(page.headers.find("Cache-Control: no-cache"), std::string::npos);
  HttpReply again = web_http(w.port, "GET", "/", "", "If-None-Match: " + tag + "\r\n");
  EXPECT_EQ(again.status, 304);
  EXPECT_EQ(again.body, "");
  EXPECT_EQ(web_http(w.port, "GET", "/", "", "If-None-Match: \"0\"\r\n").status, 200);

  // Hundreds of idle connections from one address cost the others nothing.
  std::vector<int> idle;
  for (int i = 0; i < 300; i++) idle.push_back(web_idle_connection(w.port));
  EXPECT_EQ(web_http(w.port, "GET", "/api/status", "", "", "127.0.0.2").status, 200);
  for (int fd : idle)
    if (fd >= 0) close(fd);
  EXPECT_TRUE(
      e2e_wait_until([&] { return web_http(w.port, "GET", "/api/status").status == 200; }, 3000));
  EXPECT_TRUE(web_stop(&w)) << "pqw-web did not stop cleanly";
}

TEST(WebE2e, PinGuardsTheApi) {
  TempDir dir("pqw-web-e2e");
  WebProc w;
  ASSERT_TRUE(web_start(&w, dir.dir, e2e_free_udp_port(), {"--pin", "246810"}));
  EXPECT_EQ(web_http(w.port, "GET", "/").status, 200);  // the page asks for the PIN
  EXPECT_EQ(web_http(w.port, "GET", "/api/status").status, 401);
  EXPECT_EQ(web_http(w.port, "POST", "/api/command", "{\"cmd\":\"shot\"}").status, 401);
  EXPECT_EQ(web_http(w.port, "POST", "/api/login", "{\"pin\":\"1111\"}").status, 403);
  EXPECT_EQ(web_http(w.port, "POST", "/api/login", "{\"pin\":\"246810\"}").status, 429);
  // The wait is for the address that failed: the owner at another address
  // gets in at once while the attacker keeps failing.
  const char* owner = "127.0.0.2";
  for (int i = 0; i < 3; i++)
    EXPECT_NE(web_http(w.port, "POST", "/api/login", "{\"pin\":\"111111\"}").status, 200);
  HttpReply ok = web_http(w.port, "POST", "/api/login", "{\"pin\":\"246810\"}", "", owner);
  ASSERT_EQ(ok.status, 200) << ok.body;
  size_t at_cookie = ok.headers.find("Set-Cookie: pqw_session=");
  ASSERT_NE(at_cookie, std::string::npos) << ok.headers;
  std::string cookie = ok.headers.substr(at_cookie + 12, 12 + 32);
  EXPECT_NE(ok.headers.find("HttpOnly; SameSite=Strict"), std::string::npos);
  EXPECT_EQ(web_http(w.port, "GET", "/api/status", "", "Cookie: " + cookie + "\r\n").status, 200);
  EXPECT_TRUE(web_stop(&w)) << "pqw-web did not stop cleanly";

  // A restart ends every session, with the same PIN or another.
  for (const char* pin : {"246810", "135790"}) {
    WebProc again;
    ASSERT_TRUE(web_start(&again, dir.dir, e2e_free_udp_port(), {"--pin", pin}));
    EXPECT_EQ(web_http(again.port, "GET", "/api/status", "", "Cookie: " + cookie + "\r\n").status,
              401)
        << pin;
    EXPECT_TRUE(web_stop(&again));
  }
}

TEST(WebE2e, ShortPinsAreRefusedAtStart) {
  TempDir dir("pqw-web-e2e");
  for (const char* pin : {"1", "12345"}) {
    const std::string out = dir.dir + "/short.out";
    SpawnOptions o;
    o.log_path = out.c_str();
    pid_t pid =
        spawn_process({e2e_bin_dir() + "/pqw-web", "--listen", "127.0.0.1:0", "--pin", pin}, o);
    ASSERT_GT(pid, 0);
    int status = -1;
    if (!e2e_wait_until([&] { return !spawn_running(pid, &status); }, 3000))
      status = spawn_stop(pid);  // it served instead of refusing
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 2) << pin << " " << status;
    EXPECT_NE(test_read_file(out).find("at least 6 characters"), std::string::npos)
        << test_read_file(out);
  }
}

// Requests for a name that is not this machine's (a page from another site
// whose name now points at the rig) get 421 on every route; addresses,
// localhost and --allow-host names are served.
TEST(WebE2e, OnlyOurHostNamesAreServed) {
  TempDir dir("pqw-web-e2e");
  DaemonSink sink;
  WebProc w;
  ASSERT_TRUE(web_start(&w, dir.dir, sink.port, {"--allow-host", "Rig.Example"}));
  char me[256] = {};
  gethostname(me, sizeof me - 1);
  const std::string port = ":" + std::to_string(w.port);
  const struct {
    std::string host;
    int page;  // GET / (the command: 202 or the same refusal)
  } kHosts[] = {
      {"127.0.0.1" + port, 200},
      {"localhost" + port, 200},
      {"LOCALHOST", 200},
      {"[::1]" + port, 200},
      {"rig.example" + port, 200},
      {"rig.example.", 200},
      {std::string(me) + port, 200},
      {std::string(me) + ".local" + port, 200},
      {"evil.example" + port, 421},
      {"127.0.0.1.evil.example" + port, 421},
      {"rig.example.evil.example", 421},
      {"localhost:80:80", 421},
      {"[::1", 421},
      {"", 421},
  };
  for (const auto& h : kHosts) {
    const std::string hdr = "Host: " + h.host + "\r\n";
    HttpReply page = web_http(w.port, "GET", "/", "", hdr);
    EXPECT_EQ(page.status, h.page) << h.host;
    HttpReply cmd = web_http(w.port, "POST", "/api/command", "{\"cmd\":\"reboot\"}",
                             hdr + "Content-Type: application/json\r\n");
    EXPECT_EQ(cmd.status, h.page == 200 ? 202 : 421) << h.host;
    if (h.page == 421) {
      EXPECT_NE(page.body.find("\"error\""), std::string::npos) << page.body;
      for (const char* path : {"/api/status", "/api/settings", "/api/events", "/api/auth"})
        EXPECT_EQ(web_http(w.port, "GET", path, "", hdr).status, 421) << h.host << path;
    }
  }
  EXPECT_TRUE(web_stop(&w));
}

// One address holds a few event streams: a new one (a reloaded page) ends
// its oldest; other addresses keep theirs.
TEST(WebE2e, EventStreamsPerAddress) {
  TempDir dir("pqw-web-e2e");
  WebProc w;
  ASSERT_TRUE(web_start(&w, dir.dir, e2e_free_udp_port()));
  WebEvents other;
  ASSERT_TRUE(web_events_open(&other, w.port, "127.0.0.4"));
  ASSERT_EQ(web_events_status(&other, 3000), 200);
  std::vector<WebEvents> mine(kWebStreamsPerIp + 2);
  std::string json;
  for (size_t i = 0; i < mine.size(); i++) {
    ASSERT_TRUE(web_events_open(&mine[i], w.port, "127.0.0.3"));
    EXPECT_EQ(web_events_status(&mine[i], 3000), 200) << i;
    EXPECT_TRUE(web_events_next(&mine[i], &json, 3000)) << i;
  }
  // The two oldest end; the newest ones and the other address's stay.
  auto closed_within = [](const WebEvents& ev, int ms) {
    int64_t end = e2e_now_ms() + ms;
    char buf[4096];
    for (int64_t left; (left = end - e2e_now_ms()) > 0;) {
      pollfd p = {ev.fd, POLLIN, 0};
      if (poll(&p, 1, static_cast<int>(left)) > 0 && recv(ev.fd, buf, sizeof buf, 0) <= 0)
        return true;
    }
    return false;
  };
  for (size_t i = 0; i < mine.size(); i++)
    EXPECT_EQ(closed_within(mine[i], i < 2 ? 3000 : 300), i < 2) << i;
  EXPECT_FALSE(closed_within(other, 300));
  for (auto& ev : mine) web_events_close(&ev);
  web_events_close(&other);
  EXPECT_TRUE(web_stop(&w));
}

// Four addresses open 32 connections each and trickle a header byte every
// 500 ms (well inside the idle time-out): each address holds at most its
// share, a browser at another address is served at once, and every trickling
// connection is cut at the request deadline.
TEST(WebE2e, TricklingClientsAreCutAtTheDeadline) {
  TempDir dir("pqw-web-e2e");
  WebProc w;
  ASSERT_TRUE(web_start(&w, dir.dir, e2e_free_udp_port()));
  struct Slow {
    int fd;
    int64_t opened;
    int64_t closed = -1;
  };
  std::vector<Slow> slow;
  const int64_t t0 = e2e_now_ms();
  for (const char* from : {"127.0.0.11", "127.0.0.12", "127.0.0.13", "127.0.0.14"}) {
    for (int i = 0; i < 32; i++) {
      int fd = web_idle_connection(w.port, from);
      if (fd < 0) continue;
      send(fd, "GET / HTTP/1.1\r\nX-Slow: ", 25, MSG_NOSIGNAL);
      slow.push_back({fd, e2e_now_ms()});
    }
  }
  // A browser elsewhere is served while they hold their connections.
  HttpReply r = web_http(w.port, "GET", "/api/status", "", "", "127.0.0.2");
  EXPECT_EQ(r.status, 200);
  const int64_t deadline = t0 + kWebRequestDeadlineMs + 3000;
  size_t open = slow.size();
  while (open > 0 && e2e_now_ms() < deadline) {
    for (Slow& c : slow) {
      if (c.closed >= 0) continue;
      char buf[256];
      pollfd p = {c.fd, POLLIN, 0};
      if ((poll(&p, 1, 0) > 0 && recv(c.fd, buf, sizeof buf, MSG_DONTWAIT) <= 0) ||
          send(c.fd, "a", 1, MSG_NOSIGNAL) < 0) {
        c.closed = e2e_now_ms();
        open--;
      }
    }
    poll(nullptr, 0, 500);
  }
  int held = 0;
  int64_t longest = 0;
  for (const Slow& c : slow) {
    close(c.fd);
    if (c.closed < 0) {
      longest = INT64_MAX;
      continue;
    }
    int64_t lived = c.closed - c.opened;
    if (lived > 1000) held++;
    longest = std::max(longest, lived);
  }
  printf("trickle: %zu connections opened, %d held past 1 s, the longest %lld ms\n", slow.size(),
         held, static_cast<long long>(longest));
  EXPECT_LE(held, static_cast<int>(4 * kWebConnectionsPerIp));
  EXPECT_LT(longest, kWebRequestDeadlineMs + 1500);
  EXPECT_TRUE(web_stop(&w));
}

}  // namespace
