// The smallest relay that does the video bridge's job, for comparison:
// receive a datagram, send it to every viewer, nothing else.
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
  static uint8_t buf[65536];
  iovec iov{buf, 0};
  for (int i = 0; i < k; i++) {
    to[i] = net_loopback(static_cast<uint16_t>(atoi(argv[3 + i])));
    msgs[i].msg_hdr.msg_name = &to[i];
    msgs[i].msg_hdr.msg_namelen = sizeof to[i];
    msgs[i].msg_hdr.msg_iov = &iov;
    msgs[i].msg_hdr.msg_iovlen = 1;
  }
  for (;;) {
    ssize_t n = recv(in, buf, sizeof buf, 0);
    if (n <= 0) continue;
    iov.iov_len = static_cast<size_t>(n);
    if (use_mmsg) {
      for (int i = 0; i < k;) {
        int sent = sendmmsg(out, msgs + i, static_cast<unsigned>(k - i), 0);
        i += sent > 0 ? sent : 1;
      }
    } else {
      for (int i = 0; i < k; i++)
        sendto(out, buf, static_cast<size_t>(n), 0, reinterpret_cast<sockaddr*>(&to[i]),
               sizeof to[i]);
    }
  }
}
