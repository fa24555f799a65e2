// Camera and gimbal operations: gimbal speed, angles, attitude, presets, zoom,
// capture mode, shooting, recording, shot format and video resolution.
//
// Many camera functions have no command of their own; the camera only reacts
// to the remote controller's button state, so those operations send a
// pressed state followed by the released one, to the gimbal (0x04) and the
// camera (0x01), several times, because the receivers only act on a state
// they have seen more than once.
#include "control/camera_ops.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>

#include "core/config_record.h"
#include "core/hud_block.h"
#include "control/camera_hud.h"
#include "control/camera_packet.h"
#include "control/rc_controller.h"
#include "periph/media_listing.h"
#include "periph/shield.h"
#include "platform/clock.h"
#include "platform/shell.h"
#include "platform/log.h"

std::atomic<int32_t> camera_last_digital_zoom{-1};
std::atomic<uint8_t> attitude_from_rc{1};

namespace {

constexpr uint8_t kGimbal = 0x04;
constexpr uint8_t kCamera = 0x01;

// Gimbal speed: pan i16 at 11, dutch at 13, tilt at 15; byte 17 0x90.
constexpr auto kGimbalSpeed =
    camera_packet<20>(0x02, kGimbal, 0x40, 0x04, 0x0C, {0, 0, 0, 0, 0, 0, 0x90});
// Gimbal angles: pan at 11, dutch at 13, tilt at 15, then 64 00 E0 04.
constexpr auto kGimbalAngles =
    camera_packet<23>(0x02, kGimbal, 0x40, 0x04, 0x0A, {0, 0, 0, 0, 0, 0, 0x64, 0x00, 0xE0, 0x04});
// Attitude quaternion, four floats at 11; the viewer's variant carries a
// flag at 29 that the RC variant leaves clear.
constexpr auto kAttitudeRc = camera_packet<51>(0x03, kGimbal, 0x00, 0x03, 0x42);
constexpr CameraPacket<51> attitude_viewer_template() {
  CameraPacket<51> p = camera_packet<51>(0x03, kGimbal, 0x00, 0x03, 0x42);
  p[29] = 0x80;
  return p;
}
constexpr auto kAttitudeViewer = attitude_viewer_template();
constexpr auto kDigitalZoom =
    camera_packet<18>(0x02, kCamera, 0x40, 0x02, 0x34, {0x09, 0, 0, 0, 0});
constexpr auto kZoomMove = camera_packet<17>(0x02, kCamera, 0x40, 0x02, 0xB8, {0x01, 0x48, 0, 0});
constexpr auto kCaptureMode = camera_packet<14>(0x09, kCamera, 0x40, 0x02, 0x10, {0});
constexpr auto kVideoFormat = camera_packet<18>(0x02, kCamera, 0x40, 0x02, 0x18);
constexpr auto kVideoFormatShort = camera_packet<15>(0x02, kCamera, 0x40, 0x02, 0xAF);
constexpr auto kShotFormat = camera_packet<14>(0x02, kCamera, 0x40, 0x02, 0x16, {0});

// Gimbal buttons: byte 15 is the button code.
constexpr CameraPacket<23> gimbal_button(uint8_t receiver, uint8_t code) {
  return camera_button_packet(0x40, receiver, {0, 0, 0, 0, code, 0x91, 0, 0, 0});
}
constexpr auto kReleaseGimbal = gimbal_button(kGimbal, 0);
constexpr auto kReleaseCamera = gimbal_button(kCamera, 0);
static_assert(kReleaseGimbal[20] == 0x91);

// Record buttons: command type 0x00 and 0x0D at 17.
constexpr CameraPacket<23> record_button(uint8_t receiver, uint8_t selector) {
  return camera_button_packet(0x00, receiver, {selector, 0, 0, 0, 0, 0x91, 0x0D, 0, 0});
}
static_assert(record_button(kCamera, 0)[20] == 0x9C);

// Shutter buttons: the capture selector at 11 and two parameters at 18, 19.
struct ShootPress {
  uint8_t mode;
  uint8_t submode;
  uint8_t selector;
  uint8_t p18;
  uint8_t p19;
};
constexpr ShootPress kShootTable[] = {
    {0, 0, 0x30, 0x01, 0x00}, {0, 1, 0xD0, 0x0A, 0x01}, {0, 2, 0x50, 0x01, 0x00},
    {1, 0, 0x90, 0x03, 0x00}, {1, 1, 0x90, 0x05, 0x00}, {1, 2, 0x90, 0x07, 0x00},
    {1, 3, 0xB0, 0x03, 0x00}, {1, 4, 0xB0, 0x05, 0x00}, {2, 0, 0xD0, 0x0A, 0xFF},
    {2, 1, 0xD0, 0x1E, 0xFF}, {3, 0, 0xF0, 0xFF, 0x00}, {3, 1, 0xF0, 0xFF, 0x00},
    {3, 2, 0xF0, 0xFF, 0x00}, {3, 3, 0xF0, 0xFF, 0x00}, {3, 4, 0xF0, 0x03, 0x00},
};
constexpr ShootPress kTimelapse = {4, 0, 0xD0, 0x32, 0xFF};  // any sub-mode

void put_i16(uint8_t* p, size_t off, int v) { camera_put_u16(p, off, static_cast<uint32_t>(v)); }

void put_f32(uint8_t* p, size_t off, float v) { std::memcpy(p + off, &v, sizeof v); }

void pause_ms(uint32_t ms) { sleep_us(ms * 1000); }

// Stops the gimbal once before a position command; the gimbal would
// otherwise keep turning at the last speed on top of the new position.
void stop_gimbal_first() {
  LinkState& ls = link_state();
  if (!ls.gimbal_stopped.load()) gimbal_speed(0, 0, 0);
}

int clamp_inspire(int v) { return std::clamp(v, -1700, 1700); }

}  // namespace

