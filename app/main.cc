// Pelquarinthos Wired: the camera, gimbal and viewer daemon of the Pi.
#include <csignal>
#include <cstdio>
#include <cstring>
#include <string>
#include <unistd.h>

#include "app/instance_lock.h"
#include "app/options.h"
#include "app/service.h"
#include "app/sim.h"
#include "app/startup.h"
#include "core/version.h"
#include "platform/app_exit.h"
#include "platform/log.h"

namespace {

char g_stop_line[64];
size_t g_stop_length = 0;

// A stop by signal (systemctl stop, Ctrl-C) says so too, then ends as the
// default action would, so the wait status stays the same.
void stop_signal(int sig) {
  ssize_t r = write(STDERR_FILENO, g_stop_line, g_stop_length);
  (void)r;
  signal(sig, SIG_DFL);
  raise(sig);
}

void stop_signals_catch() {
  g_stop_length =
      static_cast<size_t>(snprintf(g_stop_line, sizeof g_stop_line, "%sstopping on a signal\n",
                                   log_to_journal(STDERR_FILENO) ? "<6>" : ""));
  struct sigaction sa {};
  sa.sa_handler = stop_signal;
  sigemptyset(&sa.sa_mask);
  sigaction(SIGTERM, &sa, nullptr);
  sigaction(SIGINT, &sa, nullptr);
}

}  // namespace

int main(int argc, char** argv) {
  // Trace lines reach a log file or pipe as they happen, not at exit.
  setvbuf(stdout, nullptr, _IOLBF, 0);
  log_init();

  AppOptions opt;
  std::string error;
  if (!options_parse(argc, argv, &opt, &error)) {
    // The usage text is ours and spans lines: it goes out as it is.
    log_error("%s\n", error.c_str());
    fputs(options_usage(), stderr);
    app_exit(64);
    return 64;
  }
  if (opt.help) {
    fputs(options_usage(), stdout);
    app_exit(0);
    return 0;
  }
  if (opt.version) {
    printf("pelquarinthos-wired %d.%d.%d\n", kVersionMajor, kVersionMinor, kVersionPatch);
    app_exit(0);
    return 0;
  }
  if (opt.sim && !sim_prepare(&opt)) {
    app_exit(71);
    return 71;
  }
  options_apply(opt);
  // Before the shared memory, the ports or the simulator are touched: a
  // second copy leaves the running one alone.
  if (!instance_lock(&error)) {
    log_error("pelquarinthos-wired: %s\n", error.c_str());
    app_exit(75);
    return 75;
  }
  stop_signals_catch();
  if (opt.sim) sim_start(opt);

  app_startup();
  service_ready();
  beacon_loop();
}
