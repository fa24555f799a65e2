#include "periph/media_listing.h"

#include <curl/curl.h>
#include <sys/socket.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <mutex>
#include <string>

#include "core/hud_block.h"
#include "platform/clock.h"
#include "platform/log.h"

namespace {

constexpr size_t kMediaTextWidth = 40;
constexpr size_t kBaseSize = 256;

struct MediaListing {
  std::atomic<int32_t> request{0};
  std::atomic<uint8_t*> hud{nullptr};
  std::atomic<uint32_t> lookups{0};
  std::mutex base_mutex;
  char base[kBaseSize] = "ftp://192.168.42.2/DCIM/";
};

MediaListing g_media;

// The download collector: always NUL-terminated. It stops growing at limit
// bytes; what comes after is taken from libcurl and dropped, since only the
// first size-1 bytes are ever copied out.
struct Collector {
  char* data;
  size_t length;
  size_t limit;
};

size_t collect(char* ptr, size_t size, size_t count, void* user) {
  Collector* c = static_cast<Collector*>(user);
  size_t n = size * count;
  if (c->data == nullptr) return n;
  size_t room = c->length < c->limit ? c->limit - c->length : 0;
  size_t take = n < room ? n : room;
  if (take == 0) return n;
  char* grown = static_cast<char*>(realloc(c->data, c->length + take + 1));
  if (grown == nullptr) {
    log_error("FTP: realloc() failed\n");
    return 0;
  }
  c->data = grown;
  memcpy(c->data + c->length, ptr, take);
  c->length += take;
  c->data[c->length] = '\0';
  return n;
}

void curl_global_once() {
  static std::once_flag once;
  std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
}

// Visits the lines of a listing; the CR of a CR LF line end is not part of
// the name.
template <typename Fn>
void for_each_line(const char* listing, Fn fn) {
  const char* p = listing;
  while (*p != '\0') {
    const char* end = strchr(p, '\n');
    size_t len = end ? static_cast<size_t>(end - p) : strlen(p);
    size_t name_len = len;
    if (name_len > 0 && p[name_len - 1] == '\r') name_len--;
    if (name_len > 0) fn(p, name_len);
    if (end == nullptr) break;
    p = end + 1;
  }
}

size_t copy_name(const char* p, size_t len, char* out, size_t size) {
  if (size == 0) return 0;
  size_t n = len < size - 1 ? len : size - 1;
  for (size_t i = 0; i < n; i++) {
    unsigned char ch = static_cast<unsigned char>(p[i]);
    // A name goes onto the HUD and into a log line: no control characters.
    out[i] = (ch < 0x20 || ch == 0x7F) ? '?' : static_cast<char>(ch);
  }
  out[n] = '\0';
  return n;
}

bool contains_media(const char* p, size_t len) {
  for (size_t i = 0; i + 5 <= len; i++) {
    if (memcmp(p + i, "MEDIA", 5) == 0) return true;
  }
  return false;
}

// A folder name from the camera becomes one path segment of the next URL.
void append_segment(std::string& url, const char* name) {
  static const char kHex[] = "0123456789ABCDEF";
  for (const unsigned char* p = reinterpret_cast<const unsigned char*>(name); *p; p++) {
    if ((*p >= 'A' && *p <= 'Z') || (*p >= 'a' && *p <= 'z') || (*p >= '0' && *p <= '9') ||
        *p == '-' || *p == '.' || *p == '_' || *p == '~') {
      url += static_cast<char>(*p);
    } else {
      url += '%';
      url += kHex[*p >> 4];
      url += kHex[*p & 15];
    }
  }
}

std::string current_base() {
  std::lock_guard<std::mutex> lock(g_media.base_mutex);
  return g_media.base;
}

uint8_t* media_hud() {
  uint8_t* hud = g_media.hud.load();
  return hud ? hud : hud_block();
}

}  // namespace

void media_listing_set_base(const char* url) {
  if (url == nullptr || *url == '\0') return;
  std::lock_guard<std::mutex> lock(g_media.base_mutex);
  size_t len = strlen(url);
  bool slash = url[len - 1] == '/';
  snprintf(g_media.base, sizeof g_media.base, "%s%s", url, slash ? "" : "/");
}

void media_listing_init() {
  log_info("Init FTP\n");
  g_media.request.store(0);
  g_media.hud.store(hud_block());
  curl_global_once();
}

