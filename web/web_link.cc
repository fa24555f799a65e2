#include "web/web_link.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cjson/cJSON.h>
#include <sys/mman.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <vector>

#include "core/hud_block.h"
#include "tools/viewer_decode.h"
#include "web/web_video.h"

namespace {

constexpr int64_t kRegisterEveryMs = 1000;
constexpr int64_t kSettingsEveryMs = 10000;
constexpr int64_t kHealthEveryMs = 1000;
constexpr size_t kHealthMax = 8192;
constexpr size_t kHeader = 12;
constexpr size_t kMessageMax = 1488;
constexpr size_t kBurstMax = 64;
constexpr int64_t kBatchMs = 25;
// With video on, a burst (a key frame) is hundreds of datagrams; the receive
// buffer holds a few of them and each wake-up takes up to this many.
constexpr size_t kVideoBurstMax = 1024;
constexpr int kReceiveBuffer = 4 << 20;

int64_t now_ms() {
  using namespace std::chrono;
  return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}

bool send_message(int fd, const uint8_t* msg, size_t n) {
  if (fd < 0 || n > kMessageMax) return false;
  uint8_t buf[kHeader + kMessageMax] = {'B'};
  memcpy(buf + kHeader, msg, n);
  // A connected UDP socket reports an earlier datagram's "port unreachable"
  // on the next send: while the daemon restarts, a registration leaves one
  // behind, and the first command after it is back would fail for it. That
  // error is about the past: send once more.
  for (int attempt = 0; attempt < 2; attempt++) {
    ssize_t sent = send(fd, buf, kHeader + n, MSG_DONTWAIT | MSG_NOSIGNAL);
    if (sent == static_cast<ssize_t>(kHeader + n)) return true;
    if (sent >= 0 || errno != ECONNREFUSED) return false;
  }
  return false;
}

// The health file is someone else's: read a bounded amount, keep it only when
// it is one JSON object.
std::string read_health(const std::string& path) {
  if (path.empty()) return "";
  int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  if (fd < 0) return "";
  std::string text(kHealthMax, '\0');
  ssize_t n = read(fd, text.data(), text.size());
  close(fd);
  if (n <= 0 || static_cast<size_t>(n) >= kHealthMax) return "";
  text.resize(static_cast<size_t>(n));
  size_t first = text.find_first_not_of(" \t\r\n");
  if (first == std::string::npos || text[first] != '{') return "";
  return text;
}

// The newest file on the card from the daemon's HudBlock: a bounded read at
// the field's offset, the text up to its NUL. False when the block cannot be
// read here (absent, or not shared with this user).
bool read_newest_file(const std::string& name, std::string* file) {
  file->clear();
  if (name.empty()) return false;
  int fd = shm_open(name.c_str(), O_RDONLY | O_CLOEXEC, 0);
  if (fd < 0) return false;
  char text[40] = {};
  static_assert(HUD_MEDIA_TEXT + sizeof text <= kHudSize);
  ssize_t n = pread(fd, text, sizeof text, HUD_MEDIA_TEXT);
  close(fd);
  if (n != static_cast<ssize_t>(sizeof text)) return false;
  size_t len = strnlen(text, sizeof text);
  // Only printable ASCII: whatever wrote the block, the page shows text.
  for (size_t i = 0; i < len; i++)
    if (text[i] < 0x20 || text[i] > 0x7e) return true;
  file->assign(text, len);
  return true;
}

// Sequence numbers tell whether video went missing between the daemon and
// us: the numbers between two video datagrams belong to data messages (one
// counter serves both channels) or to lost video.
struct VideoSequence {
  bool known = false;
  uint32_t last = 0;
  uint32_t data_between = 0;
};

bool video_lost(VideoSequence* s, uint32_t seq) {
  uint32_t gap = seq - s->last - 1;
  bool lost = s->known && gap != 0 && gap < 0x80000000u && gap > s->data_between;
  s->known = true;
  s->last = seq;
  s->data_between = 0;
  return lost;
}

void run(WebLink* l) {
  int64_t last_register = -kRegisterEveryMs, last_settings = -kSettingsEveryMs;
  int64_t last_health = -kHealthEveryMs, last_tick = 0;
  int64_t last_batch = 0;
  bool was_reachable = false, full = false;
  VideoSequence sequence;
  std::vector<std::string> decoded;
  static uint8_t buf[65536];
  while (!l->stop.load()) {
    int64_t now = now_ms();
    bool want_video = l->video && web_video_wanted(l->video, now);
    if (now - last_register >= kRegisterEveryMs || want_video != full) {
      // 00 00: full viewer (video too); 00 01: data only.
      const uint8_t reg[2] = {0x00, static_cast<uint8_t>(want_video ? 0x00 : 0x01)};
      send_message(l->fd, reg, sizeof reg);
      last_register = now;
      full = want_video;
    }
    int64_t due = l->settings_due_ms.load();
    bool have_report;
    {
      std::lock_guard<std::mutex> lock(l->mu);
      have_report = !l->snap.settings.empty();
    }
    int64_t every = have_report ? kSettingsEveryMs : kRegisterEveryMs;
    if ((due && now >= due) || now - last_settings >= every) {
      l->settings_due_ms.store(0);
      static const char kAsk[] = "{\"cmd\":\"configrequest\"}";
      send_message(l->fd, reinterpret_cast<const uint8_t*>(kAsk), sizeof kAsk - 1);
      last_settings = now;
    }
    std::string health, newest_file;
    bool health_read = false, files_readable = false;
    if (now - last_health >= kHealthEveryMs) {
      health = read_health(l->health_path);
      files_readable = read_newest_file(l->hud_name, &newest_file);
      health_read = true;
      last_health = now;
    }

    // The daemon's messages come spread out (about a hundred a second with
    // the camera up); taking them in batches at most every kBatchMs saves
    // most of the wake-ups for a few milliseconds of delay.
    if (now - last_batch < kBatchMs) {
      std::this_thread::sleep_for(std::chrono::milliseconds(kBatchMs - (now - last_batch)));
      now = now_ms();
    }
    pollfd p = {l->fd, POLLIN, 0};
    int wait = static_cast<int>(kWebLinkTickMs - (now - last_tick));
    int ready = poll(&p, 1, wait < 0 ? 0 : wait);
    decoded.clear();
    size_t count = 0;
    if (ready > 0) {
      // Decode outside the lock; a burst is folded in at once.
      for (size_t video = 0; decoded.size() < kBurstMax && video < kVideoBurstMax;) {
        ssize_t n = recv(l->fd, buf, sizeof buf, MSG_DONTWAIT);
        if (n < 0) break;
        count++;
        // Little-endian, as the daemon writes it.
        uint32_t seq = n >= static_cast<ssize_t>(kHeader)
                           ? uint32_t{buf[7]} << 24 | buf[6] << 16 | buf[5] << 8 | buf[4]
                           : 0;
        if (n >= static_cast<ssize_t>(kHeader) && buf[0] == 0x42 && buf[1] == 0x01) {
          video++;
          // After the last watcher left, the daemon's video still arriving
          // (until our data-only registration lands) is just dropped.
          if (l->video && full)
            web_video_feed(l->video, buf + kHeader, static_cast<size_t>(n) - kHeader,
                           video_lost(&sequence, seq), now_ms());
          continue;
        }
        if (n >= static_cast<ssize_t>(kHeader) && buf[0] == 0x42) sequence.data_between++;
        decoded.push_back(viewer_decode_json(buf, static_cast<size_t>(n)));
      }
    }
    if (l->video) web_video_tick(l->video, now_ms());
    if (count) last_batch = now_ms();
    now = now_ms();
    bool tick = now - last_tick >= kWebLinkTickMs;
    if (tick) last_tick = now;
    bool dirty = l->dirty.exchange(false);
    if (count == 0 && !tick && !health_read && !dirty) continue;
    bool changed = false, live = false;
    {
      std::lock_guard<std::mutex> lock(l->mu);
      // Most datagrams repeat what the snapshot holds (beacons come in
      // threes, the camera reports ten times a second): the JSON is built
      // again only when something in it can differ.
      WebSnapshot before = l->snap;
      for (const std::string& d : decoded) web_snapshot_apply(&l->snap, d, now);
      if (health_read) {
        l->snap.health = health;
        l->snap.files_readable = files_readable;
        l->snap.newest_file = newest_file;
      }
      if (l->video) l->snap.video = web_video_status(l->video);
      bool reachable = web_snapshot_reachable(l->snap, now);
      if (!reachable) l->snap.exposure.clear();
      bool was_live = was_reachable && before.link_connected;
      // While the link is down the values' age counts up: once a tick the
      // JSON is built again (it changes once a second).
      if (dirty || !web_snapshot_same(&before, l->snap) || reachable != was_reachable ||
          (tick && !was_live)) {
        std::string json = web_snapshot_json(l->snap, now);
        if (json != l->json) {
          l->json = std::move(json);
          l->version++;
          changed = true;
        }
      }
      was_reachable = reachable;
      live = reachable && l->snap.link_connected;
    }
    if ((changed || tick) && l->on_change) l->on_change(l->on_change_arg, changed, live);
  }
}

}  // namespace

