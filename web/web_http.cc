#include "web/web_http.h"

#include <arpa/inet.h>
#include <microhttpd.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "web/web_api.h"
#include "web/web_assets.h"
#include "web/web_guard.h"
#include "web/web_link.h"
#include "web/web_video.h"

namespace {

constexpr int64_t kKeepAliveMs = 15000;
static_assert(kWebLinkTickMs + 25 < kWebLiveRepeatMs, "a tick, even a late one, repeats in time");
constexpr unsigned kStreamTimeoutS = 60;

// A page that only ever talks to the host it came from: nothing from the
// internet, no framing (a framed page could be tricked into a tap on record).
// The live picture plays from a MediaSource, whose URL is a blob:.
constexpr const char* kSecurityPolicy =
    "default-src 'self'; img-src 'self' data:; connect-src 'self'; media-src 'self' blob:; "
    "frame-ancestors 'none'; base-uri 'none'; form-action 'none'";

int64_t now_ms() {
  using namespace std::chrono;
  return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}

struct Stream;

// One accepted socket, for the request deadline: a duplicate of its
// descriptor (ours until the connection closes, so it can never name another
// connection's socket) and when its current request began.
struct Conn {
  int fd = -1;
  int64_t start_ms = 0;
  bool received = false;  // the current request arrived whole
  bool cut = false;
};

struct Request {
  std::string body;
  bool too_long = false;
  bool answered = false;
};

}  // namespace

struct WebServer {
  MHD_Daemon* daemon = nullptr;
  WebLink* link = nullptr;
  uint16_t port = 0;
  std::mutex mu;  // guards everything below
  WebPinState pin;
  std::vector<std::string> host_names;
  std::vector<Conn*> conns;
  std::vector<Stream*> suspended;
  std::vector<Stream*> streams;  // oldest first
  uint64_t notified_version = 0;
  bool live = false;
  bool quitting = false;
};

