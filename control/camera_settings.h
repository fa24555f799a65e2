// Camera settings: EV, focus type, ISO, shutter, aperture, focus point,
// manual focus, image mode, power, reset.
#pragma once

#include <cstdint>

void camera_set_ev(double ev);
void camera_set_focus_type(int type);  // 0 MF, 1 AF, 2 AF unlimited
void camera_set_iso(int32_t iso);
void camera_set_shutter(const char* text);
void camera_set_aperture(float f_number);
void camera_set_focus_point(float x, float y);
void camera_set_manual_focus(double percent);
void camera_set_image_mode(const char* mode);
void camera_set_power(const char* state);
void camera_reset();

// The 24-bit shutter code of one of the camera's 57 shutter texts, sent low
// byte first: "30s" -> 1E 00 00, "1.67" -> 01 80 43, "8000" -> 40 9F 00;
// any other text ("1/1000") -> 0.
uint32_t shutter_code(const char* text);
