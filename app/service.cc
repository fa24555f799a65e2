#include "app/service.h"

#include <cstdio>
#include <mutex>
#include <systemd/sd-daemon.h>

#include "core/hud_block.h"
#include "link/link_state.h"
#include "platform/log.h"
#include "viewer/video_source.h"

namespace {

struct ServiceState {
  std::mutex mutex;
  ServiceWatch watch;
  std::string status;
  bool stalled_said = false;
};

ServiceState& service_state() {
  // Never destroyed: threads may still log while exit() runs destructors.
  static ServiceState* s = new ServiceState;
  return *s;
}

std::string current_status() {
  uint8_t* hud = hud_block();
  int viewers = hud ? hud_get_u8(hud, HUD_CLIENT_COUNT) : 0;
  return service_status_text(link_state().link_up.load() != 0, viewers, video_connected() != 0);
}

void send_status(ServiceState& s) {
  std::string status = current_status();
  if (status == s.status) return;
  s.status = status;
  sd_notifyf(0, "STATUS=%s", status.c_str());
}

}  // namespace

int service_watch_check(ServiceWatch* w, const uint64_t turns[HEALTH_LOOPS]) {
  int stalled = -1;
  for (int i = 0; i < HEALTH_LOOPS; i++) {
    if (turns[i] == 0) continue;
    w->still[i] = turns[i] == w->last[i] ? w->still[i] + 1 : 0;
    w->last[i] = turns[i];
    if (stalled < 0 && w->still[i] >= kServiceStallPasses) stalled = i;
  }
  return stalled;
}

std::string service_status_text(bool link_up, int viewers, bool video) {
  char text[96];
  snprintf(text, sizeof text, "camera link %s, %d viewer%s, video %s",
           link_up ? "connected" : "disconnected", viewers, viewers == 1 ? "" : "s",
           video ? "connected" : "disconnected");
  return text;
}

void service_ready() {
  ServiceState& s = service_state();
  std::lock_guard<std::mutex> lock(s.mutex);
  s.status = current_status();
  sd_notifyf(0, "READY=1\nSTATUS=%s", s.status.c_str());
}

void service_pass() {
  ServiceState& s = service_state();
  std::lock_guard<std::mutex> lock(s.mutex);
  send_status(s);
  uint64_t turns[HEALTH_LOOPS];
  for (int i = 0; i < HEALTH_LOOPS; i++) turns[i] = health_loop_turns(static_cast<HealthLoop>(i));
  int stalled = service_watch_check(&s.watch, turns);
  if (stalled >= 0) {
    // No ping: systemd ends the process when WatchdogSec= runs out.
    if (!s.stalled_said)
      log_error("watchdog: the %s loop has not turned for %d s\n",
                health_loop_name(static_cast<HealthLoop>(stalled)), kServiceStallPasses);
    s.stalled_said = true;
    return;
  }
  s.stalled_said = false;
  sd_notify(0, "WATCHDOG=1");
}
