#include "link/link_handler.h"

#include <atomic>
#include <climits>
#include <cmath>
#include <cstdio>
#include <cstring>

#include "core/config_record.h"
#include "core/hud_block.h"
#include "link/link_decode.h"
#include "link/link_packet.h"
#include "link/link_state.h"
#include "platform/clock.h"
#include "platform/shell.h"
#include "platform/wiringpi.h"
#include "viewer/viewer_send.h"
#include "platform/log.h"

namespace {

constexpr int kLedPin = 24;

std::atomic<void (*)(int)> g_gimbal_lock_press{nullptr};
std::atomic<void (*)()> g_stop_shot{nullptr};

// Reply templates, whole packets with placeholder sequence and CRC16.
constexpr uint8_t kGimbalReply[14] = {0x55, 0x0E, 0x04, 0x66, 0x09, 0x04, 0x00,
                                      0x00, 0x80, 0x04, 0x1C, 0x06, 0x00, 0x00};
constexpr uint8_t kGimbalReply26[26] = {0x55, 0x1A, 0x04, 0xB1, 0x09, 0x04,
                                        0x00, 0x00, 0xA0, 0x04, 0x28};
constexpr uint8_t kOsmoCameraReply[14] = {0x55, 0x0E, 0x04, 0x66, 0x07, 0x01, 0x00,
                                          0x00, 0x80, 0x00, 0x50, 0x00, 0x00, 0x00};
constexpr uint8_t kStatusReply[14] = {0x55, 0x0E, 0x04, 0x66, 0x09, 0x01, 0x00,
                                      0x00, 0x80, 0x09, 0x0E, 0x00, 0x00, 0x00};
constexpr uint8_t kOsmoIdentity[44] = {
    0x55, 0x2C, 0x04, 0x36, 0x09, 0x04, 0x00, 0x00, 0x80, 0x00, 0x01,  // header
    0x00, 0x10, 'H',  'G',  '3',  '1',  '0',                           // "HG310"
    0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00,  // 11 zero bytes
    0x0B, 0x00, 0x00, 0x00, 0x04, 0x01, 0x00, 0x00, 0xFF, 0x03, 0x00, 0x00, 0x01, 0x00, 0x00};
constexpr uint8_t kInspireGimbalReply[14] = {0x55, 0x0E, 0x04, 0x66, 0x03, 0x04, 0x00,
                                             0x00, 0x80, 0x04, 0x1C, 0x00, 0x00, 0x00};
constexpr uint8_t kInspireIdentity[43] = {
    0x55, 0x2B, 0x04, 0x58, 0x09, 0x01, 0x00, 0x00, 0x80, 0x00, 0x01,       // header
    0x00, 0x01, '0',  '3',  'J',  '0',  '0',  '5',  '0',  '5',  '0',  '6',  // "03J0050506"
    0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00,                   // 9 zero bytes
    0x03, 0x04, 0x00, 0x00, 0x03, 0x01, 0x00, 0x00, 0x00, 0x00, 0x00};

// Values from the camera are untrusted floats: NaN and huge values must not
// reach an integer conversion.
int trunc_int(double v) {
  if (std::isnan(v)) return 0;
  if (v >= 2147483647.0) return INT_MAX;
  if (v <= -2147483648.0) return INT_MIN;
  return static_cast<int>(v);
}

bool link_is_up() { return link_state().link_up.load(std::memory_order_relaxed) != 0; }

// Copies a template, optionally takes the request's sequence bytes and a
// receiver, and sends it once while the link is up.
void send_reply(const uint8_t* tmpl, size_t n, const uint8_t* request, bool copy_sequence,
                int receiver = -1, int byte11 = -1, bool fresh_sequence = false) {
  if (!link_is_up()) return;
  uint8_t p[64];
  memcpy(p, tmpl, n);
  if (copy_sequence) {
    p[6] = request[6];
    p[7] = request[7];
  }
  if (receiver >= 0) p[5] = static_cast<uint8_t>(receiver);
  if (byte11 >= 0) p[11] = static_cast<uint8_t>(byte11);
  if (fresh_sequence)
    link_send(p, n);
  else
    link_send_unsequenced(p, n);
}

void link_came_up(uint8_t* hud) {
  LinkState& ls = link_state();
  if (!link_is_up()) {
    log_info("data connected\n");
    hud_set_u8(hud, HUD_LINK_UP_B, 1);
    hud_set_u8(hud, HUD_LINK_UP_A, 1);
    hud_set_u8(hud, HUD_TELEMETRY_VALID, 0);
    ls.link_up.store(1);
    cfg_set(config_record()->camera_connected, 1);
  }
  ls.last_data_time.store(time_ms());
}

void answer_osmo(const uint8_t* p, size_t length) {
  uint8_t sender = p[4], receiver = p[5], type = p[8];
  if (length == 14) {
    if (sender == 0x04 && receiver == 0x09) {
      if (type == 0x20) send_reply(kGimbalReply, sizeof kGimbalReply, p, false);
      if (type == 0x00 && p[11] == 1) send_reply(kGimbalReply26, sizeof kGimbalReply26, p, false);
    } else if (sender == 0x01 && receiver == 0x07) {
      send_reply(kOsmoCameraReply, sizeof kOsmoCameraReply, p, true);
    }
  } else if (length == 15) {
    if (sender == 0x01 && receiver == 0x09 && type == 0x40)
      send_reply(kStatusReply, sizeof kStatusReply, p, true);
  } else if (length == 13) {
    if (sender == 0x04 && receiver == 0x09) {
      log_info("Init Osmo mode\n");
      send_reply(kOsmoIdentity, sizeof kOsmoIdentity, p, true);
    } else if (sender == 0x01 && receiver == 0x09) {
      log_info("Init Osmo mode\n");
      send_reply(kOsmoIdentity, sizeof kOsmoIdentity, p, true, 0x01);
    }
  }
}

void answer_inspire(const uint8_t* p, size_t length) {
  uint8_t sender = p[4], receiver = p[5], type = p[8], set = p[9], id = p[10];
  if (length == 14) {
    if (sender == 0x04 && receiver == 0x03 && type == 0x20)
      send_reply(kInspireGimbalReply, sizeof kInspireGimbalReply, p, false, -1, p[11]);
  } else if (length == 15) {
    if (sender == 0x01 && receiver == 0x09 && type == 0x40)
      send_reply(kStatusReply, sizeof kStatusReply, p, true);
  } else if (length == 13) {
    if (sender == 0x01 && receiver == 0x09 && set == 0x00 && id == 0x01) {
      log_info("Init Inspire mode DM368\n");
      send_reply(kInspireIdentity, sizeof kInspireIdentity, p, true);
    } else if (sender == 0x04 && receiver == 0x09) {
      log_info("Init Inspire mode Ambarella\n");
      send_reply(kInspireIdentity, sizeof kInspireIdentity, p, false, 0x04, -1, true);
    }
  }
}

void put_angle(uint8_t* hud, double degrees, size_t text, size_t radians, size_t sine,
               size_t cosine) {
  char buf[16];
  snprintf(buf, sizeof buf, "%1.0f", degrees);
  hud_set_text(hud, text, 10, buf);
  // The display was built against the single-precision value of pi/180.
  double r = degrees * static_cast<double>(0.0174532924f);
  hud_set_f64(hud, radians, r);
  hud_set_f64(hud, sine, std::sin(r));
  hud_set_f64(hud, cosine, std::cos(r));
}

void gimbal_attitude(uint8_t* hud, const uint8_t* p, size_t length) {
  LinkAttitude a;
  if (!link_decode_attitude(p, length, &a)) return;
  double tilt = a.tilt, dutch = a.dutch, pan = a.pan;

  // Readers tell a half-written set of angles by this byte.
  hud_set_u8(hud, HUD_GIMBAL_WRITING, 1);
  put_angle(hud, pan, HUD_PAN_TEXT, HUD_GIMBAL_PAN, HUD_SIN_PAN, HUD_COS_PAN);
  put_angle(hud, tilt, HUD_TILT_TEXT, HUD_GIMBAL_TILT, HUD_SIN_TILT, HUD_COS_TILT);
  put_angle(hud, dutch, HUD_DUTCH_TEXT, HUD_GIMBAL_DUTCH, HUD_SIN_DUTCH, HUD_COS_DUTCH);
  hud_set_u8(hud, HUD_GIMBAL_WRITING, 0);

  uint8_t locked = a.locked;
  hud_set_u8(hud, HUD_GIMBAL_STATE, locked);
  uint8_t wanted = link_state().wanted_orientation_lock.load();
  if (locked != wanted) {
    void (*press)(int) = g_gimbal_lock_press.load();
    if (press) press(wanted);
  }

  viewer_send_short16(0, trunc_int(pan * 100), trunc_int(tilt * 100), trunc_int(dutch * 100));
  viewer_send_short16(10, a.raw_pan, a.raw_tilt, a.raw_dutch);
  viewer_send_short16(8, locked, 0, 0);
}

void telemetry(uint8_t* hud, const uint8_t* p) {
  LinkState& ls = link_state();
  uint8_t status = p[11];
  hud_set_u8(hud, HUD_CAMERA_STATUS, status);
  if ((status >> 6) == 2) {
    // Recording: the LED blinks with a period of about a second. A cleared
    // blink time means "not blinking yet", whatever the clock reads.
    uint32_t now = time_ms();
    uint32_t last = ls.led_blink_time.load();
    if (last == 0 || time_age(now, last) > 500) {
      ls.led_blink_time.store(now);
      ls.led_level.store(ls.led_level.load() ^ 1);
    }
    digitalWrite(kLedPin, ls.led_level.load());
  } else {
    digitalWrite(kLedPin, LOW);
    ls.led_blink_time.store(0);
  }
  hud_set_u32(hud, HUD_TELEMETRY_U32_20, link_u32(p, 20));
  hud_set_u32(hud, HUD_TELEMETRY_U32_24, link_u32(p, 24));
  hud_set_u32(hud, HUD_TELEMETRY_U32_28, link_u32(p, 28));
  hud_set_u16(hud, HUD_TELEMETRY_U16_40, link_u16(p, 40));
  hud_set_u8(hud, HUD_TELEMETRY_VALID, 1);
  hud_set_u8(hud, HUD_TELEMETRY_B44, p[44]);
  hud_set_u8(hud, HUD_CAMERA_MODE, p[15]);
  hud_set_u8(hud, HUD_TELEMETRY_B42, p[42]);
  hud_set_u8(hud, HUD_TELEMETRY_B13, p[13]);
  ls.interval_active.store((p[13] >> 4) & 1);

  if ((p[13] & 0x08) && !((p[42] | (status >> 5)) & 1)) {
    void (*stop)() = g_stop_shot.load();
    if (stop) stop();
  }

  uint8_t m[24];
  m[0] = 7;
  m[1] = p[15];
  m[2] = status;
  memcpy(m + 3, p + 20, 12);  // u32 at 20, 24 and 28, as they came
  memcpy(m + 15, p + 40, 2);
  link_put_u32(m, 17, hud_get_u32(hud, HUD_MSG22_VALUE));
  m[21] = p[42];
  m[22] = p[13];
  m[23] = p[44];
  viewer_send(m, sizeof m, 0);
}

void focus_status(uint8_t* hud, const uint8_t* p) {
  LinkState& ls = link_state();
  LinkFocus f = link_decode_focus(p);
  hud_set_u8(hud, HUD_FOCUS_POSITION, static_cast<uint8_t>(f.percent));
  hud_set_f64(hud, HUD_FOCUS_VALUE, f.value100 / 100);
  hud_set_u8(hud, HUD_FOCUS_B11_BIT2, f.bit2);
  hud_set_u8(hud, HUD_FOCUS_MF_AVAILABLE, f.mf_available);
  hud_set_u8(hud, HUD_FOCUS_RECEIVED, 1);
  hud_set_f64(hud, HUD_CAM_FOCUS_Y, f.y);
  hud_set_f64(hud, HUD_CAM_FOCUS_X, f.x);
  hud_set_u8(hud, HUD_FOCUS_B32, f.b32);
  ls.focus_range.store(f.range);
  ls.focus_byte.store(f.assistants);

  viewer_send_short8(16, f.b32, hud_get_u8(hud, HUD_CONTINUOUS_AF), 0, 0, 0, 0);
  viewer_send_short16(12, f.bit2 + 2 * f.mf_available, f.percent, trunc_int(f.value100));
  viewer_send_short16(13, trunc_int(f.x * 10000.0f), trunc_int(f.y * 10000.0f), f.assistants);
}

void camera_state(uint8_t* hud, const uint8_t* p, size_t length) {
  LinkState& ls = link_state();
  hud_set_u8(hud, HUD_CAMSTATE_B23, p[23]);
  hud_set_u8(hud, HUD_CAMSTATE_B67, p[67]);

  LinkCameraState c = link_decode_camera_state(p);
  hud_set_f64(hud, HUD_APERTURE, c.f_number);
  int ai = link_aperture_index(c.f_number);
  if (ai >= 0) {
    ls.aperture_index.store(ai);
    rc_aperture_index.store(ai);
  }

  hud_set_u16(hud, HUD_CAMSTATE_U16_54, link_u16(p, 54));
  hud_set_u8(hud, HUD_CAMSTATE_B16, p[16]);
  hud_set_u8(hud, HUD_CAMSTATE_B24, p[24]);
  hud_set_u8(hud, HUD_CAMSTATE_B25, p[25]);

  uint8_t f0 = ls.last_video_format[0].load(), f1 = ls.last_video_format[1].load();
  ls.last_video_format[0].store(p[24]);
  ls.last_video_format[1].store(p[25]);
  if (f0 != 0 && f1 != 0 && (f0 != p[24] || f1 != p[25])) {
    log_info("video format changed\n");
    shell_run("killall -q display &");
  }

  int ev = c.ev_tenths;
  hud_set_u8(hud, HUD_CAMSTATE_B34, p[34]);
  hud_set_u8(hud, HUD_CAMSTATE_B35, p[35]);
  hud_set_u8(hud, HUD_EV_TENTHS, static_cast<uint8_t>(ev));
  hud_set_u8(hud, HUD_CAMSTATE_B42, p[42]);

  int16_t v = c.v38;
  hud_set_u16(hud, HUD_CAMSTATE_U16_38, static_cast<uint16_t>(v));

  hud_set_u8(hud, HUD_CAMSTATE_B31, p[31]);
  hud_set_u8(hud, HUD_CAMSTATE_B21, p[21]);
  hud_set_u8(hud, HUD_CAMSTATE_B66_BIT0, p[66] & 1);
  hud_set_u8(hud, HUD_CAMSTATE_B43, p[43]);

  uint32_t shutter = c.shutter;
  hud_set_u32(hud, HUD_SHUTTER_CODE, shutter);
  int si = link_shutter_index(shutter);
  if (si >= 0) {
    ls.shutter_index.store(si);
    rc_shutter_index.store(si);
  }
  hud_set_u32(hud, HUD_CAMSTATE_U24_51, link_u24(p, 51));

  LinkShotType shot =
      link_decode_shot_type(p, length,
                            {ls.capture_mode.load(), ls.capture_submode.load(),
                             ls.timelapse_interval.load(), ls.timelapse_duration.load()});
  ls.capture_mode.store(shot.mode);
  ls.capture_submode.store(shot.sub);
  ls.timelapse_interval.store(shot.interval);
  ls.timelapse_duration.store(shot.duration);
  uint8_t mode = shot.mode, sub = shot.sub;
  uint16_t interval = shot.interval, duration = shot.duration;
  hud_set_u8(hud, HUD_CAPTURE_MODE, mode);
  hud_set_u8(hud, HUD_CAPTURE_SUBMODE, sub);
  hud_set_u16(hud, HUD_TIMELAPSE_INTERVAL, interval);
  hud_set_u16(hud, HUD_TIMELAPSE_DURATION, duration);

  uint8_t m[31];
  m[0] = 2;
  m[1] = p[31];
  m[2] = p[21];
  m[3] = static_cast<uint8_t>(v);
  m[4] = p[42];
  m[5] = static_cast<uint8_t>(ev);
  m[6] = p[34];
  m[7] = p[24];
  m[8] = p[25];
  m[9] = p[35];
  memcpy(m + 10, p + 54, 2);
  memcpy(m + 12, p + 13, 3);
  m[15] = p[67];
  m[16] = p[16];
  memcpy(m + 17, p + 49, 2);
  m[19] = p[66] & 1;
  m[20] = p[43];
  memcpy(m + 21, p + 51, 3);
  m[24] = p[23];
  m[25] = mode;
  m[26] = sub;
  link_put_u16(m, 27, interval);
  link_put_u16(m, 29, duration);
  viewer_send(m, sizeof m, 0);
  viewer_send_short16(3, ls.digital_zoom_percent.load(), 0, 0);
}

}  // namespace

