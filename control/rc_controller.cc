#include "control/rc_controller.h"

#include <cfloat>
#include <climits>
#include <cmath>
#include <condition_variable>
#include <mutex>

#include "core/config_record.h"
#include "core/hud_block.h"
#include "config/config_file.h"
#include "control/camera_ops.h"
#include "control/camera_settings.h"
#include "control/camera_vocabulary.h"
#include "link/link_state.h"
#include "platform/clock.h"
#include "platform/shell.h"

namespace {

constexpr double kEvTable[19] = {-3.0, -2.7, -2.3, -2.0, -1.7, -1.3, -1.0, -0.7, -0.3, 0.0,
                                 0.3,  0.7,  1.0,  1.3,  1.7,  2.0,  2.3,  2.7,  3.0};
constexpr int32_t kIsoTable[8] = {0, 100, 200, 400, 800, 1600, 3200, 6400};
constexpr const char* kShutterTable[57] = {
    "30s",  "25s",  "20s",  "15s",  "10s",  "9s",   "8s",   "7s",   "6s",  "5s",  "4s",  "3.2s",
    "3s",   "2.5s", "2s",   "1.6s", "1.3s", "1s",   "1.25", "1.67", "2",   "2.5", "3",   "4",
    "5",    "6.25", "8",    "10",   "12.5", "15",   "20",   "25",   "30",  "40",  "50",  "60",
    "80",   "100",  "120",  "160",  "200",  "240",  "320",  "400",  "500", "640", "800", "1000",
    "1250", "1600", "2000", "2500", "3200", "4000", "5000", "6400", "8000"};
constexpr const char* kProgramTable[4] = {"auto", "manual", "shutter", "aperture"};

// The longest exposure a video frame allows is 1/20 s: index 30 ("20").
constexpr int32_t kShutterVideoMin = 30;
static_assert(kShutterTable[kShutterVideoMin][0] == '2' &&
              kShutterTable[kShutterVideoMin][1] == '0' &&
              kShutterTable[kShutterVideoMin][2] == '\0');

// Values further out than this are not something rcin writes; a block
// scribbled by another process must not poison the focus filter or overflow
// the integer conversions.
constexpr double kValueLimit = 1000.0;

struct StepSwitch {
  int32_t step = 0;
  int32_t last_sent = -1;
  uint8_t latch = 0;
};

struct RcControllerState {
  uint32_t passes = 0;  // wraps after years; only its remainder by 100 matters
  uint8_t rc_active = 0;
  uint8_t record_latch = 0;
  uint8_t ev_last_sent = 255;
  int32_t zoom_last = 0;
  double focus_smoothed = 0.0;
  int32_t focus_last = 0;
  double focus_point_last_x = 0.0;
  double focus_point_last_y = 0.0;
  uint32_t focus_point_change_time = 0;
  bool focus_point_pending = false;
  int32_t digital_zoom_last = 0;
  int32_t digital_zoom_speed = 0;
  StepSwitch iso, shutter, aperture, program;
  uint8_t center_latch = 0;
  uint8_t intcamera_latch = 0;
  uint8_t orient_lock_latch = 0;
};

RcControllerState g_rc;

// The idle wait's wake-up; never destroyed (the loop runs until exit).
struct RcWake {
  std::mutex mutex;
  std::condition_variable cv;
  bool woken = false;
};
RcWake& g_wake = *new RcWake;

constexpr int kBusyStepUs = 20000;
constexpr int kIdleWaitMs = 100;

// Conversions truncate toward zero; anything outside int32 (or NaN) is cut
// to the nearest representable value so the cast is always defined.
int32_t rc_trunc(double v) {
  if (std::isnan(v)) return 0;
  if (v >= static_cast<double>(INT32_MAX)) return INT32_MAX;
  if (v <= static_cast<double>(INT32_MIN)) return INT32_MIN;
  return static_cast<int32_t>(v);
}

float rc_float(double v) {
  if (std::isnan(v)) return 0.0f;
  if (v > FLT_MAX) return FLT_MAX;
  if (v < -FLT_MAX) return -FLT_MAX;
  return static_cast<float>(v);
}

double clamp01(double v) {
  if (!(v >= 0.0)) return 0.0;  // NaN included
  return v > 1.0 ? 1.0 : v;
}

bool rc_usable(double v) { return std::isfinite(v) && std::fabs(v) <= kValueLimit; }

bool rc_assigned(const uint8_t* hud, int f) {
  return hud_get_i16(hud, HUD_RC_FUNC_PRESENT + 2 * static_cast<size_t>(f)) != 0;
}

// Value and position of an assigned function; false when it is unassigned or
// its numbers are not usable, and the function is then skipped.
bool rc_read(const uint8_t* hud, int f, double* value, double* position) {
  if (!rc_assigned(hud, f)) return false;
  double v = hud_get_f64(hud, HUD_RC_FUNC_CENTRED + 8 * static_cast<size_t>(f));
  double p = hud_get_f64(hud, HUD_RC_FUNC_POSITION + 8 * static_cast<size_t>(f));
  if (!rc_usable(v) || !rc_usable(p)) return false;
  *value = v;
  *position = p;
  return true;
}

int32_t clamp_step(int32_t step, int32_t lo, int32_t hi) {
  return step < lo ? lo : (step > hi ? hi : step);
}

uint8_t camera_mode(const uint8_t* hud) { return hud_get_u8(hud, HUD_CAMERA_MODE); }

int sat_add(int32_t a, int32_t b) {
  int64_t s = static_cast<int64_t>(a) + b;
  return static_cast<int>(s > INT32_MAX ? INT32_MAX : (s < INT32_MIN ? INT32_MIN : s));
}

// (a) to (c): gimbal speeds from the sticks, or absolute angles.
void rc_gimbal(const uint8_t* hud, const ConfigRecord* cfg) {
  LinkState& ls = link_state();
  bool absolute = cfg_get(cfg->rc_input_abs) != 0;
  bool inspire = cfg_get(cfg->device_mode) == 1;
  double pan_v, pan_p, tilt_v, tilt_p;
  bool both = rc_read(hud, RC_PAN, &pan_v, &pan_p) && rc_read(hud, RC_TILT, &tilt_v, &tilt_p);
  if (both && !absolute) {
    double m = inspire ? 1700.0 : 4000.0;
    int32_t pan = rc_trunc(m * pan_v * cfg_get(cfg->rc_input_speed_pan) / 100.0);
    int32_t tilt = rc_trunc(m * tilt_v * cfg_get(cfg->rc_input_speed_tilt) / 100.0);
    ls.rc_pan_share.store(pan);
    ls.rc_tilt_share.store(tilt);
    gimbal_pan_tilt_speed(sat_add(pan, ls.viewer_pan.load()), sat_add(tilt, ls.viewer_tilt.load()));
  } else if (both) {
    // The roll knob need not be mapped: its position then reads as rcin
    // left it, normally 0.
    double dutch_p = hud_get_f64(hud, HUD_RC_FUNC_POSITION + 8 * RC_DUTCH);
    if (!rc_usable(dutch_p)) dutch_p = 0.0;
    int32_t yaw = rc_trunc(pan_p * 6400.0 - 3200.0);
    int32_t pitch =
        tilt_p > 0.5 ? rc_trunc((tilt_p - 0.5) * -2400.0) : rc_trunc((0.5 - tilt_p) * 1000.0);
    int32_t roll = rc_trunc(dutch_p * 1200.0 - 600.0);
    gimbal_set_angles(yaw, pitch, roll);
  }
  double v, p;
  if (!absolute && inspire && rc_read(hud, RC_DUTCH, &v, &p)) {
    gimbal_dutch_speed(rc_trunc(1700.0 * v * cfg_get(cfg->rc_input_speed_dutch) / 100.0));
  }
}

// (d) and (e): one latch shared by both record switches.
void rc_record(const uint8_t* hud) {
  double v, p;
  if (rc_read(hud, RC_RECORD, &v, &p)) {
    if (v > 0.5 && !g_rc.record_latch) {
      if (camera_mode(hud) == 0) {
        camera_shoot();
      } else {
        camera_record(1);
      }
      g_rc.record_latch = 1;
    } else if (v <= 0.5 && g_rc.record_latch) {
      if (camera_mode(hud) == 1) camera_record(0);
      g_rc.record_latch = 0;
    }
  }
  if (rc_read(hud, RC_RECORD_SHOT, &v, &p)) {
    if (v > 0.5 && !g_rc.record_latch) {
      if (camera_mode(hud) != 1) {
        camera_set_capture_mode(1);
        sleep_us(200000);
      }
      camera_record(1);
      g_rc.record_latch = 1;
    } else if (v < -0.5 && !g_rc.record_latch) {
      if (camera_mode(hud) != 0) {
        camera_set_capture_mode(0);
        sleep_us(500000);
      }
      camera_shoot();
      g_rc.record_latch = 1;
    } else if (v >= -0.5 && v <= 0.5 && g_rc.record_latch) {
      if (camera_mode(hud) == 1) camera_record(0);
      g_rc.record_latch = 0;
    }
  }
}

// (f) to (k): knobs and sticks for exposure, zoom and focus.
void rc_lens(uint8_t* hud, const ConfigRecord* cfg) {
  double v, p;
  if (rc_read(hud, RC_EV, &v, &p)) {
    int32_t step = clamp_step(rc_trunc(p / 0.05263157894736842), 0, 18);
    if (step != g_rc.ev_last_sent) {
      camera_set_ev(kEvTable[step]);
      g_rc.ev_last_sent = static_cast<uint8_t>(step);
    }
  }
  if (rc_read(hud, RC_ZOOM, &v, &p)) {
    int32_t z = rc_trunc(v * 3000.0 / 600.0);
    if (z != g_rc.zoom_last) {
      camera_zoom_move(z);
      g_rc.zoom_last = z;
    }
  }
  if (rc_read(hud, RC_FOCUS, &v, &p)) {
    g_rc.focus_smoothed = 0.9 * g_rc.focus_smoothed + 0.1 * (100.0 * p);
    int32_t n = rc_trunc(100.0 - g_rc.focus_smoothed);
    if (n != g_rc.focus_last) {
      if (hud_get_u8(hud, HUD_FOCUS_MF_AVAILABLE) == 0)
        camera_set_manual_focus(g_rc.focus_smoothed);
      g_rc.focus_last = n;
    }
  }
  double fx_v, fx_p, fy_v, fy_p;
  if (rc_read(hud, RC_FOCUS_PAN, &fx_v, &fx_p) && rc_read(hud, RC_FOCUS_TILT, &fy_v, &fy_p)) {
    double x = hud_get_f64(hud, HUD_FOCUS_POINT_X) +
               fx_v * 0.05 * cfg_get(cfg->rc_input_speed_pan) / 100.0;
    double y = hud_get_f64(hud, HUD_FOCUS_POINT_Y) +
               fy_v * 0.05 * cfg_get(cfg->rc_input_speed_tilt) / 100.0;
    x = clamp01(x);
    y = clamp01(y);
    hud_set_f64(hud, HUD_FOCUS_POINT_X, x);
    hud_set_f64(hud, HUD_FOCUS_POINT_Y, y);
    if (x != g_rc.focus_point_last_x || y != g_rc.focus_point_last_y) {
      g_rc.focus_point_change_time = time_ms();
      g_rc.focus_point_pending = true;
      g_rc.focus_point_last_x = x;
      g_rc.focus_point_last_y = y;
    }
  }
  if (rc_read(hud, RC_DIGITAL_ZOOM, &v, &p)) {
    int32_t level = rc_trunc(p * 100.0);
    int64_t diff = static_cast<int64_t>(g_rc.digital_zoom_last) - level;
    if (diff > 1 || diff < -1) {
      camera_digital_zoom(level);
      g_rc.digital_zoom_last = level;
    }
  }
  if (rc_read(hud, RC_DIGITAL_ZOOM2, &v, &p)) g_rc.digital_zoom_speed = rc_trunc(v * 5.0);
}

// One step per movement away from centre: the latch is cleared only once the
// switch is back within +-0.1.
void step_switch(StepSwitch& s, double v, int32_t lo, int32_t hi) {
  if (!s.latch) {
    if (v > 0.3) {
      s.step++;
      s.latch = 1;
    } else if (v < -0.3) {
      s.step--;
      s.latch = 1;
    }
  }
  s.step = clamp_step(s.step, lo, hi);
  if (v > -0.1 && v < 0.1) s.latch = 0;
}

// The incoming handler rewrites the shutter and aperture indices with what
// the camera reports, so stepping continues from the camera's setting.
void step_follow_camera(StepSwitch& s, const std::atomic<int32_t>& shared, int32_t count) {
  int32_t reported = shared.load();
  if (reported >= 0 && reported < count && reported != s.last_sent) {
    s.step = reported;
    s.last_sent = reported;
  }
}

// (l): the four stepping switches.
void rc_steps(const uint8_t* hud) {
  double v, p;
  if (rc_read(hud, RC_ISO, &v, &p)) {
    step_switch(g_rc.iso, v, 0, 7);
    if (g_rc.iso.step != g_rc.iso.last_sent) {
      camera_set_iso(kIsoTable[g_rc.iso.step]);
      g_rc.iso.last_sent = g_rc.iso.step;
    }
  }
  if (rc_read(hud, RC_SHUTTER, &v, &p)) {
    step_follow_camera(g_rc.shutter, rc_shutter_index, 57);
    step_switch(g_rc.shutter, v, camera_mode(hud) == 1 ? kShutterVideoMin : 0, 56);
    if (g_rc.shutter.step != g_rc.shutter.last_sent) {
      camera_set_shutter(kShutterTable[g_rc.shutter.step]);
      g_rc.shutter.last_sent = g_rc.shutter.step;
      rc_shutter_index.store(g_rc.shutter.step);
    }
  }
  if (rc_read(hud, RC_APERTURE, &v, &p)) {
    step_follow_camera(g_rc.aperture, rc_aperture_index, 21);
    step_switch(g_rc.aperture, v, 0, 20);
    if (g_rc.aperture.step != g_rc.aperture.last_sent) {
      camera_set_aperture(static_cast<float>(kCameraApertureTenths[g_rc.aperture.step]) / 10.0f);
      g_rc.aperture.last_sent = g_rc.aperture.step;
      rc_aperture_index.store(g_rc.aperture.step);
    }
  }
  if (rc_read(hud, RC_VIDEOMODE, &v, &p)) {
    step_switch(g_rc.program, v, 0, 3);
    if (g_rc.program.step != g_rc.program.last_sent) {
      camera_set_image_mode(kProgramTable[g_rc.program.step]);
      g_rc.program.last_sent = g_rc.program.step;
    }
  }
}

// (m) to (p): on/off and push functions.
void rc_switches(uint8_t* hud, ConfigRecord* cfg) {
  double v, p;
  if (rc_read(hud, RC_FOCUS_ASSISTANT, &v, &p)) {
    uint8_t on = v > 0.3 ? 1 : 0;
    cfg_set(cfg->focus_assistant_enabled, on);
    hud_set_u8(hud, HUD_FOCUS_ASSISTANT, on);
  }
  if (rc_read(hud, RC_CENTER, &v, &p)) {
    if (v > 0.3 && !g_rc.center_latch) {
      gimbal_position_preset(1);
      gimbal_position_preset(0);
      g_rc.center_latch = 1;
    } else if (v <= 0.3) {
      g_rc.center_latch = 0;
    }
  }
  if (rc_read(hud, RC_OSD, &v, &p)) hud_set_u8(hud, HUD_OSD_ENABLED, v < 0.3 ? 1 : 0);
  if (rc_read(hud, RC_INTCAMERA, &v, &p)) {
    uint8_t s = v > 0.3 ? 1 : 0;
    if (s != g_rc.intcamera_latch) {
      cfg_set(cfg->internal_camera_fullscreen, s);
      hud_set_u8(hud, HUD_INTCAM_FULLSCREEN, s);
      config_save();
      // The video player reads the setting when it starts; it is restarted
      // from outside once killed.
      shell_run("killall -q raspivid");
      g_rc.intcamera_latch = s;
    }
  }
  if (rc_read(hud, RC_ORIENT_LOCK, &v, &p)) {
    if (v > 0.3 && !g_rc.orient_lock_latch) {
      g_rc.orient_lock_latch = 1;
      gimbal_wanted_lock_set(1);
      gimbal_button_press(1);
    } else if (v <= 0.3 && g_rc.orient_lock_latch) {
      g_rc.orient_lock_latch = 0;
      gimbal_wanted_lock_set(0);
      gimbal_button_press(0);
    }
  }
}

// (q): what is repeated on every pass while the link is up.
void rc_repeat(const uint8_t* hud, const ConfigRecord* cfg) {
  LinkState& ls = link_state();
  if (g_rc.passes % 100 == 0 && ls.mode.load() == 1 && ls.cooperative.load() == 0 &&
      attitude_from_rc.load() != 0) {
    gimbal_attitude_rc(0, 0);
  }
  int32_t pan = ls.pan_target.load(), tilt = ls.tilt_target.load(), dutch = ls.dutch_target.load();
  if ((pan != 0 || tilt != 0 || dutch != 0) && ls.gimbal_stopped.load() == 0) {
    gimbal_speed(pan, tilt, dutch);
  }
  if (g_rc.digital_zoom_speed != 0) {
    camera_digital_zoom(sat_add(ls.digital_zoom_percent.load(), g_rc.digital_zoom_speed));
  }
  int32_t zoom = ls.zoom_speed.load();
  if (zoom != 0) camera_zoom_move(zoom);
  if (hud == nullptr) return;
  uint32_t now = time_ms();
  if (g_rc.focus_point_pending && time_age(now, g_rc.focus_point_change_time) > 200) {
    if (hud_get_u8(hud, HUD_FOCUS_MF_AVAILABLE) == 1) {
      camera_set_focus_point(rc_float(hud_get_f64(hud, HUD_FOCUS_POINT_X)),
                             rc_float(1.0 - hud_get_f64(hud, HUD_FOCUS_POINT_Y)));
    }
    g_rc.focus_point_pending = false;
    g_rc.focus_point_change_time = 0;
  }
  uint32_t moved = ls.last_gimbal_command_time.load();
  if (cfg_get(cfg->focus_assistant_enabled) && hud_get_u8(hud, HUD_FOCUS_MF_AVAILABLE) == 1 &&
      moved != 0 && time_age(now, moved) > 200) {
    camera_set_focus_point(rc_float(hud_get_f64(hud, HUD_CAM_FOCUS_X)),
                           rc_float(hud_get_f64(hud, HUD_CAM_FOCUS_Y)));
    ls.last_gimbal_command_time.store(0);
  }
}

}  // namespace

