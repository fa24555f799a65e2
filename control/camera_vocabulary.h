// The values the viewer's camera commands accept, in one place: the command
// dispatcher and the camera settings build packets from these tables, and
// pqw-web offers exactly these values in its pickers and names the camera's
// reported codes with them.
#pragma once

#include <cstddef>
#include <cstdint>
#include <iterator>
#include <string_view>

// "iso": the text and the camera's ISO code (byte 16 of its state packet).
struct CameraIsoValue {
  std::string_view text;
  int iso;  // 0 automatic
  uint8_t code;
};
inline constexpr CameraIsoValue kCameraIsoValues[] = {
    {"auto", 0, 0},  {"100", 100, 3},   {"200", 200, 4},   {"400", 400, 5},
    {"800", 800, 6}, {"1600", 1600, 7}, {"3200", 3200, 8}, {"6400", 6400, 9},
};

// "shutter": the speeds the camera knows, as the viewer spells them: "Ns" for
// whole seconds, a bare N for 1/N second.
inline constexpr std::string_view kCameraShutterTexts[] = {
    "30s",  "25s",  "20s",  "15s",  "10s",  "9s",   "8s",   "7s",   "6s",  "5s",  "4s",  "3.2s",
    "3s",   "2.5s", "2s",   "1.6s", "1.3s", "1s",   "1.25", "1.67", "2",   "2.5", "3",   "4",
    "5",    "6.25", "8",    "10",   "12.5", "15",   "20",   "25",   "30",  "40",  "50",  "60",
    "80",   "100",  "120",  "160",  "200",  "240",  "320",  "400",  "500", "640", "800", "1000",
    "1250", "1600", "2000", "2500", "3200", "4000", "5000", "6400", "8000"};
static_assert(std::size(kCameraShutterTexts) == 57);

// The camera's 24-bit shutter code of a text: bits 0-14 whole part, bit 15
// reciprocal (no trailing "s"), bits 16-23 the digits after the point read as
// a number.
constexpr uint32_t camera_shutter_code_of(std::string_view t) {
  uint32_t whole = 0, frac = 0;
  size_t i = 0;
  for (; i < t.size() && t[i] >= '0' && t[i] <= '9'; i++)
    whole = whole * 10 + static_cast<uint32_t>(t[i] - '0');
  if (i < t.size() && t[i] == '.') {
    for (i++; i < t.size() && t[i] >= '0' && t[i] <= '9'; i++)
      frac = frac * 10 + static_cast<uint32_t>(t[i] - '0');
  }
  bool seconds = i < t.size() && t[i] == 's';
  return (whole & 0x7FFF) | (seconds ? 0 : 0x8000u) | ((frac & 0xFF) << 16);
}
static_assert(camera_shutter_code_of("30s") == 0x00001E &&
              camera_shutter_code_of("1.67") == 0x438001 &&
              camera_shutter_code_of("8000") == 0x009F40 &&
              camera_shutter_code_of("3.2s") == 0x020003);

// "ev": exposure compensation in tenths, +3.0 down to -3.0 in thirds of a
// stop; the camera's code is 0x19 minus the index.
inline constexpr int kCameraEvTenths[] = {30, 27, 23,  20,  17,  13,  10,  7,   3,  0,
                                          -3, -7, -10, -13, -17, -20, -23, -27, -30};

// "wb": the presets and their two bytes (mode, value); "custom" takes a
// colour temperature from kCameraWbCustomMin in steps of kCameraWbCustomStep,
// sent as mode 6 with value 20 + steps (one byte).
struct CameraWbPreset {
  std::string_view name;
  uint8_t mode, value;
};
inline constexpr CameraWbPreset kCameraWbPresets[] = {{"auto", 0x00, 0x44},
                                                      {"sunny", 0x01, 0x30},
                                                      {"cloudy", 0x02, 0x40},
                                                      {"incandescent", 0x04, 0x44},
                                                      {"neon", 0x05, 0x19}};
inline constexpr int kCameraWbCustomMin = 2000;
inline constexpr int kCameraWbCustomStep = 100;
inline constexpr uint8_t kCameraWbCustomMode = 0x06;
// The value byte holds 20 + steps: above this the byte wraps.
inline constexpr int kCameraWbCustomMax = kCameraWbCustomMin + (255 - 20) * kCameraWbCustomStep;

// "aperture": the f-numbers the lens takes, in tenths (1.7 .. 16); the camera
// reports one of these as hundredths.
inline constexpr int kCameraApertureTenths[] = {17, 18, 20, 22, 25, 28,  32,  35,  40,  45, 50,
                                                56, 63, 71, 80, 90, 100, 110, 130, 140, 160};
static_assert(std::size(kCameraApertureTenths) == 21);

// "video_mode": the exposure programs, sent as index + 1.
inline constexpr std::string_view kCameraImageModes[] = {"auto", "shutter", "aperture", "manual"};