void handle_link_packet(const uint8_t* p, size_t length) {
  if (length < 2 || length > 255 || p[1] != length) return;
  uint8_t* hud = link_hud();
  link_came_up(hud);

  if (length == 13 || length == 14 || length == 15) {
    if (link_state().mode.load() == 1)
      answer_inspire(p, length);
    else
      answer_osmo(p, length);
    return;
  }

  switch (length) {
    case 22:
      hud_set_u32(hud, HUD_MSG22_VALUE, link_u24(p, 14));
      break;
    case 25:
      gimbal_attitude(hud, p, length);
      break;
    case 49:
    case 50:
      telemetry(hud, p);
      break;
    case 52:
      hud_set_u16(hud, HUD_MSG52_U16_25, link_u16(p, 25));
      hud_set_u16(hud, HUD_MSG52_U16_12, link_u16(p, 12));
      hud_set_u8(hud, HUD_MSG52_B11, p[11]);
      break;
    case 53:
    case 59:
      focus_status(hud, p);
      break;
    case 54:
      hud_set_u8(hud, HUD_PLAYBACK_STATE, p[11]);
      hud_set_u16(hud, HUD_MSG54_VALUES, link_u16(p, 15));
      hud_set_u16(hud, HUD_MSG54_VALUES + 2, link_u16(p, 17));
      hud_set_u16(hud, HUD_MSG54_VALUES + 4, link_u16(p, 20));
      hud_set_u16(hud, HUD_MSG54_VALUES + 6, link_u16(p, 22));
      hud_set_u16(hud, HUD_MSG54_VALUES + 8, link_u16(p, 24));
      break;
    case 77: {
      hud_write(hud, HUD_RECORD64, p + 11, 64);
      hud_set_u32(hud, HUD_RECORD64_TIME, time_ms());
      uint8_t m[65];
      m[0] = 14;
      memcpy(m + 1, p + 11, 64);
      viewer_send(m, sizeof m, 0);
      break;
    }
    case 85:
    case 104:
      camera_state(hud, p, length);
      break;
    default:
      break;
  }
}

void link_install_hooks(const LinkHooks& hooks) {
  g_gimbal_lock_press.store(hooks.gimbal_lock_press);
  g_stop_shot.store(hooks.stop_shot);
}
