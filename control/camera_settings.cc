// Camera settings: exposure compensation, focus type, ISO, shutter speed,
// aperture, focus point, manual focus, exposure program, power and reset.
// One or two packets each to the camera (sender 0x02, type 0x40, set 0x02),
// sent only while the link is up; the camera reports the result later in its
// status packets.
#include "control/camera_settings.h"

#include <cmath>
#include <cstdio>
#include <cstring>
#include <limits>
#include <string_view>

#include "core/hud_block.h"
#include "control/camera_hud.h"
#include "control/camera_packet.h"
#include "control/camera_vocabulary.h"

namespace {

constexpr uint8_t kCamera = 0x01;

constexpr CameraPacket<14> setting14(uint8_t id) {
  return camera_packet<14>(0x02, kCamera, 0x40, 0x02, id);
}
constexpr CameraPacket<15> setting15(uint8_t id) {
  return camera_packet<15>(0x02, kCamera, 0x40, 0x02, id);
}

constexpr auto kEv = setting14(0x2E);
constexpr auto kFocusType = setting14(0x24);
constexpr auto kFocusContinuous = setting14(0xFA);
constexpr auto kIso = setting14(0x2A);
constexpr auto kShutter = camera_packet<17>(0x02, kCamera, 0x40, 0x02, 0x28, {0x01});
constexpr auto kAperture = setting15(0x26);
constexpr auto kFocusPoint = camera_packet<21>(0x02, kCamera, 0x40, 0x02, 0x30);
constexpr auto kManualFocus = setting15(0x95);
constexpr auto kImageMode = setting15(0x1E);
constexpr auto kPower = camera_packet<14>(0x02, 0x09, 0x40, 0x09, 0x51);
constexpr auto kReset = setting14(0x78);

// Float to int32 as the Pi's conversion does it: toward zero, saturating,
// NaN to 0. Viewer texts can carry any number; a plain cast of an
// out-of-range value is undefined.
int32_t trunc_i32(double v) {
  if (std::isnan(v)) return 0;
  if (v >= 2147483647.0) return std::numeric_limits<int32_t>::max();
  if (v <= -2147483648.0) return std::numeric_limits<int32_t>::min();
  return static_cast<int32_t>(v);
}

void put_f32(uint8_t* p, size_t off, float v) { std::memcpy(p + off, &v, sizeof v); }

const char* text_or_empty(const char* s) { return s ? s : ""; }

}  // namespace

uint32_t shutter_code(const char* text) {
  if (!text) return 0;
  std::string_view t(text);
  for (std::string_view entry : kCameraShutterTexts) {
    if (entry == t) return camera_shutter_code_of(entry);
  }
  return 0;
}

void camera_set_ev(double ev) {
  fprintf(stderr, "set EV %1.1f\n", ev);
  for (size_t i = 0; i < std::size(kCameraEvTenths); i++) {
    if (ev == kCameraEvTenths[i] / 10.0) {
      CameraPacket<14> p = kEv;
      p[11] = static_cast<uint8_t>(0x19 - i);
      camera_send(p.data(), p.size());
      return;
    }
  }
}

void camera_set_focus_type(int type) {
  if (type == 0) {
    // The camera refuses MF while its lens reports no manual focus.
    if (camera_hud_u8(HUD_FOCUS_MF_AVAILABLE) == 0) return;
    fprintf(stderr, "set focus type MF\n");
    CameraPacket<14> p = kFocusType;
    p[11] = 0x00;
    camera_send(p.data(), p.size());
    return;
  }
  if (type == 1) {
    fprintf(stderr, "set focus type AF\n");
    // Until the camera has reported a focus point the HUD shows the centre.
    double x = camera_hud_f64(HUD_CAM_FOCUS_X);
    double y = camera_hud_f64(HUD_CAM_FOCUS_Y);
    camera_hud_set_f64(HUD_FOCUS_POINT_X, x == 0.0 ? 0.5 : x);
    camera_hud_set_f64(HUD_FOCUS_POINT_Y, y == 0.0 ? 0.5 : y);
    camera_hud_set_u8(HUD_CONTINUOUS_AF, 0);
  } else if (type == 2) {
    fprintf(stderr, "set focus type AF unlim\n");
    camera_hud_set_u8(HUD_CONTINUOUS_AF, 1);
  } else {
    return;
  }
  CameraPacket<14> af = kFocusType;
  af[11] = 0x01;
  CameraPacket<14> continuous = kFocusContinuous;
  continuous[11] = type == 2 ? 0x01 : 0x00;
  CameraSendChain chain;
  chain.send(af);
  chain.send(continuous);
}

void camera_set_iso(int32_t iso) {
  fprintf(stderr, "set iso %d\n", iso);
  uint8_t code = 0;  // automatic
  for (const CameraIsoValue& v : kCameraIsoValues) {
    if (v.iso == iso) code = v.code;
  }
  CameraPacket<14> p = kIso;
  p[11] = code;
  camera_send(p.data(), p.size());
}

void camera_set_shutter(const char* text) {
  text = text_or_empty(text);
  fprintf(stderr, "set shutter %s\n", text);
  CameraPacket<17> p = kShutter;
  uint32_t code = shutter_code(text);
  p[12] = static_cast<uint8_t>(code & 0xFF);
  p[13] = static_cast<uint8_t>((code >> 8) & 0xFF);
  p[14] = static_cast<uint8_t>((code >> 16) & 0xFF);
  camera_send(p.data(), p.size());
}

void camera_set_aperture(float f_number) {
  fprintf(stderr, "set aperture %1.2f\n", f_number);
  int32_t hundredths = trunc_i32(static_cast<double>(f_number * 100.0f));
  CameraPacket<15> p = kAperture;
  camera_put_u16(p.data(), 11, static_cast<uint32_t>(hundredths));
  camera_send(p.data(), p.size());
}

void camera_set_focus_point(float x, float y) {
  CameraPacket<21> p = kFocusPoint;
  put_f32(p.data(), 11, x);
  put_f32(p.data(), 15, y);
  camera_send(p.data(), p.size());
}

void camera_set_manual_focus(double percent) {
  int32_t range = static_cast<int32_t>(link_state().focus_range.load());
  if (range == 0) return;  // the camera has not told us its focus range yet
  int32_t position = trunc_i32(range * percent / 100.0);
  fprintf(stderr, "set manual focus %d (%1.2f%%)\n", position, percent);
  CameraPacket<15> p = kManualFocus;
  camera_put_u16(p.data(), 11, static_cast<uint32_t>(position));
  camera_send(p.data(), p.size());
}

void camera_set_image_mode(const char* mode) {
  mode = text_or_empty(mode);
  fprintf(stderr, "set image mode %s\n", mode);
  for (uint8_t i = 0; i < std::size(kCameraImageModes); i++) {
    if (kCameraImageModes[i] == mode) {
      CameraPacket<15> p = kImageMode;
      p[11] = static_cast<uint8_t>(i + 1);
      camera_send(p.data(), p.size());
      return;
    }
  }
}

void camera_set_power(const char* state) {
  state = text_or_empty(state);
  fprintf(stderr, "Power set %s\n", state);
  static const char* const kStates[] = {"sleep", "wakeup", "restart", "shutdown"};
  for (uint8_t i = 0; i < 4; i++) {
    if (strcmp(state, kStates[i]) == 0) {
      CameraPacket<14> p = kPower;
      p[11] = static_cast<uint8_t>(i + 1);
      camera_send(p.data(), p.size());
      return;
    }
  }
}

void camera_reset() {
  CameraPacket<14> p = kReset;
  camera_send(p.data(), p.size());
}
