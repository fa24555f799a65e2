// The daemon's published state: 2728 bytes in POSIX shared memory
// ("/hud_mem"), read by the display processes and partly written by them.
//
// Several fields are not naturally aligned and other processes and threads
// touch them at any time, so nothing here is a struct: every field is an
// offset into the block, and every access goes through the helpers below,
// which read and write byte by byte (relaxed atomics, little-endian), so no
// misaligned pointer is ever formed and no half-written byte is ever seen.
#pragma once

#include <cstddef>
#include <cstdint>

inline constexpr size_t kHudSize = 2728;

// Offsets (width in the comment). Owners are the subsystems named.
enum HudOffset : size_t {
  HUD_STARTED = 0,                // 1, set to 2 at start-up
  HUD_PRODUCT = 1,                // 20 text "Pelquarinthos Wired"
  HUD_TELEMETRY_VALID = 129,      // 1
  HUD_TELEMETRY_B44 = 130,        // 1
  HUD_CLIENT_COUNT = 187,         // 1
  HUD_LINK_UP_A = 188,            // 1
  HUD_LINK_UP_B = 189,            // 1
  HUD_VIDEO_CONNECTED = 190,      // 1
  HUD_LINK_STATUS = 191,          // 128 text
  HUD_VIDEO_STATUS = 319,         // 19 text
  HUD_VERSION = 605,              // 20 text "v.0.14.11"
  HUD_OSD_ENABLED = 625,          // 1
  HUD_HUD_ENABLED = 626,          // 1
  HUD_INTCAM_ENABLED = 627,       // 1
  HUD_INTCAM_FULLSCREEN = 628,    // 1
  HUD_FOCUS_ASSISTANT = 629,      // 1
  HUD_GIMBAL_TILT = 640,          // f64 radians
  HUD_GIMBAL_DUTCH = 648,         // f64
  HUD_GIMBAL_PAN = 656,           // f64
  HUD_SIN_TILT = 664,             // f64
  HUD_COS_TILT = 672,             // f64
  HUD_SIN_DUTCH = 680,            // f64
  HUD_COS_DUTCH = 688,            // f64
  HUD_SIN_PAN = 696,              // f64
  HUD_COS_PAN = 704,              // f64
  HUD_TILT_TEXT = 712,            // 10 text
  HUD_DUTCH_TEXT = 722,           // 10 text
  HUD_PAN_TEXT = 732,             // 10 text
  HUD_GIMBAL_WRITING = 742,       // 1
  HUD_FOCUS_POINT_X = 744,        // f64
  HUD_FOCUS_POINT_Y = 752,        // f64
  HUD_RC_STATE = 887,             // i8, the RC controller acts only while 6
  HUD_RC_SHOW_CHANNELS = 888,     // 1
  HUD_RC_CHANNELS = 890,          // 32 x u16
  HUD_RC_MAP = 954,               // 32 x u8
  HUD_RC_FUNC_PRESENT = 986,      // 32 x i16
  HUD_RC_FUNC_CENTRED = 1056,     // 32 x f64
  HUD_RC_FUNC_POSITION = 1312,    // 32 x f64
  HUD_RC_MENU = 1568,             // 1
  HUD_MAILBOX = 1570,             // 512 text
  HUD_CAMERA_STATUS = 2379,       // 1, telemetry byte 11
  HUD_TELEMETRY_B42 = 2380,       // 1
  HUD_TELEMETRY_B13 = 2381,       // 1
  HUD_TELEMETRY_U32_20 = 2384,    // u32
  HUD_MSG22_VALUE = 2388,         // u32
  HUD_TELEMETRY_U32_24 = 2392,    // u32
  HUD_TELEMETRY_U32_28 = 2396,    // u32
  HUD_TELEMETRY_U16_40 = 2400,    // u16
  HUD_GIMBAL_STATE = 2402,        // 1
  HUD_CAMERA_MODE = 2403,         // 1, 0 photo 1 video
  HUD_CAMSTATE_U16_54 = 2404,     // u16
  HUD_CAMSTATE_B16 = 2406,        // 1
  HUD_CAMSTATE_B24 = 2407,        // 1 video format
  HUD_CAMSTATE_B25 = 2408,        // 1 video format
  HUD_CAMSTATE_B34 = 2409,        // 1
  HUD_CAMSTATE_B35 = 2410,        // 1
  HUD_EV_TENTHS = 2411,           // i8
  HUD_CAMSTATE_B42 = 2412,        // 1
  HUD_CAMSTATE_U16_38 = 2414,     // i16
  HUD_CAMSTATE_B31 = 2416,        // 1
  HUD_CAMSTATE_B21 = 2417,        // 1
  HUD_CAMSTATE_B66_BIT0 = 2418,   // 1
  HUD_CAMSTATE_B43 = 2419,        // 1
  HUD_CAMSTATE_U24_51 = 2420,     // u32
  HUD_SHUTTER_CODE = 2424,        // u32
  HUD_APERTURE = 2432,            // f64
  HUD_CAMSTATE_B23 = 2440,        // 1
  HUD_CAMSTATE_B67 = 2441,        // 1
  HUD_FOCUS_RECEIVED = 2442,      // 1
  HUD_FOCUS_MF_AVAILABLE = 2443,  // 1
  HUD_FOCUS_B11_BIT2 = 2444,      // 1
  HUD_FOCUS_POSITION = 2445,      // 1 percent
  HUD_FOCUS_VALUE = 2448,         // f64
  HUD_CAM_FOCUS_X = 2456,         // f64
  HUD_CAM_FOCUS_Y = 2464,         // f64
  HUD_FOCUS_B32 = 2472,           // 1
  HUD_CONTINUOUS_AF = 2473,       // 1
  HUD_RECORD64 = 2475,            // 64 bytes
  HUD_RECORD64_TIME = 2604,       // u32
  HUD_PLAYBACK_STATE = 2608,      // 1
  HUD_MSG54_VALUES = 2610,        // 5 x u16
  HUD_MSG52_U16_25 = 2620,        // u16
  HUD_MSG52_U16_12 = 2622,        // u16
  HUD_MSG52_B11 = 2624,           // 1
  HUD_BEACON_BIT6 = 2625,         // 1
  HUD_BEACON_BIT7 = 2626,         // 1
  HUD_CAPTURE_MODE = 2627,        // 1
  HUD_CAPTURE_SUBMODE = 2628,     // 1
  HUD_TIMELAPSE_INTERVAL = 2630,  // u16
  HUD_TIMELAPSE_DURATION = 2632,  // u16
  HUD_SHIELD_CLOSED = 2636,       // u32
  HUD_TIME_SOURCE_STATE = 2640,   // i32
  HUD_TIME_SOURCE_VALUE = 2672,   // f64
  HUD_MEDIA_TEXT = 2682,          // 40 text
};

