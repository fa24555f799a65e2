// pqw-web in front of the real daemon in --sim with the camera simulator,
// all on loopback: the status shows the simulator's camera, commands and
// settings go through to it and to the sandbox's configuration file, the
// event stream follows a change on the camera, and bad requests get errors.
#include <cjson/cJSON.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <fstream>
#include <string>
#include <vector>

#include "testing/sandbox.h"
#include "testing/e2e_support.h"
#include "testing/web_client.h"

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
  WebProc w;
  ASSERT_TRUE(web_start(&w, dir.dir, e2e_free_udp_port()));
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
  ASSERT_TRUE(web_start(&w, dir.dir, e2e_free_udp_port(), {"--pin", "2468"}));
  EXPECT_EQ(web_http(w.port, "GET", "/").status, 200);  // the page asks for the PIN
  EXPECT_EQ(web_http(w.port, "GET", "/api/status").status, 401);
  EXPECT_EQ(web_http(w.port, "POST", "/api/command", "{\"cmd\":\"shot\"}").status, 401);
  EXPECT_EQ(web_http(w.port, "POST", "/api/login", "{\"pin\":\"1111\"}").status, 403);
  EXPECT_EQ(web_http(w.port, "POST", "/api/login", "{\"pin\":\"2468\"}").status, 429);
  HttpReply ok;
  ASSERT_TRUE(e2e_wait_until(
      [&] {
        return (ok = web_http(w.port, "POST", "/api/login", "{\"pin\":\"2468\"}")).status == 200;
      },
      3000));
  size_t at_cookie = ok.headers.find("Set-Cookie: pqw_session=");
  ASSERT_NE(at_cookie, std::string::npos) << ok.headers;
  std::string cookie = ok.headers.substr(at_cookie + 12, 12 + 32);
  EXPECT_NE(ok.headers.find("HttpOnly; SameSite=Strict"), std::string::npos);
  EXPECT_EQ(web_http(w.port, "GET", "/api/status", "", "Cookie: " + cookie + "\r\n").status, 200);
  EXPECT_TRUE(web_stop(&w)) << "pqw-web did not stop cleanly";
}

}  // namespace