namespace {

struct Stream {
  WebServer* server = nullptr;
  MHD_Connection* connection = nullptr;
  std::string address;
  std::atomic<bool> ending{false};  // a newer stream from its address takes its place
  uint64_t version = UINT64_MAX;    // none sent yet
  std::string pending;
  size_t offset = 0;
  int64_t last_sent_ms = 0;
};

MHD_Result answer(MHD_Connection* c, unsigned status, const std::string& body,
                  const char* type = "application/json",
                  const std::vector<std::pair<const char*, std::string>>& extra = {}) {
  MHD_Response* r = MHD_create_response_from_buffer(body.size(), const_cast<char*>(body.data()),
                                                    MHD_RESPMEM_MUST_COPY);
  if (!r) return MHD_NO;
  MHD_add_response_header(r, "Content-Type", type);
  MHD_add_response_header(r, "Cache-Control", "no-store");
  MHD_add_response_header(r, "Content-Security-Policy", kSecurityPolicy);
  MHD_add_response_header(r, "X-Content-Type-Options", "nosniff");
  MHD_add_response_header(r, "X-Frame-Options", "DENY");
  MHD_add_response_header(r, "Referrer-Policy", "no-referrer");
  for (const auto& [name, value] : extra) MHD_add_response_header(r, name, value.c_str());
  MHD_Result ok = MHD_queue_response(c, status, r);
  MHD_destroy_response(r);
  return ok;
}

// The page's files change only with the program: each carries a validator of
// its bytes, and the browser asks again cheaply (304) rather than downloading.
std::string asset_etag(const WebAsset& a) {
  uint64_t h = 1469598103934665603ull;  // FNV-1a
  for (size_t i = 0; i < a.size; i++)
    h = (h ^ static_cast<unsigned char>(a.data[i])) * 1099511628211ull;
  char text[24];
  snprintf(text, sizeof text, "\"%016llx\"", static_cast<unsigned long long>(h));
  return text;
}

MHD_Result serve_asset(MHD_Connection* c, size_t index) {
  static const std::vector<std::string> kTags = [] {
    std::vector<std::string> tags;
    for (size_t i = 0; i < kWebAssetCount; i++) tags.push_back(asset_etag(kWebAssets[i]));
    return tags;
  }();
  const WebAsset& a = kWebAssets[index];
  const char* match = MHD_lookup_connection_value(c, MHD_HEADER_KIND, "If-None-Match");
  bool same = match && kTags[index] == match;
  MHD_Response* r = MHD_create_response_from_buffer(same ? 0 : a.size, const_cast<char*>(a.data),
                                                    MHD_RESPMEM_PERSISTENT);
  if (!r) return MHD_NO;
  MHD_add_response_header(r, "Content-Type", a.type);
  MHD_add_response_header(r, "ETag", kTags[index].c_str());
  MHD_add_response_header(r, "Cache-Control", "no-cache");
  MHD_add_response_header(r, "Content-Security-Policy", kSecurityPolicy);
  MHD_add_response_header(r, "X-Content-Type-Options", "nosniff");
  MHD_add_response_header(r, "X-Frame-Options", "DENY");
  MHD_add_response_header(r, "Referrer-Policy", "no-referrer");
  MHD_Result ok = MHD_queue_response(c, same ? MHD_HTTP_NOT_MODIFIED : MHD_HTTP_OK, r);
  MHD_destroy_response(r);
  return ok;
}

MHD_Result error(MHD_Connection* c, unsigned status, const char* why) {
  return answer(c, status, std::string("{\"error\":\"") + why + "\"}");
}

const char* header(MHD_Connection* c, const char* name) {
  return MHD_lookup_connection_value(c, MHD_HEADER_KIND, name);
}

// The client's address as text ("" when unknown).
std::string client_address(MHD_Connection* c) {
  const MHD_ConnectionInfo* info = MHD_get_connection_info(c, MHD_CONNECTION_INFO_CLIENT_ADDRESS);
  if (!info || !info->client_addr) return "";
  // Copied out: the library's sockaddr carries no promise of alignment.
  sockaddr_storage a{};
  const sockaddr* from = info->client_addr;
  memcpy(&a, from, from->sa_family == AF_INET6 ? sizeof(sockaddr_in6) : sizeof(sockaddr_in));
  char text[INET6_ADDRSTRLEN] = {};
  if (a.ss_family == AF_INET)
    inet_ntop(AF_INET, &reinterpret_cast<const sockaddr_in*>(&a)->sin_addr, text, sizeof text);
  else if (a.ss_family == AF_INET6)
    inet_ntop(AF_INET6, &reinterpret_cast<const sockaddr_in6*>(&a)->sin6_addr, text, sizeof text);
  return text;
}

bool query_flag(MHD_Connection* c, const char* name) {
  const char* v = MHD_lookup_connection_value(c, MHD_GET_ARGUMENT_KIND, name);
  return v && strcmp(v, "1") == 0;
}

ssize_t stream_read(void* cls, uint64_t, char* buf, size_t max) {
  auto* st = static_cast<Stream*>(cls);
  WebServer* s = st->server;
  for (;;) {
    if (st->ending) return MHD_CONTENT_READER_END_OF_STREAM;
    if (st->offset < st->pending.size()) {
      size_t n = std::min(max, st->pending.size() - st->offset);
      memcpy(buf, st->pending.data() + st->offset, n);
      st->offset += n;
      return static_cast<ssize_t>(n);
    }
    st->pending.clear();
    st->offset = 0;
    int64_t now = now_ms();
    uint64_t version = 0;
    std::string json = web_link_status(s->link, &version);
    bool live;
    {
      std::lock_guard<std::mutex> lock(s->mu);
      live = s->live;
    }
    // Every tick repeats the snapshot on a live link (a tick is shorter
    // than kWebLiveRepeatMs); half a tick keeps a stream that has just sent
    // a change from sending it twice.
    if (version != st->version || (live && now - st->last_sent_ms >= kWebLinkTickMs / 2)) {
      st->version = version;
      st->pending = "data: " + json + "\n\n";
      st->last_sent_ms = now;
      continue;
    }
    if (now - st->last_sent_ms >= kKeepAliveMs) {
      // A comment line: keeps proxies and the idle time-out from closing us.
      st->pending = ": keep-alive\n\n";
      st->last_sent_ms = now;
      continue;
    }
    std::lock_guard<std::mutex> lock(s->mu);
    if (s->quitting) return MHD_CONTENT_READER_END_OF_STREAM;
    // A change announced between reading the snapshot and here would be
    // missed by a stream that suspends now.
    if (s->notified_version > st->version && st->version != UINT64_MAX) continue;
    MHD_suspend_connection(st->connection);
    s->suspended.push_back(st);
    return 0;
  }
}

void stream_free(void* cls) {
  auto* st = static_cast<Stream*>(cls);
  WebServer* s = st->server;
  {
    std::lock_guard<std::mutex> lock(s->mu);
    auto& v = s->suspended;
    v.erase(std::remove(v.begin(), v.end(), st), v.end());
    s->streams.erase(std::remove(s->streams.begin(), s->streams.end(), st), s->streams.end());
  }
  delete st;
}

// A response without an end, written by read as its bytes come; done runs
// when the connection goes (or here, when the response cannot be made).
MHD_Result endless(MHD_Connection* c, const char* type, size_t block,
                   MHD_ContentReaderCallback read, MHD_ContentReaderFreeCallback done, void* cls) {
  MHD_Response* r = MHD_create_response_from_callback(MHD_SIZE_UNKNOWN, block, read, cls, done);
  if (!r) {
    done(cls);
    return MHD_NO;
  }
  MHD_add_response_header(r, "Content-Type", type);
  MHD_add_response_header(r, "Cache-Control", "no-store");
  MHD_add_response_header(r, "X-Content-Type-Options", "nosniff");
  MHD_set_connection_option(c, MHD_CONNECTION_OPTION_TIMEOUT, kStreamTimeoutS);
  MHD_Result ok = MHD_queue_response(c, 200, r);
  MHD_destroy_response(r);
  return ok;
}

MHD_Result events(WebServer* s, MHD_Connection* c) {
  auto* st = new Stream;
  st->server = s;
  st->connection = c;
  st->address = client_address(c);
  {
    std::lock_guard<std::mutex> lock(s->mu);
    // An address at its share gives up its oldest stream for the new one: a
    // page reloaded a few times must not be refused while the streams of the
    // closed pages wait suspended (they only notice the close when they next
    // send), and one address can never hold more than its share.
    std::vector<Stream*> mine;
    unsigned ending = 0;
    for (Stream* o : s->streams) {
      if (o->ending) {
        ending++;
      } else if (o->address == st->address) {
        mine.push_back(o);
      }
    }
    bool replaces = mine.size() >= kWebStreamsPerIp;
    if (s->quitting || (!replaces && s->streams.size() - ending >= kWebStreamsMax)) {
      delete st;
      return error(c, 503, "too many event streams");
    }
    if (replaces) {
      Stream* oldest = mine.front();
      oldest->ending = true;
      auto& v = s->suspended;
      if (std::find(v.begin(), v.end(), oldest) != v.end()) {
        v.erase(std::remove(v.begin(), v.end(), oldest), v.end());
        MHD_resume_connection(oldest->connection);
      }
    }
    s->streams.push_back(st);
  }
  return endless(c, "text/event-stream", 4096, stream_read, stream_free, st);
}

struct VideoStream {
  WebVideo* video = nullptr;
  WebVideoWatcher* watcher = nullptr;
  MHD_Connection* connection = nullptr;
};

ssize_t video_read(void* cls, uint64_t, char* buf, size_t max) {
  auto* vs = static_cast<VideoStream*>(cls);
  // With nothing queued the watcher is parked (suspended) until a fragment
  // or a tick wakes it.
  long n = web_video_take(vs->video, vs->watcher, reinterpret_cast<uint8_t*>(buf), max,
                          vs->connection, now_ms());
  return n < 0 ? MHD_CONTENT_READER_END_OF_STREAM : static_cast<ssize_t>(n);
}

void video_free(void* cls) {
  auto* vs = static_cast<VideoStream*>(cls);
  web_video_leave(vs->video, vs->watcher, now_ms());
  delete vs;
}

void video_suspend(void* connection) {
  MHD_suspend_connection(static_cast<MHD_Connection*>(connection));
}
void video_resume(void* connection) {
  MHD_resume_connection(static_cast<MHD_Connection*>(connection));
}

// The live picture as one endless fragmented MP4 ("video/mp4"): the init
// segment, then a fragment per frame from the next key frame on.
MHD_Result video(WebServer* s, MHD_Connection* c) {
  WebVideo* v = s->link->video;
  if (!v) return error(c, 404, "no such path");
  WebVideoWatcher* w = web_video_watch(v, now_ms());
  if (!w)
    return answer(c, 503,
                  "{\"error\":\"too many watchers: at most " + std::to_string(v->watchers_max) +
                      " may watch the video at once; try again later\"}",
                  "application/json", {{"Retry-After", "5"}});
  return endless(c, "video/mp4", kWebVideoBlock, video_read, video_free, new VideoStream{v, w, c});
}

MHD_Result login(WebServer* s, MHD_Connection* c, const Request& req) {
  std::string token;
  int64_t retry = 0;
  WebLogin result;
  {
    std::lock_guard<std::mutex> lock(s->mu);
    result =
        web_pin_login(&s->pin, client_address(c), web_login_pin(req.body.data(), req.body.size()),
                      now_ms(), &token, &retry);
  }
  if (result == WebLogin::ok)
    return answer(c, 200, "{\"ok\":true}", "application/json",
                  {{"Set-Cookie", web_pin_cookie(token)}});
  std::string seconds = std::to_string((retry + 999) / 1000);
  return answer(c, result == WebLogin::wait ? 429 : 403,
                std::string("{\"error\":\"") +
                    (result == WebLogin::wait ? "wait before the next try" : "wrong PIN") +
                    "\",\"retry_ms\":" + std::to_string(retry) + "}",
                "application/json", {{"Retry-After", seconds}});
}

MHD_Result post(WebServer* s, MHD_Connection* c, const std::string& url, const Request& req) {
  if (!web_same_origin(header(c, "Content-Type"), header(c, "Origin"), header(c, "Host"),
                       header(c, "Sec-Fetch-Site")))
    return error(c, 403, "changes need a JSON body from this page");
  if (url == "/api/login") return login(s, c, req);
  bool session;
  {
    std::lock_guard<std::mutex> lock(s->mu);
    session = web_pin_session_ok(&s->pin, header(c, "Cookie"), now_ms());
  }
  if (!session) return error(c, 401, "PIN needed");
  bool settings = url == "/api/settings";
  if (!settings && url != "/api/command") return error(c, 404, "no such path");
  if (req.too_long) return error(c, 413, "body too long");
  WebAnswer a = settings ? web_settings_body(req.body.data(), req.body.size())
                         : web_command_body(req.body.data(), req.body.size());
  // The answer shows the command as the client sent it, never the
  // passwords kept from the report.
  const std::string shown = a.text;
  if (settings) a = web_settings_keep_passwords(a, web_link_settings(s->link));
  if (a.status != 202) return answer(c, static_cast<unsigned>(a.status), a.text);
  if (!web_link_send(s->link, a.text)) return error(c, 503, "could not send to the daemon");
  if (settings) web_link_refresh_settings(s->link, 400);
  // The command as sent, as a JSON value of its own.
  return answer(c, 202, "{\"sent\":" + shown + "}");
}

MHD_Result get(WebServer* s, MHD_Connection* c, const std::string& url) {
  const std::string path = url == "/" ? "/index.html" : url == "/favicon.ico" ? "/icon.svg" : url;
  for (size_t i = 0; i < kWebAssetCount; i++) {
    if (path == kWebAssets[i].path) return serve_asset(c, i);
  }
  if (url.rfind("/api/", 0) != 0) return error(c, 404, "no such path");
  bool session;
  {
    std::lock_guard<std::mutex> lock(s->mu);
    session = web_pin_session_ok(&s->pin, header(c, "Cookie"), now_ms());
  }
  if (url == "/api/auth")
    return answer(c, 200,
                  std::string("{\"pin\":") + (s->pin.pin.empty() ? "false" : "true") +
                      ",\"session\":" + (session ? "true" : "false") + "}");
  if (!session) return error(c, 401, "PIN needed");
  if (url == "/api/status") return answer(c, 200, web_link_status(s->link, nullptr));
  if (url == "/api/events") return events(s, c);
  if (url == "/api/video") return video(s, c);
  if (url == "/api/vocabulary") return answer(c, 200, web_vocabulary_json());
  if (url == "/api/settings") {
    std::string report = web_link_settings(s->link);
    if (report.empty()) return error(c, 503, "no configuration report from the daemon yet");
    // The passwords only for a page that asks for them to edit them.
    if (!query_flag(c, "secrets")) report = web_settings_redacted(report);
    if (report.empty()) return error(c, 503, "the daemon's configuration report does not parse");
    return answer(c, 200, report);
  }
  return error(c, 404, "no such path");
}

Conn* conn_of(MHD_Connection* c) {
  const MHD_ConnectionInfo* info = MHD_get_connection_info(c, MHD_CONNECTION_INFO_SOCKET_CONTEXT);
  return info ? static_cast<Conn*>(info->socket_context) : nullptr;
}

// The request arrived whole: its deadline no longer applies.
void request_received(WebServer* s, MHD_Connection* c) {
  std::lock_guard<std::mutex> lock(s->mu);
  if (Conn* conn = conn_of(c)) conn->received = true;
}

void on_connection(void* cls, MHD_Connection* c, void** socket_context,
                   MHD_ConnectionNotificationCode code) {
  auto* s = static_cast<WebServer*>(cls);
  if (code == MHD_CONNECTION_NOTIFY_STARTED) {
    auto* conn = new Conn;
    const MHD_ConnectionInfo* info = MHD_get_connection_info(c, MHD_CONNECTION_INFO_CONNECTION_FD);
    if (info) conn->fd = fcntl(info->connect_fd, F_DUPFD_CLOEXEC, 0);
    conn->start_ms = now_ms();
    std::lock_guard<std::mutex> lock(s->mu);
    s->conns.push_back(conn);
    *socket_context = conn;
    return;
  }
  std::lock_guard<std::mutex> lock(s->mu);
  auto* conn = static_cast<Conn*>(*socket_context);
  if (!conn) return;
  s->conns.erase(std::remove(s->conns.begin(), s->conns.end(), conn), s->conns.end());
  if (conn->fd >= 0) close(conn->fd);
  delete conn;
  *socket_context = nullptr;
}

MHD_Result on_request(void* cls, MHD_Connection* c, const char* url, const char* method,
                      const char*, const char* upload, size_t* upload_size, void** con_cls) {
  auto* s = static_cast<WebServer*>(cls);
  auto* req = static_cast<Request*>(*con_cls);
  bool is_post = strcmp(method, "POST") == 0;
  if (!req) {
    req = new Request;
    *con_cls = req;
    // A page from another site whose name was pointed at this address would
    // otherwise count as our own page.
    if (!web_host_allowed(header(c, "Host"), s->host_names)) {
      req->answered = true;
      request_received(s, c);
      return error(c, 421, "this host name is not served here (see --allow-host)");
    }
    if (is_post) {
      // Refuse a declared oversized body before reading any of it.
      const char* length = header(c, "Content-Length");
      if (length && strtoull(length, nullptr, 10) > kWebBodyMax) {
        req->answered = true;
        request_received(s, c);
        return error(c, 413, "body too long");
      }
      return MHD_YES;
    }
  }
  if (req->answered) {
    *upload_size = 0;
    return MHD_YES;
  }
  if (is_post && *upload_size) {
    if (req->body.size() + *upload_size > kWebBodyMax)
      req->too_long = true;
    else
      req->body.append(upload, *upload_size);
    *upload_size = 0;
    return MHD_YES;
  }
  req->answered = true;
  request_received(s, c);
  std::string path = url ? url : "";
  if (is_post) return post(s, c, path, *req);
  if (strcmp(method, "GET") == 0) return get(s, c, path);
  return error(c, 405, "GET or POST only");
}

void on_completed(void* cls, MHD_Connection* c, void** con_cls, MHD_RequestTerminationCode) {
  delete static_cast<Request*>(*con_cls);
  *con_cls = nullptr;
  // The next request on a kept-alive connection gets a deadline of its own.
  auto* s = static_cast<WebServer*>(cls);
  std::lock_guard<std::mutex> lock(s->mu);
  if (Conn* conn = conn_of(c)) {
    conn->received = false;
    conn->start_ms = now_ms();
  }
}

// Ends every connection whose request has not arrived whole in time. Called
// with s->mu held; the shutdown makes the server's next read see the end.
void cut_late_requests(WebServer* s, int64_t now) {
  for (Conn* conn : s->conns) {
    if (conn->received || conn->cut || conn->fd < 0) continue;
    if (now - conn->start_ms < kWebRequestDeadlineMs) continue;
    shutdown(conn->fd, SHUT_RDWR);
    conn->cut = true;
  }
}

}  // namespace

