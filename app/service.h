// The daemon under systemd: readiness, the watchdog and the status line,
// through sd_notify. Without NOTIFY_SOCKET every call does nothing.
#pragma once

#include <cstdint>
#include <string>

#include "platform/health.h"

// Loops that have not turned for this many supervisor passes (seconds) stop
// the watchdog pings; they wake at least twice a second when idle.
inline constexpr int kServiceStallPasses = 3;

struct ServiceWatch {
  uint64_t last[HEALTH_LOOPS] = {};
  int still[HEALTH_LOOPS] = {};
};

// One supervisor pass over the loops' turn counts: the first loop that has
// been still for kServiceStallPasses passes, or -1 when all that run turn.
// A loop that never turned is not running and is not watched.
int service_watch_check(ServiceWatch* w, const uint64_t turns[HEALTH_LOOPS]);

// "camera link connected, 2 viewers, video connected"
std::string service_status_text(bool link_up, int viewers, bool video);

void service_ready();  // READY=1 and the first status
// The supervisor's part: status when it changed, WATCHDOG=1 while every
// watched loop turns.
void service_pass();
