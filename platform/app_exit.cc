#include "platform/app_exit.h"

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <unistd.h>

#if defined(__SANITIZE_ADDRESS__)
#define PQW_LEAK_CHECK 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define PQW_LEAK_CHECK 1
#endif
#endif
#ifdef PQW_LEAK_CHECK
#include <sanitizer/lsan_interface.h>
#endif

namespace {
std::atomic<AppExitHook> g_hook{nullptr};
}

void app_exit(int status) {
  AppExitHook hook = g_hook.load();
  if (hook) {
    hook(status);
    return;
  }
  // exit() would run the static destructors while the other threads still
  // use what they destroy; the daemon keeps nothing that needs them, so the
  // output is flushed and the process ends at once.
  fflush(nullptr);
#ifdef PQW_LEAK_CHECK
  // _exit skips the exit-time leak check; it runs here instead.
  __lsan_do_leak_check();
#endif
  _exit(status);
}

void app_exit_set_hook(AppExitHook hook) { g_hook.store(hook); }