void gimbal_speed(int pan, int tilt, int dutch) {
  const ConfigRecord* cfg = config_record();
  if (cfg_get(cfg->rc_input_inverse_pan)) pan = camera_wrap_neg(pan);
  if (cfg_get(cfg->rc_input_inverse_tilt)) tilt = camera_wrap_neg(tilt);
  if (cfg_get(cfg->rc_input_inverse_dutch)) dutch = camera_wrap_neg(dutch);
  LinkState& ls = link_state();
  // The Inspire gimbal rejects speeds beyond its range; the Osmo takes the
  // low 16 bits as they come.
  if (ls.mode.load() == 1) {
    pan = clamp_inspire(pan);
    tilt = clamp_inspire(tilt);
    dutch = clamp_inspire(dutch);
  }
  CameraPacket<20> p = kGimbalSpeed;
  put_i16(p.data(), 11, pan);
  put_i16(p.data(), 13, dutch);
  put_i16(p.data(), 15, tilt);
  camera_send(p.data(), p.size());
  ls.last_gimbal_command_time.store(time_ms());
  rc_controller_wake();  // the focus assistant follows 200 ms after
}

void gimbal_wanted_lock_set(uint8_t v) { link_state().wanted_orientation_lock.store(v); }

void gimbal_button_press(int lock) {
  LinkState& ls = link_state();
  // The callers repeat this on every loop pass while a switch is held; only
  // every tenth call may reach the gimbal.
  if (ls.button_divider.fetch_add(1) % 10 != 0) return;
  stop_gimbal_first();
  CameraPacket<23> press = gimbal_button(kGimbal, lock ? 0x02 : 0x0A);
  CameraPacket<23> release = lock ? kReleaseCamera : kReleaseGimbal;
  CameraSendChain chain;
  chain.send_times(press, 3);
  pause_ms(10);
  chain.send_times(release, 3);
}

void gimbal_set_angles(int pan, int tilt, int dutch) {
  LinkState& ls = link_state();
  stop_gimbal_first();
  ls.gimbal_stopped.store(1);
  CameraPacket<23> p = kGimbalAngles;
  put_i16(p.data(), 11, pan);
  put_i16(p.data(), 13, dutch);
  put_i16(p.data(), 15, tilt);
  camera_send(p.data(), p.size());
  ls.last_gimbal_command_time.store(time_ms());
  rc_controller_wake();  // the focus assistant follows 200 ms after
}

void gimbal_pan_tilt_speed(int pan, int tilt) {
  LinkState& ls = link_state();
  if (pan == ls.pan_target.load() && tilt == ls.tilt_target.load()) return;
  ls.pan_target.store(pan);
  ls.tilt_target.store(tilt);
  if (pan != 0 || tilt != 0) {
    ls.gimbal_stopped.store(0);
    rc_controller_wake();  // its loop repeats the speed
    return;
  }
  if (!ls.gimbal_stopped.load()) {
    gimbal_speed(0, 0, ls.dutch_target.load());
    ls.gimbal_stopped.store(1);
  }
}

void gimbal_dutch_speed(int dutch) {
  LinkState& ls = link_state();
  if (dutch == ls.dutch_target.load()) return;
  ls.dutch_target.store(dutch);
  if (ls.pan_target.load() != 0 || dutch != 0 || ls.tilt_target.load() != 0) {
    ls.gimbal_stopped.store(0);
    rc_controller_wake();
    return;
  }
  if (!ls.gimbal_stopped.load()) {
    gimbal_speed(0, 0, 0);
    ls.gimbal_stopped.store(1);
  }
}

