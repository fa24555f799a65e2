#include "viewer/viewer_send.h"

#include <arpa/inet.h>
#include <atomic>
#include <cerrno>
#include <cstring>
#include <sys/socket.h>

#include "core/config_record.h"
#include "viewer/client_table.h"

namespace {

std::atomic<uint32_t> g_sequence{0};
std::atomic<uint8_t> g_video_in_flight{0};
std::atomic<ViewerTap> g_tap{nullptr};
std::atomic<uint64_t> g_refused{0};
std::atomic<uint64_t> g_dropped{0};

// Sends the prepared messages in order. sendmmsg stops at the first failure
// and reports how many went out before it; the failed viewer is skipped so
// that one gone or slow viewer (each attempt bounded by the socket's 50 ms
// send time-out) never costs the viewers behind it their copy.
void send_all(int fd, mmsghdr* msgs, int count) {
  // One viewer (the common case): the plain call is a little cheaper.
  if (count == 1) {
    sendmsg(fd, &msgs[0].msg_hdr, 0);
    return;
  }
  int i = 0;
  while (i < count) {
    int sent = sendmmsg(fd, msgs + i, static_cast<unsigned>(count - i), 0);
    i += sent > 0 ? sent : 1;
  }
}

// Refuses a payload over its frame's limit (whole, and counted); otherwise
// takes the next sequence number, writes the header and shows the message to
// the test tap. Both framers of the protocol (the 4000-byte data frame and
// the 65500-byte video frame) differ only in their limit.
bool frame_begin(const uint8_t* payload, size_t length, int channel, size_t limit,
                 uint8_t* header) {
  if (length > limit || (!payload && length > 0)) {
    g_refused.fetch_add(1, std::memory_order_relaxed);
    return false;
  }
  uint32_t seq = g_sequence.fetch_add(1, std::memory_order_relaxed);
  const uint8_t h[kViewerHeaderSize] = {'B',
                                        static_cast<uint8_t>(channel),
                                        0,
                                        0,
                                        static_cast<uint8_t>(seq),
                                        static_cast<uint8_t>(seq >> 8),
                                        static_cast<uint8_t>(seq >> 16),
                                        static_cast<uint8_t>(seq >> 24),
                                        0,
                                        0,
                                        0,
                                        0};
  memcpy(header, h, sizeof h);
  if (ViewerTap tap = g_tap.load(std::memory_order_relaxed)) tap(channel, payload, length);
  return true;
}

// One copy of the frame (iov) to each registered viewer in slot order, video
// only to full viewers. The destinations are copies taken under the table's
// lock; the sends happen outside it.
void fan_out(iovec* iov, size_t iov_count, int channel) {
  int fd = discovery_socket();
  if (fd < 0) return;
  ClientDest dests[kClientSlots];
  int n = client_destinations(dests);
  if (n == 0) return;
  mmsghdr msgs[kClientSlots];
  int m = 0;
  for (int i = 0; i < n; i++) {
    if (channel != 0 && (dests[i].data_only & 1)) continue;
    msghdr& h = msgs[m].msg_hdr;
    memset(&h, 0, sizeof h);
    h.msg_name = &dests[i].addr;
    h.msg_namelen = sizeof dests[i].addr;
    h.msg_iov = iov;
    h.msg_iovlen = iov_count;
    msgs[m].msg_len = 0;
    m++;
  }
  send_all(fd, msgs, m);
}

// The header and the payload go out as a two-part scatter list, so the
// payload is never copied in user space.
void frame_broadcast(const uint8_t* payload, size_t length, int channel, size_t limit) {
  uint8_t header[kViewerHeaderSize];
  if (!frame_begin(payload, length, channel, limit, header)) return;
  iovec iov[2] = {{header, sizeof header}, {const_cast<uint8_t*>(payload), length}};
  fan_out(iov, length > 0 ? 2 : 1, channel);
}

void send_data(const uint8_t* payload, size_t length) {
  if (g_video_in_flight.load(std::memory_order_acquire)) {
    g_dropped.fetch_add(1, std::memory_order_relaxed);
    return;
  }
  frame_broadcast(payload, length, 0, kViewerDataMax);
}

}  // namespace

int viewer_send_one(const uint8_t* bytes, size_t length, const char* address, uint16_t port) {
  int fd = discovery_socket();
  if (fd < 0 || !address) return -1;
  sockaddr_in to{};
  to.sin_family = AF_INET;
  to.sin_port = htons(port);
  if (inet_pton(AF_INET, address, &to.sin_addr) != 1) return -1;
  return static_cast<int>(
      sendto(fd, bytes, length, 0, reinterpret_cast<const sockaddr*>(&to), sizeof to));
}

void viewer_send(const uint8_t* payload, size_t length, int channel) {
  if (channel == 0) {
    send_data(payload, length);
  } else if (channel == 1) {
    g_video_in_flight.store(1, std::memory_order_release);
    frame_broadcast(payload, length, 1, kViewerVideoMax);
    g_video_in_flight.store(0, std::memory_order_release);
  }
}

void viewer_forward_video(const uint8_t* bytes, size_t length) {
  if (cfg_get(config_record()->disable_video_stream) != 0) return;
  viewer_send(bytes, length, 1);
}

void viewer_forward_video_frame(uint8_t* frame, size_t length) {
  if (!frame || cfg_get(config_record()->disable_video_stream) != 0) return;
  g_video_in_flight.store(1, std::memory_order_release);
  if (frame_begin(frame + kViewerHeaderSize, length, 1, kViewerVideoMax, frame)) {
    // One contiguous piece: the kernel copies a single segment per viewer.
    iovec iov = {frame, kViewerHeaderSize + length};
    fan_out(&iov, 1, 1);
  }
  g_video_in_flight.store(0, std::memory_order_release);
}

void viewer_send_short16(uint8_t code, int a, int b, int c) {
  const uint8_t m[7] = {code,
                        static_cast<uint8_t>(a),
                        static_cast<uint8_t>(a >> 8),
                        static_cast<uint8_t>(b),
                        static_cast<uint8_t>(b >> 8),
                        static_cast<uint8_t>(c),
                        static_cast<uint8_t>(c >> 8)};
  send_data(m, sizeof m);
}

void viewer_send_short8(uint8_t code, uint8_t b1, uint8_t b2, uint8_t b3, uint8_t b4, uint8_t b5,
                        uint8_t b6) {
  const uint8_t m[7] = {code, b1, b2, b3, b4, b5, b6};
  send_data(m, sizeof m);
}

void viewer_set_tap(ViewerTap tap) { g_tap.store(tap); }

uint32_t viewer_next_sequence() { return g_sequence.load(std::memory_order_relaxed); }
uint64_t viewer_refused_count() { return g_refused.load(std::memory_order_relaxed); }
uint64_t viewer_dropped_count() { return g_dropped.load(std::memory_order_relaxed); }
