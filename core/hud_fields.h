// The HudBlock's fields, the one table every user of the layout comes from:
// the offset constants (core/hud_block.h), pqw-hud's JSON and --layout, and
// docs/hud-layout.md (checked by core/hud_layout_test.cc).
//
//   X(CONSTANT, offset, json_name, type, count, "writer", "meaning")
//
// type: u8 i8 u16 i16 u32 i32 f64 (little-endian), text (count bytes with a
// NUL), bytes/u8s/u16s/i16s/f64s (count elements). The writer is the folder
// of the daemon that writes the field, or the local process that does.
// A new field: one row here, then the code that writes it; regenerate the
// document with `pqw-hud --layout > docs/hud-layout.md`.
#pragma once

// clang-format off
#define PQW_HUD_FIELDS(X) \
  X(HUD_STARTED, 0, started, u8, 1, "app", "2 once the daemon has started") \
  X(HUD_PRODUCT, 1, product, text, 20, "app, link", "product name; 0 while control is off") \
  X(HUD_TELEMETRY_VALID, 129, telemetry_valid, u8, 1, "link", "1 once telemetry arrived; 0 when the link drops") \
  X(HUD_TELEMETRY_B44, 130, telemetry_b44, u8, 1, "link", "telemetry byte 44") \
  X(HUD_CLIENT_COUNT, 187, client_count, u8, 1, "viewer", "registered viewers") \
  X(HUD_LINK_UP_A, 188, link_up_a, u8, 1, "link", "1 while the camera link is up") \
  X(HUD_LINK_UP_B, 189, link_up_b, u8, 1, "link", "1 while the camera link is up") \
  X(HUD_VIDEO_CONNECTED, 190, video_connected, u8, 1, "viewer", "1 while video arrives") \
  X(HUD_LINK_STATUS, 191, link_status, text, 128, "link", "camera link status line") \
  X(HUD_VIDEO_STATUS, 319, video_status, text, 19, "viewer", "video status line") \
  X(HUD_VERSION, 605, version, text, 20, "app, link", "v.MAJOR.MINOR.PATCH; 0 while control is off") \
  X(HUD_OSD_ENABLED, 625, osd_enabled, u8, 1, "app, control", "setting osd_enabled") \
  X(HUD_HUD_ENABLED, 626, hud_enabled, u8, 1, "app, link", "setting hud_enabled") \
  X(HUD_INTCAM_ENABLED, 627, internal_camera_enabled, u8, 1, "app", "setting internal_camera_enabled") \
  X(HUD_INTCAM_FULLSCREEN, 628, internal_camera_fullscreen, u8, 1, "app, control", "setting internal_camera_fullscreen") \
  X(HUD_FOCUS_ASSISTANT, 629, focus_assistant_enabled, u8, 1, "app, control", "setting focus_assistant_enabled") \
  X(HUD_GIMBAL_TILT, 640, gimbal_tilt, f64, 1, "link", "gimbal tilt, radians") \
  X(HUD_GIMBAL_DUTCH, 648, gimbal_dutch, f64, 1, "link", "gimbal roll, radians") \
  X(HUD_GIMBAL_PAN, 656, gimbal_pan, f64, 1, "link", "gimbal pan, radians") \
  X(HUD_SIN_TILT, 664, sin_tilt, f64, 1, "link", "sine of the tilt") \
  X(HUD_COS_TILT, 672, cos_tilt, f64, 1, "link", "cosine of the tilt") \
  X(HUD_SIN_DUTCH, 680, sin_dutch, f64, 1, "link", "sine of the roll") \
  X(HUD_COS_DUTCH, 688, cos_dutch, f64, 1, "link", "cosine of the roll") \
  X(HUD_SIN_PAN, 696, sin_pan, f64, 1, "link", "sine of the pan") \
  X(HUD_COS_PAN, 704, cos_pan, f64, 1, "link", "cosine of the pan") \
  X(HUD_TILT_TEXT, 712, tilt_text, text, 10, "link", "tilt in degrees, text") \
  X(HUD_DUTCH_TEXT, 722, dutch_text, text, 10, "link", "roll in degrees, text") \
  X(HUD_PAN_TEXT, 732, pan_text, text, 10, "link", "pan in degrees, text") \
  X(HUD_GIMBAL_WRITING, 742, gimbal_writing, u8, 1, "link", "1 while the gimbal fields are being written") \
  X(HUD_FOCUS_POINT_X, 744, focus_point_x, f64, 1, "control", "focus point asked for, x (0..1)") \
  X(HUD_FOCUS_POINT_Y, 752, focus_point_y, f64, 1, "control", "focus point asked for, y (0..1)") \
  X(HUD_RC_STATE, 887, rc_state, i8, 1, "RC reader process; config clears", "RC receiver state; the RC controller acts only while 6") \
  X(HUD_RC_SHOW_CHANNELS, 888, rc_show_channels, u8, 1, "config", "1: the display shows the RC channels") \
  X(HUD_RC_CHANNELS, 890, rc_channels, u16s, 32, "RC reader process", "RC channel values") \
  X(HUD_RC_MAP, 954, rc_map, u8s, 32, "config", "RC function of each channel (from rc_input_map)") \
  X(HUD_RC_FUNC_PRESENT, 986, rc_func_present, i16s, 32, "RC reader process", "non-zero: the RC function has a channel") \
  X(HUD_RC_FUNC_CENTRED, 1056, rc_func_centred, f64s, 32, "RC reader process", "RC function value around its centre") \
  X(HUD_RC_FUNC_POSITION, 1312, rc_func_position, f64s, 32, "RC reader process", "RC function position") \
  X(HUD_RC_MENU, 1568, rc_menu, u8, 1, "display processes", "non-zero while the display menu owns the sticks") \
  X(HUD_MAILBOX, 1570, mailbox, text, 512, "display processes; viewer clears", "command text for the daemon (JSON, as from a viewer); cleared once taken") \
  X(HUD_CAMERA_STATUS, 2379, camera_status, u8, 1, "link", "telemetry byte 11") \
  X(HUD_TELEMETRY_B42, 2380, telemetry_b42, u8, 1, "link", "telemetry byte 42") \
  X(HUD_TELEMETRY_B13, 2381, telemetry_b13, u8, 1, "link", "telemetry byte 13") \
  X(HUD_TELEMETRY_U32_20, 2384, telemetry_u32_20, u32, 1, "link", "telemetry u32 at byte 20") \
  X(HUD_MSG22_VALUE, 2388, msg22_value, u32, 1, "link", "value of the 22-byte status record") \
  X(HUD_TELEMETRY_U32_24, 2392, telemetry_u32_24, u32, 1, "link", "telemetry u32 at byte 24") \
  X(HUD_TELEMETRY_U32_28, 2396, telemetry_u32_28, u32, 1, "link", "telemetry u32 at byte 28") \
  X(HUD_TELEMETRY_U16_40, 2400, telemetry_u16_40, u16, 1, "link", "telemetry u16 at byte 40") \
  X(HUD_GIMBAL_STATE, 2402, gimbal_state, u8, 1, "link", "1 while the gimbal is locked") \
  X(HUD_CAMERA_MODE, 2403, camera_mode, u8, 1, "link", "0 photo, 1 video") \
  X(HUD_CAMSTATE_U16_54, 2404, camstate_u16_54, u16, 1, "link", "camera state record u16 at byte 54") \
  X(HUD_CAMSTATE_B16, 2406, camstate_b16, u8, 1, "link", "camera state record byte 16") \
  X(HUD_CAMSTATE_B24, 2407, camstate_b24, u8, 1, "link", "camera state record byte 24") \
  X(HUD_CAMSTATE_B25, 2408, camstate_b25, u8, 1, "link", "camera state record byte 25") \
  X(HUD_CAMSTATE_B34, 2409, camstate_b34, u8, 1, "link", "camera state record byte 34") \
  X(HUD_CAMSTATE_B35, 2410, camstate_b35, u8, 1, "link", "camera state record byte 35") \
  X(HUD_EV_TENTHS, 2411, ev_tenths, i8, 1, "link", "exposure compensation, tenths of a stop") \
  X(HUD_CAMSTATE_B42, 2412, camstate_b42, u8, 1, "link", "camera state record byte 42") \
  X(HUD_CAMSTATE_U16_38, 2414, camstate_u16_38, i16, 1, "link", "camera state record u16 at byte 38") \
  X(HUD_CAMSTATE_B31, 2416, camstate_b31, u8, 1, "link", "camera state record byte 31") \
  X(HUD_CAMSTATE_B21, 2417, camstate_b21, u8, 1, "link", "camera state record byte 21") \
  X(HUD_CAMSTATE_B66_BIT0, 2418, camstate_b66_bit0, u8, 1, "link", "camera state record byte 66, bit 0") \
  X(HUD_CAMSTATE_B43, 2419, camstate_b43, u8, 1, "link", "camera state record byte 43") \
  X(HUD_CAMSTATE_U24_51, 2420, camstate_u24_51, u32, 1, "link", "camera state record u24 at byte 51") \
  X(HUD_SHUTTER_CODE, 2424, shutter_code, u32, 1, "link", "camera shutter code") \
  X(HUD_APERTURE, 2432, aperture, f64, 1, "link", "f-number") \
  X(HUD_CAMSTATE_B23, 2440, camstate_b23, u8, 1, "link", "camera state record byte 23") \
  X(HUD_CAMSTATE_B67, 2441, camstate_b67, u8, 1, "link", "camera state record byte 67") \
  X(HUD_FOCUS_RECEIVED, 2442, focus_received, u8, 1, "link", "1 once a focus record arrived") \
  X(HUD_FOCUS_MF_AVAILABLE, 2443, focus_mf_available, u8, 1, "link", "1 when manual focus is available") \
  X(HUD_FOCUS_B11_BIT2, 2444, focus_b11_bit2, u8, 1, "link", "focus record byte 11, bit 2") \
  X(HUD_FOCUS_POSITION, 2445, focus_position, u8, 1, "link", "focus position, percent") \
  X(HUD_FOCUS_VALUE, 2448, focus_value, f64, 1, "link", "focus value") \
  X(HUD_CAM_FOCUS_X, 2456, cam_focus_x, f64, 1, "link", "focus point the camera reports, x") \
  X(HUD_CAM_FOCUS_Y, 2464, cam_focus_y, f64, 1, "link", "focus point the camera reports, y") \
  X(HUD_FOCUS_B32, 2472, focus_b32, u8, 1, "link", "focus record byte 32") \
  X(HUD_CONTINUOUS_AF, 2473, continuous_af, u8, 1, "control, link", "1 while continuous autofocus is on") \
  X(HUD_RECORD64, 2475, record64, bytes, 64, "link", "the 64-byte record as it came") \
  X(HUD_RECORD64_TIME, 2604, record64_time, u32, 1, "link", "time the 64-byte record came, ms") \
  X(HUD_PLAYBACK_STATE, 2608, playback_state, u8, 1, "link", "playback state") \
  X(HUD_MSG54_VALUES, 2610, msg54_values, u16s, 5, "link", "values of the 54-byte record") \
  X(HUD_MSG52_U16_25, 2620, msg52_u16_25, u16, 1, "link", "52-byte record u16 at byte 25") \
  X(HUD_MSG52_U16_12, 2622, msg52_u16_12, u16, 1, "link", "52-byte record u16 at byte 12") \
  X(HUD_MSG52_B11, 2624, msg52_b11, u8, 1, "link", "52-byte record byte 11") \
  X(HUD_BEACON_BIT6, 2625, beacon_bit6, u8, 1, "display processes", "bit 0 becomes beacon flag bit 6") \
  X(HUD_BEACON_BIT7, 2626, beacon_bit7, u8, 1, "display processes", "bit 0 becomes beacon flag bit 7") \
  X(HUD_CAPTURE_MODE, 2627, capture_mode, u8, 1, "link", "capture mode") \
  X(HUD_CAPTURE_SUBMODE, 2628, capture_submode, u8, 1, "link", "capture sub-mode") \
  X(HUD_TIMELAPSE_INTERVAL, 2630, timelapse_interval, u16, 1, "link", "time-lapse interval") \
  X(HUD_TIMELAPSE_DURATION, 2632, timelapse_duration, u16, 1, "link", "time-lapse duration") \
  X(HUD_SHIELD_CLOSED, 2636, shield_closed, u32, 1, "periph", "1 while the lens shield is closed") \
  X(HUD_TIME_SOURCE_STATE, 2640, time_source_state, i32, 1, "time source process", "time source state; above 1 its value sets the camera clock") \
  X(HUD_TIME_SOURCE_VALUE, 2672, time_source_value, f64, 1, "time source process", "time source value (Unix seconds)") \
  X(HUD_MEDIA_TEXT, 2682, media_text, text, 40, "periph", "newest file on the camera card")
// clang-format on