void gimbal_attitude_rc(int a, int b) {
  // Half angles of a quaternion; the RC values span +-2000 for +-1 rad.
  float ha = (static_cast<float>(a) / 2000.0f) * 0.5f;
  float hb = (static_cast<float>(b) / 2000.0f) * 0.5f;
  CameraPacket<51> p = kAttitudeRc;
  put_f32(p.data(), 11, std::cos(hb) * std::cos(ha));
  put_f32(p.data(), 15, std::sin(hb) * std::cos(ha));
  put_f32(p.data(), 19, std::cos(hb) * std::sin(ha));
  put_f32(p.data(), 23, -(std::sin(hb) * std::sin(ha)));
  camera_send(p.data(), p.size());
}

void gimbal_attitude_set(float q0, float q1, float q2, float q3) {
  attitude_from_rc.store(0);
  CameraPacket<51> p = kAttitudeViewer;
  put_f32(p.data(), 11, q3);
  put_f32(p.data(), 15, q0);
  put_f32(p.data(), 19, q1);
  put_f32(p.data(), 23, q2);
  camera_send(p.data(), p.size());
}

void camera_digital_zoom(int percent) {
  percent = std::clamp(percent, 0, 100);
  if (camera_last_digital_zoom.exchange(percent) == percent) return;
  link_state().digital_zoom_percent.store(percent);
  log_info("Digital zoom %d%%\n", percent);
  CameraPacket<18> p = kDigitalZoom;
  p[14] = static_cast<uint8_t>(percent + 100);
  camera_send(p.data(), p.size());
}

void camera_zoom_move(int speed) {
  link_state().zoom_speed.store(speed);
  if (speed != 0) rc_controller_wake();
  CameraPacket<17> p = kZoomMove;
  if (speed > 0) {
    p[13] = 0x01;
    camera_send(p.data(), p.size());
  } else if (speed < 0) {
    camera_send(p.data(), p.size());
  } else {
    // Stopping takes two packets: zoom off, then the stop marker.
    CameraSendChain chain;
    p[11] = 0x00;
    chain.send(p);
    p[11] = 0xFF;
    chain.send(p);
  }
}

void viewer_motion_command(int kind, int a, int b) {
  LinkState& ls = link_state();
  switch (kind) {
    case 0:
      gimbal_set_angles(a, b, 0);
      break;
    case 1:
      ls.gimbal_stopped.store(0);
      gimbal_pan_tilt_speed(camera_wrap_add(a, ls.rc_pan_share.load()),
                            camera_wrap_add(b, ls.rc_tilt_share.load()));
      ls.viewer_pan.store(a);
      ls.viewer_tilt.store(b);
      if (a == 0 && b == 0) ls.gimbal_stopped.store(1);
      break;
    case 2:
      if (a == -1) {
        camera_digital_zoom(camera_wrap_add(ls.digital_zoom_percent.load(), b));
      } else if (a == -2) {
        ls.zoom_step.store(b);
      } else if (a == -3) {
        camera_zoom_move(b);
      } else {
        camera_digital_zoom(b);
      }
      break;
    default:
      break;
  }
}

void gimbal_position_preset(int which) {
  log_info("set position %d\n", which);
  if (which != 0 && which != 1) return;
  LinkState& ls = link_state();
  if (!ls.gimbal_stopped.load()) {
    gimbal_speed(0, 0, 0);
    ls.gimbal_stopped.store(1);
  }
  uint8_t code = which == 0 ? 0x01 : 0x10;
  CameraPacket<23> press_g = gimbal_button(kGimbal, code);
  CameraPacket<23> press_c = gimbal_button(kCamera, code);
  CameraSendChain chain;
  if (which == 0) {
    for (int i = 0; i < 2; i++) {
      chain.send(press_g);
      chain.send(press_c);
    }
    for (int i = 0; i < 2; i++) {
      chain.send(kReleaseGimbal);
      chain.send(kReleaseCamera);
    }
    return;
  }
  // The selfie flip needs the press held across two gimbal cycles.
  for (int i = 0; i < 2; i++) {
    chain.send(press_g);
    chain.send(press_c);
    pause_ms(20);
  }
  for (int i = 0; i < 2; i++) {
    chain.send(kReleaseGimbal);
    chain.send(kReleaseCamera);
    pause_ms(20);
  }
}

void camera_set_capture_mode(int mode) {
  if (mode == 0 || mode == 1) {
    log_info(mode == 0 ? "set mode photo\n" : "set mode video\n");
    CameraPacket<14> p = kCaptureMode;
    p[11] = static_cast<uint8_t>(mode);
    CameraSendChain().send_times(p, 2);
  }
  // The display process lays out its overlay for the camera's mode when it
  // starts; it is restarted outside the daemon after this.
  if (camera_hud_u8(HUD_CAMERA_MODE) != mode) shell_run("killall -q display");
}

