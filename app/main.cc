// Pelquarinthos Wired: the camera, gimbal and viewer daemon of the Pi.
#include <cstdio>
#include <string>

#include "app/options.h"
#include "app/sim.h"
#include "app/startup.h"
#include "core/version.h"
#include "platform/app_exit.h"

int main(int argc, char** argv) {
  // Trace lines reach a log file or pipe as they happen, not at exit.
  setvbuf(stdout, nullptr, _IOLBF, 0);

  AppOptions opt;
  std::string error;
  if (!options_parse(argc, argv, &opt, &error)) {
    fprintf(stderr, "%s\n%s", error.c_str(), options_usage());
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
  if (opt.sim) sim_start(opt);

  app_startup();
  beacon_loop();
}
