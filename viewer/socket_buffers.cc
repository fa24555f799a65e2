#include "viewer/socket_buffers.h"
#include "platform/log.h"

#include <cstdio>
#include <sys/socket.h>

namespace {

void set_one(int fd, int forced, int plain, int bytes) {
  if (setsockopt(fd, SOL_SOCKET, forced, &bytes, sizeof bytes) == 0) return;
  setsockopt(fd, SOL_SOCKET, plain, &bytes, sizeof bytes);
}

int get_one(int fd, int option) {
  int v = 0;
  socklen_t len = sizeof v;
  if (getsockopt(fd, SOL_SOCKET, option, &v, &len) != 0) return -1;
  return v;
}

}  // namespace

SocketBufferSizes viewer_socket_buffers(int fd, int bytes) {
  set_one(fd, SO_RCVBUFFORCE, SO_RCVBUF, bytes);
  set_one(fd, SO_SNDBUFFORCE, SO_SNDBUF, bytes);
  return {get_one(fd, SO_RCVBUF), get_one(fd, SO_SNDBUF)};
}

void viewer_socket_buffers_report(int fd, int bytes, const char* name) {
  SocketBufferSizes got = viewer_socket_buffers(fd, bytes);
  log_info("%s socket buffers: asked %d, granted receive %d send %d\n", name, bytes, got.receive,
           got.send);
}
