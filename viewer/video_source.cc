#include "viewer/video_source.h"

#include <arpa/inet.h>
#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include "core/config_record.h"
#include "core/hud_block.h"
#include "platform/clock.h"
#include "platform/ports.h"
#include "viewer/socket_buffers.h"
#include "viewer/viewer_allow.h"
#include "viewer/viewer_send.h"
#include "platform/health.h"
#include "platform/log.h"

namespace {

constexpr int kVideoBufferBytes = 6550000;
constexpr size_t kVideoStatusWidth = 19;
constexpr int kVideoBatch = 8;
// Bytes of queued datagrams taken per call at most (measured: 16 KB cost the
// large-datagram cases more calls than it saved in cache misses, 64 KB the
// reverse).
constexpr size_t kVideoBatchBytes = 32 * 1024;

struct VideoSource {
  std::atomic<int> socket{-1};
  sockaddr_in bound{};
  std::atomic<uint32_t> last_receive{0};
  std::atomic<uint8_t> connected{0};
  std::atomic<uint64_t> oversize_drops{0};
};

VideoSource g_video;

void set_connected(uint8_t state) {
  if (uint8_t* hud = hud_block()) hud_set_u8(hud, HUD_VIDEO_CONNECTED, state);
  g_video.connected.store(state);
  cfg_set(config_record()->camera_connected, state);
}

}  // namespace

void video_source_init() {
  log_info("Init video source\n");
  int fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, IPPROTO_UDP);
  if (fd >= 0) {
    int flags = fcntl(fd, F_GETFL, 0);
    if (flags >= 0) fcntl(fd, F_SETFL, flags & ~O_NONBLOCK);
    viewer_socket_buffers_report(fd, kVideoBufferBytes, "video");
    g_video.bound.sin_family = AF_INET;
    g_video.bound.sin_addr.s_addr = htonl(INADDR_ANY);
    g_video.bound.sin_port = htons(net_ports().video);
    // A failed bind is not fatal: the daemon serves data without video.
    if (bind(fd, reinterpret_cast<const sockaddr*>(&g_video.bound), sizeof g_video.bound) != 0)
      log_warning(
          "video: UDP port %d: %s; no video (another program has it: move ours with "
          "--video-port)\n",
          static_cast<int>(net_ports().video), strerror(errno));
    // The relay loop wakes at least this often, so the watchdog sees it turn
    // while no video comes.
    timeval wake{0, 500000};
    setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &wake, sizeof wake);
  }
  g_video.socket.store(fd);
  set_connected(0);
  g_video.last_receive.store(0);
}

void* video_receive_loop(void*) {
  // Datagrams that are already queued are taken several per system call
  // (MSG_WAITFORONE returns as soon as one is there, so nothing waits for a
  // batch to fill): a burst of small datagrams then costs a fraction of the
  // calls. Large datagrams are taken one or two at a time, sized from the
  // last one, because a batch that no longer fits the cache costs more in
  // the copies to every viewer than the calls it saves.
  // Each datagram lands behind room for the viewer header, so it goes out
  // to the viewers as one piece without being copied.
  static uint8_t buffers[kVideoBatch][kViewerHeaderSize + kVideoDatagramMax];
  static iovec iov[kVideoBatch];
  static mmsghdr msgs[kVideoBatch];
  static sockaddr_in from[kVideoBatch];
  size_t last_length = kVideoDatagramMax;
  for (;;) {
    health_loop_turn(HEALTH_LOOP_VIDEO_RELAY);
    size_t fit = kVideoBatchBytes / (last_length > 0 ? last_length : 1);
    unsigned batch = static_cast<unsigned>(fit < 1 ? 1 : fit > kVideoBatch ? kVideoBatch : fit);
    for (unsigned i = 0; i < batch; i++) {
      iov[i] = {buffers[i] + kViewerHeaderSize, kVideoDatagramMax};
      memset(&msgs[i], 0, sizeof msgs[i]);
      msgs[i].msg_hdr.msg_iov = &iov[i];
      msgs[i].msg_hdr.msg_iovlen = 1;
      msgs[i].msg_hdr.msg_name = &from[i];
      msgs[i].msg_hdr.msg_namelen = sizeof from[i];
    }
    int n = recvmmsg(g_video.socket.load(std::memory_order_relaxed), msgs, batch, MSG_WAITFORONE,
                     nullptr);
    if (n <= 0) {
      if (n < 0 && errno != EINTR && errno != EAGAIN) sleep_us(500000);
      continue;
    }
    for (int i = 0; i < n; i++) {
      const msghdr& h = msgs[i].msg_hdr;
      if (h.msg_namelen < sizeof from[i]) continue;
      if (video_take(buffers[i], msgs[i].msg_len, h.msg_flags, from[i]))
        last_length = msgs[i].msg_len;
    }
  }
  return nullptr;
}

// Time stamp and connected state of one received datagram.
static void video_note_received() {
  health_add(HEALTH_VIDEO_IN);
  g_video.last_receive.store(time_ms(), std::memory_order_relaxed);
  if (g_video.connected.load(std::memory_order_relaxed) == 0) {
    log_info("video connected\n");
    set_connected(1);
  }
}

bool video_take(uint8_t* frame, size_t length, int flags, const sockaddr_in& from) {
  // An empty datagram is ignored: pausing for it would let anyone on the
  // network stall the video with a trickle of empty datagrams.
  if (length == 0 || !video_source_admits(from)) return false;
  // The kernel cuts a datagram longer than the buffer and says so only in
  // this flag; the cut video would be corrupt, so it goes whole.
  if ((flags & MSG_TRUNC) || length > kVideoDatagramMax) {
    video_drop_oversize();
    return false;
  }
  video_on_frame(frame, length);
  return true;
}

bool video_source_admits(const sockaddr_in& from) {
  if (from.sin_family != AF_INET) return false;
  if ((ntohl(from.sin_addr.s_addr) >> 24) == 127) return true;
  return viewer_allow_admits(from.sin_addr, "video datagram");
}

void video_drop_oversize() {
  health_add(HEALTH_VIDEO_DROPPED);
  if (g_video.oversize_drops.fetch_add(1, std::memory_order_relaxed) == 0)
    log_warning("video: datagram over %zu bytes dropped (said once)\n", kVideoDatagramMax);
}

void video_on_datagram(const uint8_t* bytes, size_t length) {
  video_note_received();
  viewer_forward_video(bytes, length);
}

void video_on_frame(uint8_t* frame, size_t length) {
  video_note_received();
  viewer_forward_video_frame(frame, length);
}

void video_watchdog() {
  uint32_t now = time_ms();
  if (time_age(now, g_video.last_receive.load()) > kVideoTimeoutMs &&
      g_video.connected.load() == 1) {
    log_warning("video disconnected\n");
    set_connected(0);
  }
  uint8_t* hud = hud_block();
  uint8_t on = hud ? hud_get_u8(hud, HUD_VIDEO_CONNECTED) : g_video.connected.load();
  if (hud) hud_set_text(hud, HUD_VIDEO_STATUS, kVideoStatusWidth, on ? "" : "video disconnected");
  viewer_send_short8(5, 1, on ? 2 : 0, 0, 0, 0, 0);
}

uint8_t video_connected() { return g_video.connected.load(); }
uint32_t video_last_receive() { return g_video.last_receive.load(); }
int video_socket() { return g_video.socket.load(); }
uint64_t video_oversize_drops() { return g_video.oversize_drops.load(std::memory_order_relaxed); }