void rc_controller_pass(uint8_t* hud) {
  ConfigRecord* cfg = config_record();
  if (hud != nullptr && cfg_get(cfg->rc_input_enabled) != 0 && hud_get_i8(hud, HUD_RC_STATE) == 6) {
    if (hud_get_u8(hud, HUD_RC_MENU) != 0) {
      // Opening the menu stops the sticks once; the roll speed is left alone.
      if (g_rc.rc_active) {
        link_state().pan_target.store(0);
        link_state().tilt_target.store(0);
        g_rc.rc_active = 0;
      }
    } else {
      rc_gimbal(hud, cfg);
      rc_record(hud);
      rc_lens(hud, cfg);
      rc_steps(hud);
      rc_switches(hud, cfg);
      g_rc.rc_active = 1;
    }
  }
  rc_repeat(hud, cfg);
  g_rc.passes++;
}

bool rc_controller_has_work(const uint8_t* hud) {
  const ConfigRecord* cfg = config_record();
  LinkState& ls = link_state();
  if (hud != nullptr && cfg_get(cfg->rc_input_enabled) != 0 && hud_get_i8(hud, HUD_RC_STATE) == 6)
    return true;
  if (ls.mode.load() == 1 && ls.cooperative.load() == 0 && attitude_from_rc.load() != 0)
    return true;
  bool turning =
      ls.pan_target.load() != 0 || ls.tilt_target.load() != 0 || ls.dutch_target.load() != 0;
  if (turning && ls.gimbal_stopped.load() == 0) return true;
  if (g_rc.digital_zoom_speed != 0 || ls.zoom_speed.load() != 0) return true;
  if (g_rc.focus_point_pending) return true;
  return cfg_get(cfg->focus_assistant_enabled) != 0 && ls.last_gimbal_command_time.load() != 0;
}

void rc_controller_wake() {
  {
    std::lock_guard<std::mutex> lock(g_wake.mutex);
    g_wake.woken = true;
  }
  g_wake.cv.notify_one();
}

void rc_controller_wait(int ms) {
  std::unique_lock<std::mutex> lock(g_wake.mutex);
  g_wake.cv.wait_for(lock, std::chrono::milliseconds(ms), [] { return g_wake.woken; });
  g_wake.woken = false;
}

void* rc_controller(void*) {
  for (;;) {
    if (link_state().link_up.load() == 0) {
      sleep_us(100000);
      continue;
    }
    uint8_t* hud = hud_block();
    rc_controller_pass(hud);
    // Fifty passes a second only while they have something to repeat: at
    // idle they were most of what this thread cost.
    if (rc_controller_has_work(hud))
      sleep_us(kBusyStepUs);
    else
      rc_controller_wait(kIdleWaitMs);
  }
  return nullptr;
}

void rc_controller_reset() { g_rc = RcControllerState{}; }