bool web_link_open(WebLink* l, const char* host, uint16_t port) {
  sockaddr_in to{};
  to.sin_family = AF_INET;
  to.sin_port = htons(port);
  if (inet_pton(AF_INET, host, &to.sin_addr) != 1) return false;
  int fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return false;
  // Connected: the kernel drops datagrams from anyone but the daemon.
  if (connect(fd, reinterpret_cast<sockaddr*>(&to), sizeof to) != 0) {
    close(fd);
    return false;
  }
  // Room for a burst of video datagrams (a key frame) between two batches;
  // the kernel caps it at net.core.rmem_max.
  setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &kReceiveBuffer, sizeof kReceiveBuffer);
  l->fd = fd;
  l->json = web_snapshot_json(l->snap, now_ms());
  return true;
}

void web_link_start(WebLink* l) { l->thread = std::thread(run, l); }

void web_link_stop(WebLink* l) {
  l->stop.store(true);
  if (l->thread.joinable()) l->thread.join();
}

void web_link_close(WebLink* l) {
  if (l->fd >= 0) {
    const uint8_t bye[1] = {0x01};
    send_message(l->fd, bye, sizeof bye);
    close(l->fd);
    l->fd = -1;
  }
}

bool web_link_send(WebLink* l, const std::string& command) {
  if (!send_message(l->fd, reinterpret_cast<const uint8_t*>(command.data()), command.size()))
    return false;
  cJSON* o = cJSON_Parse(command.c_str());
  const cJSON* cmd = cJSON_GetObjectItemCaseSensitive(o, "cmd");
  const cJSON* param = cJSON_GetObjectItemCaseSensitive(o, "param");
  if (cJSON_IsString(cmd) && strcmp(cmd->valuestring, "video_mode") == 0 && cJSON_IsString(param)) {
    std::lock_guard<std::mutex> lock(l->mu);
    l->snap.exposure = param->valuestring;
    l->dirty.store(true);
  }
  cJSON_Delete(o);
  return true;
}

std::string web_link_status(WebLink* l, uint64_t* version) {
  std::lock_guard<std::mutex> lock(l->mu);
  if (version) *version = l->version;
  return l->json;
}

void web_link_refresh_settings(WebLink* l, int delay_ms) {
  l->settings_due_ms.store(now_ms() + delay_ms);
}

std::string web_link_settings(WebLink* l) {
  std::lock_guard<std::mutex> lock(l->mu);
  return l->snap.settings;
}
