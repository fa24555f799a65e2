#include "app/startup.h"

#include <cstdio>
#include <pthread.h>
#include <string>

#include "core/health_file.h"
#include "app/service.h"
#include "core/config_record.h"
#include "core/hud_block.h"
#include "app/hooks.h"
#include "config/config_file.h"
#include "control/rc_controller.h"
#include "core/version.h"
#include "control/i2c_input.h"
#include "link/can_capture.h"
#include "link/can_transport.h"
#include "link/data_source.h"
#include "link/djigo_bridge.h"
#include "periph/media_listing.h"
#include "periph/shield.h"
#include "platform/app_exit.h"
#include "platform/clock.h"
#include "platform/paths.h"
#include "platform/shell.h"
#include "platform/thread.h"
#include "platform/wiringpi.h"
#include "viewer/command_worker.h"
#include "viewer/discovery.h"
#include "viewer/video_source.h"
#include "viewer/viewer_send.h"
#include "platform/log.h"

namespace {

void hud_write_identity(uint8_t* hud) {
  hud_write(hud, HUD_PRODUCT, kProductName, sizeof kProductName);
  char version[20];
  snprintf(version, sizeof version, "v.%d.%d.%d", kVersionMajor, kVersionMinor, kVersionPatch);
  hud_set_text(hud, HUD_VERSION, 20, version);
}

void hud_copy_display_settings(uint8_t* hud, const ConfigRecord* rec) {
  hud_set_u8(hud, HUD_OSD_ENABLED, cfg_get(rec->osd_enabled));
  hud_set_u8(hud, HUD_HUD_ENABLED, cfg_get(rec->hud_enabled));
  hud_set_u8(hud, HUD_INTCAM_ENABLED, cfg_get(rec->internal_camera_enabled));
  hud_set_u8(hud, HUD_INTCAM_FULLSCREEN, cfg_get(rec->internal_camera_fullscreen));
  hud_set_u8(hud, HUD_FOCUS_ASSISTANT, cfg_get(rec->focus_assistant_enabled));
}

void hostapd_check(ConfigRecord* rec) {
  if (cfg_get(rec->ap_iface[0]) == 0) {
    cfg_set(rec->apstate, 0);
    return;
  }
  int status = shell_run("pidof hostapd > /dev/null");
  cfg_set(rec->apstate, shell_exit_code(status) == 0 ? 1 : 0);
}

}  // namespace

void app_startup() {
  app_install_hooks();
  hud_init();
  uint8_t* hud = hud_block();
  hud_fill(hud, 0, 0, kHudSize);
  hud_set_u8(hud, HUD_STARTED, 2);

  config_load();  // start-up goes on without a file, on the defaults
  ConfigRecord* rec = config_record();

  hud_write_identity(hud);
  log_out(LogLevel::kInfo, "\033[1;37mPelquarinthos wired v.%d.%d.%d\033[0m\n", kVersionMajor,
          kVersionMinor, kVersionPatch);
  fflush(stdout);
  char version[20];
  snprintf(version, sizeof version, "%d.%d.%d", kVersionMajor, kVersionMinor, kVersionPatch);
  CFG_TEXT_SET(rec->version, version);
  config_publish();
  hud_copy_display_settings(hud, rec);

  log_info("GPIO init\n");
  wiringPiSetup();

  // Each loop starts right after its subsystem opened what the loop reads;
  // the CAN reader and the DJI Go bridge open theirs on their own threads,
  // where a missing bus or a taken port ends the daemon.
  if (cfg_get(rec->shield_enabled)) shield_init();
  data_source_init();
  // Before the bus opens, so the capture holds the first frame too.
  if (can_capture_configured()) {
    if (!can_capture_open()) {
      app_exit(2);
      return;
    }
    thread_start("pqw-capture", can_capture_loop);
  }
  if (cfg_get(rec->control_enabled)) {
    can_init();
    thread_start("pqw-can-rx", can_reader);
    thread_start("pqw-djigo", djigo_listener);  // ends only when accepting fails
  }
  thread_start("pqw-mailbox", hud_command_poller);
  thread_start("pqw-rc", rc_controller);
  if (cfg_get(rec->control_enabled) == 0) {
    // The display shows neither name nor version while control is off.
    hud_set_u8(hud, HUD_PRODUCT, 0);
    hud_set_u8(hud, HUD_VERSION, 0);
  }
  if (cfg_get(rec->i2c_input_enabled)) {
    i2c_input_init();
    thread_start("pqw-i2c", i2c_poll_loop);
  }

  video_source_init();
  thread_start("pqw-video", video_receive_loop);
  video_bridge_init();
  if (discovery_init()) thread_start("pqw-viewer-rx", discovery_receive_loop);
  media_listing_init();
  thread_start("pqw-ftp", media_listing_loop);

  std::string governor = "sudo echo performance > " +
                         root_path("/sys/devices/system/cpu/cpu0/cpufreq/scaling_governor");
  shell_run(governor.c_str());

  thread_start("pqw-supervisor", supervisor_loop);
}

void supervisor_pass() {
  ConfigRecord* rec = config_record();
  if (cfg_get(rec->control_enabled)) link_watchdog();
  if (cfg_get(rec->shield_enabled)) shield_auto_close();
  video_watchdog();
  client_expire();
  hostapd_check(rec);
  // apstate and camera_connected change without a save; keep /config_mem current.
  config_publish();
  health_file_publish();
  service_pass();
}

void* supervisor_loop(void*) {
  for (;;) {
    supervisor_pass();
    sleep_us(1000000);
  }
  return nullptr;
}

uint8_t beacon_flags(const ConfigRecord* rec, const uint8_t* hud) {
  uint8_t flags = 1;
  if (cfg_get(rec->apstate)) flags |= 1 << 1;
  if (cfg_get(rec->hdmi_enabled)) flags |= 1 << 2;
  if (cfg_get(rec->camera_connected)) flags |= 1 << 4;
  if (hud_get_u8(hud, HUD_BEACON_BIT6) & 1) flags |= 1 << 6;
  if (hud_get_u8(hud, HUD_BEACON_BIT7) & 1) flags |= 1 << 7;
  return flags;
}

void beacon_build(const ConfigRecord* rec, const uint8_t* hud, uint8_t out[kBeaconSize]) {
  out[0] = kBeaconCode;
  out[1] = beacon_flags(rec, hud);
  out[2] = hud_get_u8(hud, HUD_CLIENT_COUNT);
  out[3] = 0;
  out[4] = cfg_get(rec->focus_assistant_enabled);
  out[5] = hud_get_u8(hud, HUD_RC_STATE);
  out[6] = 0;
}

void beacon_cycle() {
  uint8_t b[kBeaconSize];
  beacon_build(config_record(), hud_block(), b);
  for (int i = 0; i < 3; i++) {
    viewer_send_short8(b[0], b[1], b[2], b[3], b[4], b[5], b[6]);
    sleep_us(100000);
  }
  sleep_us(500000);
}

void beacon_loop() {
  for (;;) beacon_cycle();
}
