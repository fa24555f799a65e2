#include "platform/app_exit.h"

#include <atomic>
#include <cstdio>
#include <cstdlib>

namespace {
std::atomic<AppExitHook> g_hook{nullptr};
}

void app_exit(int status) {
  AppExitHook hook = g_hook.load();
  if (hook) {
    hook(status);
    return;
  }
  fflush(stdout);
  fflush(stderr);
  exit(status);
}

void app_exit_set_hook(AppExitHook hook) { g_hook.store(hook); }
