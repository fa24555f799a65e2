// The viewer's camera vocabulary: one JSON command text in, camera and gimbal
// packets out. Each command word has one handler below, tried in a fixed
// order; unknown words and unknown params are ignored.
//
//   {"cmd":"iso","param":"400"}   -> "set iso 400", packet set 0x02 id 0x2A 05
//   {"cmd":"wb","param":"custom","value1":"5600"}
//                                 -> "set wb custom 5600", set 0x02 id 0x2C 06 38
#include "control/camera_dispatch.h"

#include <cjson/cJSON.h>

#include <cerrno>
#include <climits>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "core/hud_block.h"
#include "control/camera_hud.h"
#include "control/camera_ops.h"
#include "control/camera_packet.h"
#include "control/camera_settings.h"
#include "control/camera_vocabulary.h"
#include "link/data_source.h"
#include "platform/clock.h"
#include "platform/shell.h"

namespace {

constexpr uint8_t kCamera = 0x01;
constexpr uint8_t kGimbal = 0x04;

struct Command {
  const char* cmd;
  const char* param;
  const char* value1;
  const char* value2;
};

bool is(const char* a, const char* b) { return strcmp(a, b) == 0; }

// Decimal integer as the viewer writes it: optional sign, digits, the rest
// ignored, 0 for no digits. Out-of-range numbers saturate instead of being
// undefined.
int to_int(const char* s) {
  errno = 0;
  long long v = strtoll(s, nullptr, 10);
  if (v > INT_MAX) return INT_MAX;
  if (v < INT_MIN) return INT_MIN;
  return static_cast<int>(v);
}

double to_real(const char* s) { return strtod(s, nullptr); }

// Double to float without the undefined conversion of a value beyond the
// float range: such a value becomes the infinity of its sign.
float to_float(double d) {
  if (d > 3.4028234663852886e38) return INFINITY;
  if (d < -3.4028234663852886e38) return -INFINITY;
  return static_cast<float>(d);
}

uint8_t low8(int v) { return static_cast<uint8_t>(static_cast<unsigned>(v) & 0xFF); }

// --- packets built here -------------------------------------------------

constexpr CameraPacket<14> camera14(uint8_t id, uint8_t v) {
  return camera_packet<14>(0x02, kCamera, 0x40, 0x02, id, {v});
}
constexpr CameraPacket<14> gimbal14(uint8_t id, uint8_t v) {
  return camera_packet<14>(0x02, kGimbal, 0x40, 0x04, id, {v});
}
// Gimbal parameters: 0xFF leaves a setting as it is, so each command changes
// exactly one position of the eight.
CameraPacket<21> gimbal_parameter(size_t offset, uint8_t v) {
  CameraPacket<21> p = camera_packet<21>(0x02, kGimbal, 0x40, 0x04, 0x35,
                                         {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF});
  p[offset] = v;
  return p;
}

template <size_t N>
void send_one(CameraPacket<N> p) {
  camera_send(p.data(), N);
}

// --- command words ------------------------------------------------------

void cmd_camera(const Command& c) {
  if (!is(c.param, "mode")) return;
  if (is(c.value1, "video"))
    camera_set_capture_mode(1);
  else if (is(c.value1, "photo"))
    camera_set_capture_mode(0);
}

void cmd_horizont(const Command& c) {
  CameraSendChain chain;
  if (is(c.param, "cw")) {
    fprintf(stderr, "roll horizont clockwise\n");
    chain.send(gimbal14(0x07, 0xFD));
  } else if (is(c.param, "ccw")) {
    fprintf(stderr, "roll horizont contr-clockwise\n");
    chain.send(gimbal14(0x07, 0x03));
  } else if (is(c.param, "zero")) {
    fprintf(stderr, "roll horizont to zero\n");
    chain.send(gimbal14(0x07, 0x00));
  } else if (is(c.param, "calibrate")) {
    fprintf(stderr, "full calibrate\n");
    chain.send(gimbal14(0x07, 0x00));
    chain.send(camera_packet<21>(0x09, kGimbal, 0x20, 0x04, 0x01,
                                 {0x00, 0x04, 0x00, 0x04, 0x00, 0x04, 0x80, 0x00}));
    chain.send(camera_packet<13>(0x02, kGimbal, 0x40, 0x04, 0x08));
  }
}

void cmd_exposure(const Command& c) {
  if (is(c.param, "point")) {
    uint8_t n = low8(to_int(c.value1));
    // Metering at a point only takes effect with auto exposure off; the two
    // are separate settings, so each goes out on its own.
    fprintf(stderr, "set auto exposure off\n");
    send_one(camera14(0x68, 0x00));
    fprintf(stderr, "set exposure point %d\n", n);
    send_one(camera14(0x32, n));
  } else if (is(c.param, "center")) {
    fprintf(stderr, "set auto exposure off\n");
    send_one(camera14(0x68, 0x00));
    fprintf(stderr, "set exposure to center\n");
    send_one(camera14(0x22, 0x00));
  } else if (is(c.param, "auto")) {
    if (is(c.value1, "lock")) {
      fprintf(stderr, "set auto exposure locked\n");
      send_one(camera14(0x68, 0x01));
    } else if (is(c.value1, "unlock")) {
      fprintf(stderr, "set auto exposure unlocked\n");
      send_one(camera14(0x68, 0x00));
    }
  }
}

void cmd_focus(const Command& c) {
  if (is(c.param, "type")) {
    if (is(c.value1, "mf"))
      camera_set_focus_type(0);
    else if (is(c.value1, "af"))
      camera_set_focus_type(1);
    else if (is(c.value1, "afunlim"))
      camera_set_focus_type(2);
  } else if (is(c.param, "point")) {
    float x = to_float(to_real(c.value1));
    float y = to_float(to_real(c.value2));
    camera_set_focus_type(1);
    camera_set_focus_point(x, y);
  } else if (is(c.param, "manual")) {
    int percent = to_int(c.value1);
    camera_set_focus_type(0);
    camera_set_manual_focus(percent);
  } else if (is(c.param, "mfa") || is(c.param, "afa")) {
    // One byte carries both assistants; keep the one not being set.
    int n = to_int(c.value1);
    uint32_t focus = link_state().focus_byte.load();
    uint32_t v;
    if (is(c.param, "mfa")) {
      fprintf(stderr, "set MF assistant to %d\n", n);
      v = static_cast<uint32_t>(n) | (focus & 2);
    } else {
      fprintf(stderr, "set AF assistant to %d\n", n);
      v = (focus & 1) | (static_cast<uint32_t>(n) * 2u);
    }
    send_one(camera14(0x9A, static_cast<uint8_t>(v & 0xFF)));
  } else if (is(c.param, "realtime")) {
    int n = to_int(c.value1);
    fprintf(stderr, "set Real-time AF to %d\n", n);
    send_one(gimbal_parameter(17, low8(n)));
  }
}

void cmd_position(const Command& c) {
  if (is(c.param, "move")) {
    gimbal_set_angles(to_int(c.value1), to_int(c.value2), 0);
  } else if (is(c.param, "moverel")) {
    // The viewer's tilt axis points the other way from the gimbal's.
    gimbal_pan_tilt_speed(to_int(c.value1), camera_wrap_neg(to_int(c.value2)));
    link_state().gimbal_stopped.store(0);
  } else if (is(c.param, "normal")) {
    fprintf(stderr, "set position normal\n");
    gimbal_position_preset(0);
  } else if (is(c.param, "selfie")) {
    fprintf(stderr, "set position selfie\n");
    gimbal_position_preset(1);
  }
}

void cmd_zoom(const Command& c) {
  int kind = to_int(c.param);
  int v = to_int(c.value1);
  LinkState& ls = link_state();
  if (kind == -1)
    camera_digital_zoom(camera_wrap_add(ls.digital_zoom_percent.load(), v));
  else if (kind == -2)
    ls.zoom_step.store(v);
  else if (kind == -3)
    camera_zoom_move(v);
  else
    camera_digital_zoom(v);
}

void cmd_orientation(const Command& c) {
  if (is(c.param, "lock")) {
    fprintf(stderr, "set orientation lock\n");
    link_state().wanted_orientation_lock.store(1);
  } else if (is(c.param, "unlock")) {
    fprintf(stderr, "set orientation unlock\n");
    link_state().wanted_orientation_lock.store(0);
  }
}

void cmd_scenemode(const Command& c) {
  static const struct {
    const char* name;
    uint8_t v;
  } kModes[] = {{"walk", 0x00}, {"sport", 0x02}, {"wearable", 0x03}};
  for (const auto& m : kModes) {
    if (is(c.param, m.name)) {
      fprintf(stderr, "set scene mode %s\n", m.name);
      send_one(gimbal_parameter(14, m.v));
      return;
    }
  }
}

void cmd_pitch(const Command& c) {
  if (is(c.param, "lock")) {
    fprintf(stderr, "set pitch lock\n");
    send_one(gimbal_parameter(15, 0x01));
  } else if (is(c.param, "unlock")) {
    fprintf(stderr, "set pitch unlock\n");
    send_one(gimbal_parameter(15, 0x00));
  }
}

void cmd_color(const Command& c) {
  static const struct {
    const char* name;
    uint8_t v;
  } kColors[] = {{"d-log", 0x17},       {"d-cinelike", 0x06}, {"none", 0x00},    {"art", 0x01},
                 {"black white", 0x04}, {"vivid", 0x05},      {"beach", 0x0E},   {"dream", 0x10},
                 {"classic", 0x12},     {"nostalgia", 0x13},  {"portrait", 0x07}};
  fprintf(stderr, "set color %s\n", c.param);
  for (const auto& k : kColors) {
    if (is(c.param, k.name)) {
      send_one(camera14(0x42, k.v));
      return;
    }
  }
}

void cmd_scene(const Command& c) {
  // Three key/length/value triples: 0x3A, 0x3C and 0x38.
  static const struct {
    const char* name;
    uint8_t a, b;
  } kScenes[] = {{"standard", 0x00, 0x00},
                 {"scenery", 0x01, 0x01},
                 {"soft", 0x00, 0xFF},
                 {"custom", 0x01, 0x00}};
  fprintf(stderr, "set image scene %s\n", c.param);
  for (const auto& s : kScenes) {
    if (is(c.param, s.name)) {
      send_one(camera_packet<23>(0x02, kCamera, 0x40, 0x00, 0x05,
                                 {0x03, 0x3A, 0x01, s.a, 0x3C, 0x01, 0x00, 0x38, 0x01, s.b}));
      return;
    }
  }
}

void cmd_wb(const Command& c) {
  fprintf(stderr, "set wb %s %s\n", c.param, c.value1);
  CameraPacket<15> p = camera_packet<15>(0x02, kCamera, 0x40, 0x02, 0x2C);
  if (is(c.param, "custom")) {
    // Colour temperature in steps of 100 K from 2000 K.
    long long q =
        (static_cast<long long>(to_int(c.value1)) - kCameraWbCustomMin) / kCameraWbCustomStep;
    if (q < 0) return;
    p[11] = kCameraWbCustomMode;
    p[12] = static_cast<uint8_t>((q + 20) & 0xFF);
    send_one(p);
    return;
  }
  for (const CameraWbPreset& w : kCameraWbPresets) {
    if (w.name == c.param) {
      p[11] = w.mode;
      p[12] = w.value;
      send_one(p);
      return;
    }
  }
}

int shot_format_of(const char* param) {
  if (is(param, "raw")) return 0;
  if (is(param, "jpg")) return 1;
  if (is(param, "jpg+raw")) return 2;
  return -1;
}

void cmd_shot(const Command& c) {
  int format = shot_format_of(c.param);
  if (format >= 0) camera_set_shot_format(format);
  camera_shutter_release(0);
}

void cmd_stopshot(const Command&) { camera_stop_interval(); }

void cmd_shotmode(const Command& c) {
  int format = shot_format_of(c.param);
  if (format >= 0) camera_set_shot_format(format);
}

CameraPacket<19> shot_type(std::initializer_list<uint8_t> payload) {
  return camera_packet<19>(0x02, kCamera, 0x40, 0x02, 0x6A, payload);
}

void cmd_shottype(const Command& c) {
  static const struct {
    const char* param;
    const char* value;
    uint8_t payload[6];
    int pano;  // second packet id 0x6E with this byte, -1 for none
  } kTypes[] = {
      {"single", "shot", {0x01, 0x01, 0x00, 0x01, 0x00, 0x00}, -1},
      {"single", "10s", {0x06, 0x01, 0x00, 0x01, 0x0A, 0x00}, -1},
      {"single", "hdr", {0x02, 0x01, 0x00, 0x01, 0x00, 0x00}, -1},
      {"multiple", "3shots", {0x04, 0x03, 0x00, 0x03, 0x01, 0x00}, -1},
      {"multiple", "5shots", {0x04, 0x05, 0x00, 0x05, 0x01, 0x00}, -1},
      {"multiple", "7shots", {0x04, 0x07, 0x00, 0x07, 0x01, 0x00}, -1},
      {"multiple", "aeb3", {0x05, 0x03, 0x00, 0x03, 0x01, 0x00}, -1},
      {"multiple", "aeb5", {0x05, 0x05, 0x00, 0x05, 0x01, 0x00}, -1},
      {"interval", "10s", {0x06, 0xFF, 0x00, 0xFF, 0x0A, 0x00}, -1},
      {"interval", "30s", {0x06, 0xFF, 0x00, 0xFF, 0x1E, 0x00}, -1},
      {"pano", "180", {0x07, 0xFF, 0x00, 0xFF, 0x0A, 0x00}, 0x05},
      {"pano", "360", {0x07, 0xFF, 0x00, 0xFF, 0x0A, 0x00}, 0x01},
      {"pano", "180self", {0x07, 0xFF, 0x00, 0xFF, 0x0A, 0x00}, 0x03},
      {"pano", "manual", {0x07, 0xFF, 0x00, 0xFF, 0x0A, 0x00}, 0x04},
      {"pano", "grid", {0x07, 0xFF, 0x00, 0xFF, 0x0A, 0x00}, 0x07},
  };
  fprintf(stderr, "set shot type %s %s\n", c.param, c.value1);
  if (is(c.param, "timelapse")) {
    // -1 keeps what the camera has now.
    int interval = to_int(c.value1);
    int duration = to_int(c.value2);
    if (interval == -1) interval = camera_hud_u16(HUD_TIMELAPSE_INTERVAL);
    if (duration == -1) duration = camera_hud_u16(HUD_TIMELAPSE_DURATION);
    fprintf(stderr, "set timelapse interval %d duration %d\n", interval, duration);
    send_one(shot_type({0x06, 0xFF, 0x02, 0xFF, 0x32, 0x00}));
    CameraPacket<28> t = camera_packet<28>(
        0x02, kCamera, 0x40, 0x02, 0x6C,
        {0x01, 0x04, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0xF9, 0xFF, 0x00, 0x00, 0x00, 0x00});
    camera_put_u16(t.data(), 14, static_cast<uint32_t>(interval) * 10u);  // tenths of a second
    camera_put_u16(t.data(), 16, static_cast<uint32_t>(duration));
    send_one(t);
    return;
  }
  for (const auto& k : kTypes) {
    if (!is(c.param, k.param) || !is(c.value1, k.value)) continue;
    const uint8_t* b = k.payload;
    send_one(shot_type({b[0], b[1], b[2], b[3], b[4], b[5]}));
    if (k.pano >= 0) send_one(camera14(0x6E, static_cast<uint8_t>(k.pano)));
    return;
  }
}

void cmd_record(const Command& c) {
  if (is(c.param, "start"))
    camera_record(1);
  else if (is(c.param, "stop"))
    camera_record(0);
}

void cmd_hystogram(const Command& c) {
  if (is(c.param, "1"))
    send_one(camera14(0x60, 0x01));
  else if (is(c.param, "0"))
    send_one(camera14(0x60, 0x00));
}

void cmd_video_mode(const Command& c) { camera_set_image_mode(c.param); }
void cmd_shutter(const Command& c) { camera_set_shutter(c.param); }
void cmd_aperture(const Command& c) { camera_set_aperture(to_float(to_real(c.param))); }

void cmd_iso(const Command& c) {
  for (const CameraIsoValue& v : kCameraIsoValues) {
    if (v.text == c.param) {
      camera_set_iso(v.iso);
      return;
    }
  }
}

void cmd_ev(const Command& c) { camera_set_ev(to_real(c.param)); }

void cmd_video_resolution(const Command& c) {
  static const struct {
    const char* text;
    int w, h, fps;
  } kModes[] = {
      {"4096x2160@25", 4096, 2160, 25},   {"4096x2160@24", 4096, 2160, 24},
      {"3840x2160@30", 3840, 2160, 30},   {"3840x2160@25", 3840, 2160, 25},
      {"3840x2160@24", 3840, 2160, 24},   {"2704x1520@30", 2704, 1520, 30},
      {"2704x1520@25", 2704, 1520, 25},   {"2704x1520@24", 2704, 1520, 24},
      {"1920x1080@60", 1920, 1080, 60},   {"1920x1080@50", 1920, 1080, 50},
      {"1920x1080@48", 1920, 1080, 48},   {"1920x1080@30", 1920, 1080, 30},
      {"1920x1080@25", 1920, 1080, 25},   {"1920x1080@24", 1920, 1080, 24},
      {"1280x720@60", 1280, 720, 60},     {"1280x720@50", 1280, 720, 50},
      {"1280x720@48", 1280, 720, 48},     {"1280x720@30", 1280, 720, 30},
      {"1280x720@25", 1280, 720, 25},     {"1280x720@24", 1280, 720, 24},
      {"1920x1080@120", 1920, 1080, 120},
  };
  for (const auto& m : kModes) {
    if (is(c.param, m.text)) {
      camera_set_video_resolution(m.w, m.h, m.fps);
      return;
    }
  }
}

void cmd_video_aspect(const Command& c) {
  fprintf(stderr, "set image aspect ratio %s\n", c.param);
  uint8_t v;
  if (is(c.param, "4:3"))
    v = 0x00;
  else if (is(c.param, "16:9"))
    v = 0x01;
  else
    return;
  send_one(camera_packet<15>(0x02, kCamera, 0x40, 0x02, 0x12, {0x00, v}));
  // The display process sizes its overlay for the aspect when it starts.
  shell_run("killall -q display &");
}

void cmd_video_std(const Command& c) {
  fprintf(stderr, "set video standard %s\n", c.param);
  uint8_t v;
  if (is(c.param, "PAL"))
    v = 0x00;
  else if (is(c.param, "NTSC"))
    v = 0x01;
  else
    return;
  CameraSendChain().send_times(camera14(0x66, v), 2);
}

void cmd_antiflicker(const Command& c) {
  fprintf(stderr, "set anti-flicker %s\n", c.param);
  if (is(c.param, "auto"))
    send_one(camera14(0x46, 0x00));
  else if (is(c.param, "50"))
    send_one(camera14(0x46, 0x01));
  else if (is(c.param, "60"))
    send_one(camera14(0x46, 0x02));
}

void cmd_calibratefocus(const Command&) {
  fprintf(stderr, "calibrate focus\n");
  send_one(camera_packet<16>(0x02, kCamera, 0x40, 0x02, 0xA4, {0x01, 0x01, 0x00}));
}

void cmd_formatmicrosd(const Command&) {
  fprintf(stderr, "format microSD card\n");
  send_one(camera_packet<13>(0x02, kCamera, 0x40, 0x02, 0x72));
}

void cmd_formatssd(const Command&) {
  fprintf(stderr, "format SSD card\n");
  CameraSendChain chain;
  chain.send(camera14(0xA1, 0x00));
  chain.send(camera_packet<14>(0x02, 0x07, 0x80, 0x00, 0x0E, {0x00}));
}

void cmd_zoomadjustedsmoothtrack(const Command& c) {
  int n = to_int(c.value1);
  fprintf(stderr, "set Zoom Adjusted Smoothtrack to %d\n", n);
  send_one(gimbal_parameter(16, low8(n)));
}

// One field of YYYYMMDDhhmmss, parsed by itself; characters past the end of
// a short text read as nothing.
int time_field(const char* text, size_t len, size_t from, size_t width) {
  char field[5] = {};
  for (size_t i = 0; i < width && from + i < len; i++) field[i] = text[from + i];
  return to_int(field);
}

void cmd_time(const Command& c) {
  size_t len = strlen(c.value1);
  int year = time_field(c.value1, len, 0, 4);
  int month = time_field(c.value1, len, 4, 2);
  int day = time_field(c.value1, len, 6, 2);
  int hour = time_field(c.value1, len, 8, 2);
  int minute = time_field(c.value1, len, 10, 2);
  int second = time_field(c.value1, len, 12, 2);
  link_state().time_from_local_clock.store(0);
  camera_set_datetime(hour, minute, second, day, month, year);
}

void cmd_resetcamera(const Command&) { camera_reset(); }
void cmd_power(const Command& c) { camera_set_power(c.param); }

// --- playback: the remote controller's playback buttons -----------------

using ButtonState = CameraPacket<23>;

constexpr ButtonState playback_state(std::initializer_list<uint8_t> state) {
  return camera_button_packet(0x00, kCamera, state);
}
constexpr ButtonState kNeutral = playback_state({0, 0, 0, 0, 0, 0x91, 0x0D, 0, 0});
static_assert(kNeutral[20] == 0x9C);

void wait_ms(uint32_t ms) { sleep_us(ms * 1000); }

void send_to(ButtonState p, uint8_t receiver) {
  p[5] = receiver;
  camera_send(p.data(), p.size());
}

// One cycle: the state to the camera, then to the gimbal (or the camera
// again), 10 ms after each. The pauses run whether or not the link is up.
void cycle(const ButtonState& state, uint8_t second_receiver = kGimbal) {
  send_to(state, kCamera);
  wait_ms(10);
  send_to(state, second_receiver);
  wait_ms(10);
}

void press(const ButtonState& state, int n, uint8_t second_receiver = kGimbal) {
  for (int i = 0; i < n; i++) cycle(state, second_receiver);
  wait_ms(100);
  for (int i = 0; i < n; i++) cycle(kNeutral);
}

// A long press: held, let go, held again, let go; five cycles per phase.
void long_sequence(const ButtonState& first, const ButtonState& third) {
  const struct {
    const ButtonState* state;
    uint32_t wait;
  } phases[] = {{&first, 100}, {&kNeutral, 2500}, {&third, 1200}, {&kNeutral, 0}};
  for (const auto& ph : phases) {
    for (int i = 0; i < 5; i++) cycle(*ph.state);
    if (ph.wait) wait_ms(ph.wait);
  }
}

constexpr ButtonState kSelectMode = playback_state({0, 0, 0x04, 0, 0, 0x91, 0x0D, 0, 0});
constexpr ButtonState kHoldA = playback_state({0, 0, 0, 0, 0, 0x91, 0x0F, 0, 0});

void cmd_playback(const Command& c) {
  static const struct {
    const char* name;
    ButtonState state;
  } kButtons[] = {
      {"enter", playback_state({0x03, 0, 0, 0, 0, 0x91, 0x0D, 0, 0})},
      {"exit", playback_state({0x01, 0, 0, 0, 0, 0x91, 0x0D, 0, 0})},
      {"list", playback_state({0, 0, 0, 0x08, 0, 0x91, 0x0D, 0, 0})},
      {"next", playback_state({0, 0, 0x20, 0, 0, 0x91, 0x0D, 0, 0})},
      {"prev", playback_state({0, 0, 0x40, 0, 0, 0x91, 0x0D, 0, 0})},
      {"selectmode", kSelectMode},
      {"selectall", playback_state({0, 0, 0, 0x20, 0, 0x91, 0x0D, 0xFD, 0})},
      {"deselectall", playback_state({0, 0, 0, 0x20, 0, 0x91, 0x0D, 0xFC, 0})},
  };
  constexpr ButtonState kCancel = playback_state({0, 0, 0x01, 0, 0, 0x91, 0x0D, 0, 0});
  constexpr ButtonState kPlay = playback_state({0, 0, 0x02, 0, 0, 0x91, 0x0D, 0, 0});
  constexpr ButtonState kBack = playback_state({0, 0, 0, 0x01, 0, 0x91, 0x0D, 0, 0});

  fprintf(stderr, "playback command: %s\n", c.param);
  for (const auto& b : kButtons) {
    if (is(c.param, b.name)) {
      press(b.state, 3);
      return;
    }
  }
  if (is(c.param, "cancel")) {
    press(kCancel, 5);
    press(kCancel, 3);
  } else if (is(c.param, "play")) {
    press(kPlay, 3, kCamera);
  } else if (is(c.param, "back")) {
    long_sequence(kBack, kHoldA);
  } else if (is(c.param, "delete")) {
    // Delete only works in the camera's selection state (4); enter it first.
    if (camera_hud_u8(HUD_PLAYBACK_STATE) != 4) {
      press(kSelectMode, 3);
      if (camera_hud_u8(HUD_PLAYBACK_STATE) != 4) return;
    }
    long_sequence(kHoldA, kPlay);
  }
}

// --- the vocabulary, in the order the words are tried -------------------

struct Word {
  const char* word;
  void (*run)(const Command&);
};

constexpr Word kVocabulary[] = {
    {"camera", cmd_camera},
    {"horizont", cmd_horizont},
    {"exposure", cmd_exposure},
    {"focus", cmd_focus},
    {"position", cmd_position},
    {"zoom", cmd_zoom},
    {"orientation", cmd_orientation},
    {"scenemode", cmd_scenemode},
    {"pitch", cmd_pitch},
    {"color", cmd_color},
    {"scene", cmd_scene},
    {"wb", cmd_wb},
    {"shot", cmd_shot},
    {"stopshot", cmd_stopshot},
    {"shotmode", cmd_shotmode},
    {"shottype", cmd_shottype},
    {"record", cmd_record},
    {"hystogram", cmd_hystogram},
    {"video_mode", cmd_video_mode},
    {"shutter", cmd_shutter},
    {"aperture", cmd_aperture},
    {"iso", cmd_iso},
    {"ev", cmd_ev},
    {"video_resolution", cmd_video_resolution},
    {"video_aspect", cmd_video_aspect},
    {"video_std", cmd_video_std},
    {"antiflicker", cmd_antiflicker},
    {"calibratefocus", cmd_calibratefocus},
    {"formatmicrosd", cmd_formatmicrosd},
    {"formatssd", cmd_formatssd},
    {"zoomadjustedsmoothtrack", cmd_zoomadjustedsmoothtrack},
    {"time", cmd_time},
    {"resetcamera", cmd_resetcamera},
    {"power", cmd_power},
    {"playback", cmd_playback},
};
static_assert(std::size(kVocabulary) == 35);

// A member that is not a JSON string (number, true, null, object) reads as
// absent: the envelope carries strings only, and a number's valuestring is
// null.
const char* member(const cJSON* root, const char* name) {
  const cJSON* item = cJSON_GetObjectItem(root, name);
  if (!cJSON_IsString(item) || !item->valuestring) return "";
  return item->valuestring;
}

}  // namespace

void camera_command_dispatch(const char* text, size_t length) {
  if (!text) return;
  // Never read past the caller's buffer, even when it holds no NUL.
  cJSON* root = cJSON_ParseWithLength(text, strnlen(text, length));
  if (!root) return;
  Command c{member(root, "cmd"), member(root, "param"), member(root, "value1"),
            member(root, "value2")};
  for (const Word& w : kVocabulary) {
    if (is(c.cmd, w.word)) {
      w.run(c);
      break;
    }
  }
  cJSON_Delete(root);
}