void* media_listing_loop(void*) {
  for (;;) {
    if (g_media.request.load() != 0) {
      g_media.request.store(0);
      media_listing_lookup();
    }
    sleep_us(1000000);
  }
  return nullptr;
}

void media_listing_request() { g_media.request.store(1); }

// libcurl opens its sockets without close-on-exec; a shell command started
// during a lookup would otherwise hold the camera's FTP connection.
static curl_socket_t open_socket_cloexec(void*, curlsocktype, curl_sockaddr* a) {
  return socket(a->family, a->socktype | SOCK_CLOEXEC, a->protocol);
}

void ftp_list(const char* url, char* out, size_t size) {
  if (out == nullptr || size == 0) return;
  curl_global_once();
  CURL* curl = curl_easy_init();
  if (curl == nullptr) return;
  Collector c{static_cast<char*>(malloc(1)), 0, size - 1};
  if (c.data == nullptr) {
    log_error("FTP: malloc() failed\n");
  } else {
    c.data[0] = '\0';
  }
  curl_easy_setopt(curl, CURLOPT_URL, url);
  curl_easy_setopt(curl, CURLOPT_FOLLOWLOCATION, 1L);
  curl_easy_setopt(curl, CURLOPT_DIRLISTONLY, 1L);
  curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, collect);
  curl_easy_setopt(curl, CURLOPT_WRITEDATA, &c);
  curl_easy_setopt(curl, CURLOPT_OPENSOCKETFUNCTION, open_socket_cloexec);
  // The listing thread is the only one that would wait: a camera that
  // accepts the connection and then says nothing must not stop every later
  // lookup. No signals either, since other threads run beside it.
  curl_easy_setopt(curl, CURLOPT_NOSIGNAL, 1L);
  curl_easy_setopt(curl, CURLOPT_CONNECTTIMEOUT, 5L);
  curl_easy_setopt(curl, CURLOPT_TIMEOUT, 30L);
  curl_easy_setopt(curl, CURLOPT_PROTOCOLS_STR, "ftp");
  curl_easy_setopt(curl, CURLOPT_REDIR_PROTOCOLS_STR, "ftp");
  if (curl_easy_perform(curl) != CURLE_OK) log_warning("FTP list failed\n");
  memset(out, 0, size);
  if (c.data != nullptr) {
    size_t n = c.length < size - 1 ? c.length : size - 1;
    memcpy(out, c.data, n);
  }
  free(c.data);
  curl_easy_cleanup(curl);
}

size_t media_pick_folder(const char* listing, char* out, size_t size) {
  if (size > 0) out[0] = '\0';
  size_t n = 0;
  for_each_line(listing, [&](const char* p, size_t len) {
    if (contains_media(p, len)) n = copy_name(p, len, out, size);
  });
  return n;
}

size_t media_last_name(const char* listing, char* out, size_t size) {
  if (size > 0) out[0] = '\0';
  size_t n = 0;
  for_each_line(listing, [&](const char* p, size_t len) { n = copy_name(p, len, out, size); });
  return n;
}

void media_listing_lookup() {
  g_media.lookups.fetch_add(1);
  std::unique_ptr<char[]> listing(new char[kMediaListingSize]());
  char folder[kMediaNameSize] = {0};
  char file[kMediaNameSize] = {0};
  std::string base = current_base();
  ftp_list(base.c_str(), listing.get(), kMediaListingSize);
  media_pick_folder(listing.get(), folder, sizeof folder);
  std::string folder_url = base;
  append_segment(folder_url, folder);
  folder_url += '/';
  memset(listing.get(), 0, kMediaListingSize);
  uint8_t* hud = media_hud();
  if (folder[0] != '\0') {
    ftp_list(folder_url.c_str(), listing.get(), kMediaListingSize);
    media_last_name(listing.get(), file, sizeof file);
    if (file[0] != '\0') {
      char text[kMediaTextWidth];
      snprintf(text, sizeof text, "%s/%s", folder, file);
      if (hud != nullptr) {
        hud_fill(hud, HUD_MEDIA_TEXT, 0, kMediaTextWidth);
        hud_set_text(hud, HUD_MEDIA_TEXT, kMediaTextWidth, text);
      }
      log_info("%s\n", text);
      return;
    }
  }
  log_warning("FTP: empty result\n");
  if (hud != nullptr) hud_fill(hud, HUD_MEDIA_TEXT, 0, kMediaTextWidth);
}

uint32_t media_listing_lookups() { return g_media.lookups.load(); }
