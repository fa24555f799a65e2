// LinkState: the link-wide record shared by the senders, the incoming packet
// handler and the input threads. Every field is a plain atomic: threads read
// and write them without a lock, one whole field at a time.
#pragma once

#include <atomic>
#include <cstdint>
#include <pthread.h>

struct ConfigRecord;

struct LinkState {
  std::atomic<uint32_t> sequence{0};
  ConfigRecord* config = nullptr;
  std::atomic<uint32_t> mode{0};  // 0 Osmo, 1 Inspire
  std::atomic<uint8_t> link_up{0};
  std::atomic<uint32_t> last_gimbal_command_time{0};
  uint8_t* hud = nullptr;
  std::atomic<uint32_t> last_data_time{0};
  std::atomic<uint32_t> cooperative{0};

  // Camera and gimbal operations.
  std::atomic<uint8_t> wanted_orientation_lock{0};
  std::atomic<uint32_t> button_divider{0};
  std::atomic<uint8_t> gimbal_stopped{0};
  std::atomic<int32_t> pan_target{0};
  std::atomic<int32_t> tilt_target{0};
  std::atomic<int32_t> dutch_target{0};
  std::atomic<int32_t> zoom_step{0};
  std::atomic<int32_t> digital_zoom_percent{0};
  std::atomic<int32_t> zoom_speed{0};
  std::atomic<int32_t> rc_pan_share{0};
  std::atomic<int32_t> rc_tilt_share{0};
  std::atomic<int32_t> viewer_pan{0};
  std::atomic<int32_t> viewer_tilt{0};

  // Incoming packet handler.
  std::atomic<uint32_t> led_blink_time{0};
  std::atomic<uint8_t> led_level{0};
  std::atomic<uint8_t> interval_active{0};
  std::atomic<uint32_t> focus_range{0};
  std::atomic<uint32_t> focus_byte{0};
  std::atomic<int32_t> aperture_index{-1};
  std::atomic<uint8_t> last_video_format[2]{};
  std::atomic<int32_t> shutter_index{-1};
  std::atomic<uint8_t> capture_mode{0};
  std::atomic<uint8_t> capture_submode{0};
  std::atomic<uint16_t> timelapse_interval{0};
  std::atomic<uint16_t> timelapse_duration{0};

  // Watchdog.
  std::atomic<uint32_t> watchdog_ticks{0};
  std::atomic<uint8_t> startup_setting_sent{0};
  std::atomic<uint8_t> time_from_local_clock{1};
};

LinkState& link_state();
// Tests: every field as at process start (link down), keeping the record and
// block pointers data_source_init set; also the RC copies below.
void link_state_reset();

// The HudBlock the link writes: hud_block(), or a private scratch block while
// none is mapped, so that no packet can make the handler touch a null block.
uint8_t* link_hud();

// The RC controller's own copies of the aperture and shutter indices (its
// stepping switches continue from them); written by the incoming handler
// together with the LinkState ones, -1 until the camera reported a known value.
extern std::atomic<int32_t> rc_aperture_index;
extern std::atomic<int32_t> rc_shutter_index;
