#include "platform/thread.h"

#include <cstdio>
#include <cerrno>
#include <new>

namespace {

struct ThreadStart {
  char name[16];
  void* (*body)(void*);
  void* arg;
};

// The new thread names itself: naming another thread goes through
// /proc/self/task/TID/comm (open, write, close) on the starter's time, and
// the command workers start on the path of every viewer command.
void* named_body(void* p) {
  ThreadStart start = *static_cast<ThreadStart*>(p);
  delete static_cast<ThreadStart*>(p);
  // A name the kernel refuses leaves the inherited one; harmless.
  pthread_setname_np(pthread_self(), start.name);
  return start.body(start.arg);
}

}  // namespace

int thread_start(const char* name, void* (*body)(void*), void* arg, pthread_t* out) {
  ThreadStart* start = new (std::nothrow) ThreadStart;
  if (!start) return EAGAIN;
  // The kernel keeps 15 characters; a longer name is cut there.
  snprintf(start->name, sizeof start->name, "%s", name ? name : "");
  start->body = body;
  start->arg = arg;
  pthread_t thread;
  int r = pthread_create(&thread, nullptr, named_body, start);
  if (r != 0) {
    delete start;
    return r;
  }
  if (out) {
    *out = thread;
  } else {
    pthread_detach(thread);
  }
  return 0;
}