static_assert(HUD_MEDIA_TEXT + 40 <= kHudSize);
static_assert(HUD_MAILBOX + 512 <= HUD_CAMERA_STATUS);
static_assert(HUD_RC_FUNC_POSITION + 256 == HUD_RC_MENU);
static_assert(HUD_RC_FUNC_CENTRED + 256 == HUD_RC_FUNC_POSITION);
static_assert(HUD_RC_CHANNELS + 64 == HUD_RC_MAP);
static_assert(HUD_RC_MAP + 32 == HUD_RC_FUNC_PRESENT);
static_assert(HUD_LINK_STATUS + 128 == HUD_VIDEO_STATUS);
static_assert(HUD_RECORD64 + 64 <= HUD_RECORD64_TIME);

// Maps "/hud_mem" (created with mode 0600 and sized when missing; an existing
// block is reused as it is) and returns the mapping.
uint8_t* hud_shm_open();
// hud_shm_open, then holds the mapping as the process-wide pointer.
void hud_init();
// The process-wide pointer (null before hud_init unless a test set one).
uint8_t* hud_block();
// Tests and tools point the process at a block of their own.
void hud_set_block(uint8_t* block);

// Field access. All take the block explicitly so that tests can use their own.
uint8_t hud_get_u8(const uint8_t* hud, size_t off);
void hud_set_u8(uint8_t* hud, size_t off, uint8_t v);
int8_t hud_get_i8(const uint8_t* hud, size_t off);
uint16_t hud_get_u16(const uint8_t* hud, size_t off);
void hud_set_u16(uint8_t* hud, size_t off, uint16_t v);
int16_t hud_get_i16(const uint8_t* hud, size_t off);
uint32_t hud_get_u32(const uint8_t* hud, size_t off);
void hud_set_u32(uint8_t* hud, size_t off, uint32_t v);
int32_t hud_get_i32(const uint8_t* hud, size_t off);
double hud_get_f64(const uint8_t* hud, size_t off);
void hud_set_f64(uint8_t* hud, size_t off, double v);
// Copies n raw bytes in or out.
void hud_write(uint8_t* hud, size_t off, const void* src, size_t n);
void hud_read(const uint8_t* hud, size_t off, void* dst, size_t n);
// Texts: copied with at most width-1 characters and a NUL.
void hud_set_text(uint8_t* hud, size_t off, size_t width, const char* text);
void hud_get_text(const uint8_t* hud, size_t off, size_t width, char* dst, size_t dst_size);
// Fills n bytes with one value.
void hud_fill(uint8_t* hud, size_t off, uint8_t v, size_t n);
