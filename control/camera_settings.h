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

// The 24-bit shutter code of a shutter text ("1/8000", "30", ...); 0 when unknown.
uint32_t shutter_code(const char* text);
