// The smallest relay that does the video bridge's job, for comparison:
// receive a datagram, send it to every viewer behind the 12-byte viewer
// header the daemon puts in front ('B', channel 1, two zero bytes, the
// sequence number little-endian, four zero bytes), nothing else. So both
// sides send the same bytes: a baseline sending the bare datagram would
// copy 12 bytes less and stay under the kernel's linear-buffer size where
// the daemon crosses it.
//
//   pqw-bench-relay-baseline sendto|sendmmsg IN_PORT VIEWER_PORT...
//
// Same socket sizes and send time-out as the daemon; viewers on 127.0.0.1.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/time.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "platform/ports.h"

int main(int argc, char** argv) {
  if (argc < 4 || argc - 3 > 64) {
    fputs("usage: pqw-bench-relay-baseline sendto|sendmmsg IN_PORT VIEWER_PORT...\n", stderr);
    return 2;
  }
  bool use_mmsg = strcmp(argv[1], "sendmmsg") == 0;
  // As the daemon's video socket: every address, a big receive buffer.
  UdpOptions video;
  video.any_address = true;
  video.receive_buffer = 6550000;
  int in = net_udp_open(static_cast<uint16_t>(atoi(argv[2])), video);
  if (in < 0) return 1;
  int out = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  int snd = 2000000;
  if (setsockopt(out, SOL_SOCKET, SO_SNDBUFFORCE, &snd, sizeof snd) != 0)
    setsockopt(out, SOL_SOCKET, SO_SNDBUF, &snd, sizeof snd);
  timeval timeout{0, 50000};
  setsockopt(out, SOL_SOCKET, SO_SNDTIMEO, &timeout, sizeof timeout);

  int k = argc - 3;
  static sockaddr_in to[64];
  static mmsghdr msgs[64];
  // Received behind the room for the header, sent as one piece, as the
  // daemon does.
  constexpr size_t kHeader = 12;
  static uint8_t buf[kHeader + 65536] = {'B', 1};
  uint32_t seq = 0;
  iovec iov{buf, 0};
  for (int i = 0; i < k; i++) {
    to[i] = net_loopback(static_cast<uint16_t>(atoi(argv[3 + i])));
    msgs[i].msg_hdr.msg_name = &to[i];
    msgs[i].msg_hdr.msg_namelen = sizeof to[i];
    msgs[i].msg_hdr.msg_iov = &iov;
    msgs[i].msg_hdr.msg_iovlen = 1;
  }
  for (;;) {
    ssize_t got = recv(in, buf + kHeader, sizeof buf - kHeader, 0);
    if (got <= 0) continue;
    for (int b = 0; b < 4; b++) buf[4 + b] = static_cast<uint8_t>(seq >> (8 * b));
    seq++;
    size_t n = kHeader + static_cast<size_t>(got);
    iov.iov_len = n;
    if (use_mmsg) {
      for (int i = 0; i < k;) {
        int sent = sendmmsg(out, msgs + i, static_cast<unsigned>(k - i), 0);
        i += sent > 0 ? sent : 1;
      }
    } else {
      for (int i = 0; i < k; i++)
        sendto(out, buf, n, 0, reinterpret_cast<sockaddr*>(&to[i]), sizeof to[i]);
    }
  }
}