WebServer* web_server_start(const WebServerOptions& options, WebLink* link) {
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_port = htons(options.port);
  if (inet_pton(AF_INET, options.address.c_str(), &addr.sin_addr) != 1) return nullptr;
  auto* s = new WebServer;
  s->link = link;
  if (link->video) {
    link->video->watchers_max = options.video_watchers;
    link->video->suspend = video_suspend;
    link->video->resume = video_resume;
  }
  s->pin.pin = options.pin;
  s->host_names = web_host_names(options.allow_hosts);
  MHD_OptionItem where[] = {{MHD_OPTION_SOCK_ADDR, 0, &addr}, {MHD_OPTION_END, 0, nullptr}};
  if (!options.listen) where[0] = {MHD_OPTION_END, 0, nullptr};
  // Without a listening socket (fuzzing) the library's complaints about
  // malformed requests would only flood the output.
  unsigned mode =
      options.listen ? MHD_USE_EPOLL | MHD_USE_ERROR_LOG : MHD_USE_POLL | MHD_USE_NO_LISTEN_SOCKET;
  s->daemon = MHD_start_daemon(
      MHD_USE_INTERNAL_POLLING_THREAD | MHD_ALLOW_SUSPEND_RESUME | mode, options.port, nullptr,
      nullptr, on_request, s, MHD_OPTION_ARRAY, where, MHD_OPTION_CONNECTION_LIMIT,
      kWebConnectionsMax, MHD_OPTION_PER_IP_CONNECTION_LIMIT, kWebConnectionsPerIp,
      MHD_OPTION_CONNECTION_TIMEOUT, kWebIdleTimeoutS, MHD_OPTION_CONNECTION_MEMORY_LIMIT,
      kWebConnectionMemory, MHD_OPTION_NOTIFY_COMPLETED, on_completed, s,
      MHD_OPTION_NOTIFY_CONNECTION, on_connection, s, MHD_OPTION_END);
  if (!s->daemon) {
    delete s;
    return nullptr;
  }
  const MHD_DaemonInfo* info = MHD_get_daemon_info(s->daemon, MHD_DAEMON_INFO_BIND_PORT);
  s->port = info ? info->port : options.port;
  return s;
}