void camera_shoot() {
  shield_move_open();
  if (camera_hud_u8(HUD_CAMERA_MODE) != 0) camera_set_capture_mode(0);
  log_info("shot\n");
  LinkState& ls = link_state();
  uint8_t mode = ls.capture_mode.load();
  uint8_t submode = ls.capture_submode.load();
  const ShootPress* found = nullptr;
  if (mode == kTimelapse.mode) {
    found = &kTimelapse;
  } else {
    for (const ShootPress& s : kShootTable) {
      if (s.mode == mode && s.submode == submode) found = &s;
    }
  }
  if (!found) return;
  CameraPacket<23> press_g = camera_button_packet(
      0x40, kGimbal, {found->selector, 0, 0, 0, 0, 0x91, 0, found->p18, found->p19});
  CameraPacket<23> press_c = press_g;
  press_c[5] = kCamera;
  CameraSendChain chain;
  chain.send_times(press_g, 2);
  chain.send_times(press_c, 2);
  chain.send_times(kReleaseGimbal, 2);
  chain.send_times(kReleaseCamera, 2);
}

void camera_set_video_resolution(int width, int height, int fps) {
  log_info("set video resolution %dx%d@%d\n", width, height, fps);
  uint8_t r = 0;
  if (width == 1280 && height == 720)
    r = 4;
  else if (width == 1920 && height == 1080)
    r = 10;
  else if (width == 2704 && height == 1520)
    r = 24;
  else if (width == 3840 && height == 2160)
    r = 16;
  else if (width == 4096 && height == 2160)
    r = 22;
  uint8_t f = 0;
  switch (fps) {
    case 24:
      f = 1;
      break;
    case 25:
      f = 2;
      break;
    case 30:
      f = 3;
      break;
    case 48:
      f = 4;
      break;
    case 50:
      f = 5;
      break;
    case 60:
      f = 6;
      break;
    case 120:
      f = 7;
      break;
    default:
      break;
  }
  CameraPacket<18> a = kVideoFormat;
  a[11] = r;
  a[12] = f;
  CameraPacket<15> b = kVideoFormatShort;
  b[11] = r;
  b[12] = f;
  CameraSendChain chain;
  chain.send(a);
  chain.send(b);
}

void camera_record(int start) {
  if (start) {
    shield_move_open();
    // Recording needs video mode; give the camera a moment to switch.
    if (camera_hud_u8(HUD_CAMERA_MODE) != 1) {
      camera_set_capture_mode(1);
      pause_ms(50);
    }
  }
  uint8_t selector = start ? 0x0C : 0x04;
  uint32_t gap = start ? 2 : 20;
  CameraPacket<23> press_c = record_button(kCamera, selector);
  CameraPacket<23> press_g = record_button(kGimbal, selector);
  CameraPacket<23> release_c = record_button(kCamera, 0);
  CameraPacket<23> release_g = record_button(kGimbal, 0);
  CameraSendChain chain;
  for (int i = 0; i < 4; i++) {
    chain.send(press_c);
    chain.send(press_g);
    pause_ms(gap);
  }
  for (int i = 0; i < 4; i++) {
    chain.send(release_c);
    chain.send(release_g);
    pause_ms(gap);
  }
  log_info(start ? "record start\n" : "record stop\n");
  media_listing_request();
}

void camera_set_shot_format(int format) {
  static const char* const kNames[] = {"RAW", "JPG", "JPG+RAW"};
  if (format < 0 || format > 2) return;
  log_info("set shot mode %s\n", kNames[format]);
  CameraPacket<14> p = kShotFormat;
  p[11] = static_cast<uint8_t>(format);
  camera_send(p.data(), p.size());
}

void camera_stop_interval() {
  log_info("stop interval shoting\n");
  CameraPacket<23> press = camera_button_packet(0x40, kCamera, {0x10, 0, 0, 0, 0, 0x91, 0, 0, 0});
  CameraSendChain chain;
  for (int i = 0; i < 2; i++) {
    chain.send(press);
    chain.send(kReleaseCamera);
  }
  media_listing_request();
}

void camera_shutter_release(int) {
  if (link_state().interval_active.load()) {
    camera_stop_interval();
  } else {
    camera_shoot();
  }
}

void stop_shot() {
  log_info("stop shot\n");
  CameraSendChain chain;
  chain.send(kReleaseGimbal);
  chain.send(kReleaseCamera);
  media_listing_request();
}

void camera_ops_reset() {
  camera_last_digital_zoom.store(-1);
  attitude_from_rc.store(1);
}
