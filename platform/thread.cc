#include "platform/thread.h"

int thread_start(const char* name, void* (*body)(void*), void* arg, pthread_t* out) {
  pthread_t thread;
  int r = pthread_create(&thread, nullptr, body, arg);
  if (r != 0) return r;
  // A name the kernel refuses (too long) leaves the inherited one; harmless.
  pthread_setname_np(thread, name);
  if (out) {
    *out = thread;
  } else {
    pthread_detach(thread);
  }
  return 0;
}
