// Stand-ins until the camera operations and the dispatcher land.
#include "control/camera_dispatch.h"
#include "control/camera_ops.h"
#include "control/camera_settings.h"

void gimbal_speed(int, int, int) {}
void gimbal_wanted_lock_set(uint8_t) {}
void gimbal_button_press(int) {}
void gimbal_set_angles(int, int, int) {}
void gimbal_pan_tilt_speed(int, int) {}
void gimbal_dutch_speed(int) {}
void gimbal_attitude_rc(int, int) {}
void gimbal_attitude_set(float, float, float, float) {}
void camera_digital_zoom(int) {}
void camera_zoom_move(int) {}
void viewer_motion_command(int, int, int) {}
void gimbal_position_preset(int) {}
void camera_set_capture_mode(int) {}
void camera_shoot() {}
void camera_set_video_resolution(int, int, int) {}
void camera_record(int) {}
void camera_set_shot_format(int) {}
void camera_stop_interval() {}
void camera_shutter_release(int) {}
void stop_shot() {}
std::atomic<int32_t> camera_last_digital_zoom{-1};
std::atomic<uint8_t> attitude_from_rc{1};

void camera_set_ev(double) {}
void camera_set_focus_type(int) {}
void camera_set_iso(int32_t) {}
void camera_set_shutter(const char*) {}
void camera_set_aperture(float) {}
void camera_set_focus_point(float, float) {}
void camera_set_manual_focus(double) {}
void camera_set_image_mode(const char*) {}
void camera_set_power(const char*) {}
void camera_reset() {}
uint32_t shutter_code(const char*) { return 0; }

void camera_command_dispatch(const char*, size_t) {}
