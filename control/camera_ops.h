// Camera and gimbal operations: gimbal speed, angles, attitude, presets,
// zoom, capture mode, shooting, recording, shot format, video resolution.
// Each copies fixed packet templates, patches them and sends them with
// link_send while link_up is set.
#pragma once

#include <atomic>
#include <cstdint>

void gimbal_speed(int pan, int tilt, int dutch);
void gimbal_wanted_lock_set(uint8_t v);
void gimbal_button_press(int lock);
void gimbal_set_angles(int pan, int tilt, int dutch);
void gimbal_pan_tilt_speed(int pan, int tilt);
void gimbal_dutch_speed(int dutch);
void gimbal_attitude_rc(int a, int b);
void gimbal_attitude_set(float q0, float q1, float q2, float q3);
void camera_digital_zoom(int percent);
void camera_zoom_move(int speed);
void viewer_motion_command(int kind, int a, int b);
void gimbal_position_preset(int which);
void camera_set_capture_mode(int mode);
void camera_shoot();
void camera_set_video_resolution(int width, int height, int fps);
void camera_record(int start);
void camera_set_shot_format(int format);
void camera_stop_interval();
void camera_shutter_release(int arg);
void stop_shot();

// Flags outside LinkState: the last digital zoom value (-1 at start) and
// attitude_from_rc (1 at start; gimbal_attitude_set clears it).
extern std::atomic<int32_t> camera_last_digital_zoom;
extern std::atomic<uint8_t> attitude_from_rc;
// Tests: the two values above as at process start.
void camera_ops_reset();
