// Socket buffer sizing for the viewer and video sockets.
//
// The plain SO_RCVBUF/SO_SNDBUF requests are silently capped by the kernel at
// net.core.rmem_max/wmem_max, about 200 KB on a stock Raspberry Pi OS, so a
// 6.5 MB video buffer would quietly become one thirty times smaller and a
// burst of large video datagrams would overflow it. A process with
// CAP_NET_ADMIN (the daemon runs as root on the Pi) may pass the cap with the
// FORCE variants; anyone else falls back to the plain options.
#pragma once

struct SocketBufferSizes {
  int receive;  // as getsockopt reports them: Linux doubles the request
  int send;     // for its own bookkeeping
};

// Asks for `bytes` in both directions (FORCE first, then the plain option)
// and returns what the kernel granted.
SocketBufferSizes viewer_socket_buffers(int fd, int bytes);

// The same, then one line on standard error:
// "<name> socket buffers: asked 6550000, granted receive N send N\n".
void viewer_socket_buffers_report(int fd, int bytes, const char* name);
