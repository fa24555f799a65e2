// The daemon's whole configuration: one fixed-layout record of 1844 bytes.
//
// The layout is shared with local processes through /config_mem, so every
// offset is fixed and checked below. Fields are written by several threads
// (command workers, the RC controller, the supervisor, the video and CAN
// threads) while others read them: go through cfg_get/cfg_set for flags,
// bytes and ints (relaxed atomics on the Pi's whole-byte/whole-word stores)
// and through cfg_text_get/cfg_text_set for texts.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>

struct ConfigRecord {
  uint8_t disabled;                    // 0
  uint8_t camera_type;                 // 1
  uint8_t device_mode;                 // 2
  uint8_t cooperative_mode;            // 3
  uint8_t hdmi_enabled;                // 4
  uint8_t control_enabled;             // 5
  uint8_t disable_video_stream;        // 6
  uint8_t rc_input_enabled;            // 7
  char rc_input_mode[6];               // 8
  char rc2_input_mode[6];              // 14
  char rc_input_map[512];              // 20
  int32_t rc_input_speed_pan;          // 532
  int32_t rc_input_speed_tilt;         // 536
  int32_t rc_input_speed_dutch;        // 540
  int32_t rc_input_inverse_pan;        // 544
  int32_t rc_input_inverse_tilt;       // 548
  int32_t rc_input_inverse_dutch;      // 552
  uint8_t rc_input_abs;                // 556
  uint8_t rc_input_exp;                // 557
  uint8_t i2c_input_enabled;           // 558
  uint8_t pad0;                        // 559
  int32_t i2c_input_speed_pan;         // 560
  int32_t i2c_input_speed_tilt;        // 564
  int32_t i2c_input_speed_dutch;       // 568
  uint8_t osd_enabled;                 // 572
  uint8_t hud_enabled;                 // 573
  uint8_t internal_camera_enabled;     // 574
  uint8_t internal_camera_fullscreen;  // 575
  uint8_t focus_assistant_enabled;     // 576
  uint8_t osd_border_height;           // 577
  uint8_t osd_border_width;            // 578
  uint8_t osd_top_offset;              // 579
  uint8_t osd_bottom_offset;           // 580
  uint8_t video_hflip;                 // 581
  uint8_t video_vflip;                 // 582
  uint8_t video_fix;                   // 583
  uint8_t shield_enabled;              // 584
  uint8_t pad1[3];                     // 585
  int32_t shield_open;                 // 588
  int32_t shield_close;                // 592
  int32_t shield_timeout;              // 596, milliseconds (the file holds seconds)
  uint8_t apstate;                     // 600
  char ap_iface[10];                   // 601
  char ap_ssid[256];                   // 611
  char ap_psk[256];                    // 867
  uint8_t reserved0;                   // 1123
  int32_t ap_mode;                     // 1124
  int32_t ap_channel;                  // 1128
  char ap_country[10];                 // 1132
  char wifi_iface[10];                 // 1142
  char wifi_ssid[256];                 // 1152
  char wifi_psk[256];                  // 1408
  uint8_t reserved1[150];              // 1664
  char version[20];                    // 1814
  uint8_t reserved2[6];                // 1834
  uint8_t camera_connected;            // 1840
  uint8_t reserved3[3];                // 1841
};

static_assert(sizeof(ConfigRecord) == 1844);
static_assert(offsetof(ConfigRecord, rc_input_mode) == 8);
static_assert(offsetof(ConfigRecord, rc2_input_mode) == 14);
static_assert(offsetof(ConfigRecord, rc_input_map) == 20);
static_assert(offsetof(ConfigRecord, rc_input_speed_pan) == 532);
static_assert(offsetof(ConfigRecord, rc_input_inverse_dutch) == 552);
static_assert(offsetof(ConfigRecord, rc_input_abs) == 556);
static_assert(offsetof(ConfigRecord, i2c_input_enabled) == 558);
static_assert(offsetof(ConfigRecord, i2c_input_speed_pan) == 560);
static_assert(offsetof(ConfigRecord, i2c_input_speed_dutch) == 568);
static_assert(offsetof(ConfigRecord, osd_enabled) == 572);
static_assert(offsetof(ConfigRecord, focus_assistant_enabled) == 576);
static_assert(offsetof(ConfigRecord, osd_border_height) == 577);
static_assert(offsetof(ConfigRecord, osd_bottom_offset) == 580);
static_assert(offsetof(ConfigRecord, video_fix) == 583);
static_assert(offsetof(ConfigRecord, shield_enabled) == 584);
static_assert(offsetof(ConfigRecord, shield_open) == 588);
static_assert(offsetof(ConfigRecord, shield_timeout) == 596);
static_assert(offsetof(ConfigRecord, apstate) == 600);
static_assert(offsetof(ConfigRecord, ap_iface) == 601);
static_assert(offsetof(ConfigRecord, ap_ssid) == 611);
static_assert(offsetof(ConfigRecord, ap_psk) == 867);
static_assert(offsetof(ConfigRecord, ap_mode) == 1124);
static_assert(offsetof(ConfigRecord, ap_channel) == 1128);
static_assert(offsetof(ConfigRecord, ap_country) == 1132);
static_assert(offsetof(ConfigRecord, wifi_iface) == 1142);
static_assert(offsetof(ConfigRecord, wifi_ssid) == 1152);
static_assert(offsetof(ConfigRecord, wifi_psk) == 1408);
static_assert(offsetof(ConfigRecord, version) == 1814);
static_assert(offsetof(ConfigRecord, camera_connected) == 1840);

// The one in-process record; zeroed before main runs, usable at any time.
ConfigRecord* config_record();

// Relaxed whole-field access for flags, bytes and ints shared between threads.
template <typename T>
inline T cfg_get(const T& field) {
  return std::atomic_ref<T>(const_cast<T&>(field)).load(std::memory_order_relaxed);
}
template <typename T, typename V>
inline void cfg_set(T& field, V value) {
  std::atomic_ref<T>(field).store(static_cast<T>(value), std::memory_order_relaxed);
}

// Stores a text into a text field: at most max_chars characters (and never
// more than size-1), control characters below 0x20 removed so that no text
// can add a line to the configuration file, always NUL-terminated. Every
// writer of a text field goes through here.
void cfg_text_set(char* field, size_t size, const char* src, size_t max_chars = SIZE_MAX);

// Copies a text field out, bounded by both sizes; readers use this because a
// command worker may be rewriting the field at the same moment.
void cfg_text_get(char* dst, size_t dst_size, const char* field, size_t field_size);

// Convenience for fixed-size fields: CFG_TEXT_SET(rec->ap_ssid, "x").
#define CFG_TEXT_SET(field, src) cfg_text_set((field), sizeof(field), (src))
#define CFG_TEXT_GET(dst, field) cfg_text_get((dst), sizeof(dst), (field), sizeof(field))

// Maps /config_mem (created when missing, sized to one record).
ConfigRecord* config_shm_open();
// Makes shm (null: none) the copy that config_publish refreshes.
void config_shm_attach(ConfigRecord* shm);

// Copies the in-process record to /config_mem, when it is mapped, so that
// local processes see the current settings. Called after config_load and
// after every change of a setting.
void config_publish();

// The shared-memory names, "/" + prefix + "hud_mem" / "config_mem".
void config_shm_set_prefix(const char* prefix);
const char* config_shm_prefix();