uint16_t web_server_port(const WebServer* s) { return s->port; }

bool web_server_add_client(WebServer* s, int fd, const sockaddr* address, socklen_t length) {
  return MHD_add_connection(s->daemon, fd, address, length) == MHD_YES;
}

void web_server_notify(WebServer* s, bool changed, bool live) {
  // Parked video watchers look again now and then, so that one whose
  // browser has gone is noticed even while no video comes.
  if (s->link->video) web_video_wake_all(s->link->video, false);
  uint64_t version = 0;
  if (changed) web_link_status(s->link, &version);
  int64_t now = now_ms();
  std::lock_guard<std::mutex> lock(s->mu);
  if (changed) s->notified_version = version;
  s->live = live;
  cut_late_requests(s, now);
  auto& v = s->suspended;
  for (auto it = v.begin(); it != v.end();) {
    Stream* st = *it;
    int64_t quiet = now - st->last_sent_ms;
    if (changed || s->quitting || quiet >= kKeepAliveMs || (live && quiet >= kWebLinkTickMs / 2)) {
      MHD_resume_connection(st->connection);
      it = v.erase(it);
    } else {
      ++it;
    }
  }
}

void web_server_stop(WebServer* s) {
  if (!s) return;
  {
    std::lock_guard<std::mutex> lock(s->mu);
    s->quitting = true;
  }
  web_server_notify(s, false, false);
  if (s->link->video) web_video_wake_all(s->link->video, true);
  // Let the resumed streams end before the daemon closes their connections.
  for (int i = 0; i < 50; i++) {
    {
      std::lock_guard<std::mutex> lock(s->mu);
      if (s->streams.empty() && !(s->link->video && web_video_watching(s->link->video))) break;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  MHD_stop_daemon(s->daemon);
  delete s;
}
