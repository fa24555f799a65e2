// The camera side of the bus as the simulator, the tests and the benchmark
// play it: the identification queries and the status records the camera,
// gimbal and flight controller send, built from one plain state record.
//
// Records (offsets in the packet; multi-byte fields little-endian):
//   telemetry      49 (Osmo) / 50 (Inspire) bytes, 01->00 set 02 id 80
//                  11 status (bits 6-7 = 2 while recording), 13 flags (bit 4
//                  interval shooting), 15 mode (0 photo, 1 video), 20 u32 shots
//                  left, 24 u32 seconds recorded, 28 u32 seconds left, 40 u16
//                  battery, 42, 44 (11 once the camera is ready)
//   gimbal attitude 25 bytes, 04->00 set 04 id 05: 11 i16 tilt, 13 i16 dutch,
//                  15 i16 pan (raw units of the handler), 17 0 locked / 1 free
//   camera state   104 (Osmo) / 85 (Inspire) bytes, 01->00 set 02 id 81
//                  13 u24 ShutterCode, 16 ISO code, 17 EV code, 21 shot format,
//                  24 resolution, 25 frame-rate code, 34/35 white balance,
//                  44/46/71 shot count, 45 shot sub-type, 47 interval, 68 shot
//                  type, 72 panorama, 49 i16 f-number x 100, 66 bit 0 NTSC,
//                  86 u16 timelapse interval x 10, 88 u16 duration (104 only)
//   focus status   59 (Osmo) / 53 (Inspire) bytes, 01->00 set 02 id 82
//                  11 flags (bit 0 MF available), 12 u16 range, 14 u16 position,
//                  16 f32 focus value, 24/28 f32 focus point x/y, 42 assistants
//   card           22 bytes, set 02 id 83: 14 u24 free megabytes
//   status 52      52 bytes, set 02 id 84; playback 54 bytes, set 02 id 85
//   histogram      77 bytes, set 02 id 86: 64 bytes at 11
//
// Queries at start, as each device mode expects them (the daemon answers):
//   Osmo    14 04->09 type 20 set 04 id 1C; 14 04->09 type 00 set 04 id 28 (11 = 1);
//           14 01->07 set 00 id 50; 15 01->09 type 40 set 09 id 0E;
//           13 04->09 set 00 id 01; 13 01->09 set 00 id 01
//   Inspire 14 04->03 type 20 set 04 id 1C; 15 01->09 type 40 set 09 id 0E;
//           13 01->09 set 00 id 01 (DM368); 13 04->09 set 00 id 02 (Ambarella)
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

struct CameraSideState {
  uint8_t mode = 0;  // 0 Osmo, 1 Inspire
  uint16_t sequence = 0;

  // Telemetry.
  uint8_t status = 0x00;
  uint8_t flags13 = 0x00;
  uint8_t camera_mode = 0;
  uint32_t shots_left = 1234;
  uint32_t record_seconds = 0;
  uint32_t record_left = 3600;
  uint16_t battery = 87;
  uint8_t b42 = 0;
  uint8_t b44 = 11;

  // Gimbal, in degrees.
  double pan = 0, tilt = 0, dutch = 0;
  uint8_t gimbal_free = 0;

  // Camera state.
  uint32_t shutter = 0x8064;  // 1/100
  uint8_t iso = 3;            // 100
  uint8_t ev = 16;            // 0.0
  int16_t aperture = 280;     // f/2.8
  uint8_t shot_format = 1;    // JPG
  uint8_t resolution = 10;    // 1920x1080
  uint8_t frame_rate = 3;     // 30
  uint8_t wb_mode = 0, wb_value = 0x44;
  uint8_t shot_type[6] = {0x01, 0x01, 0x00, 0x01, 0x00, 0x00};  // single shot
  uint8_t panorama = 0;
  uint16_t timelapse_interval10 = 50;
  uint16_t timelapse_duration = 600;
  uint8_t ntsc = 0;

  // Focus.
  uint8_t focus_flags = 0x01;
  uint16_t focus_range = 1000, focus_position = 500;
  float focus_value = 2.5f, focus_x = 0.5f, focus_y = 0.5f;
  uint8_t focus_assistants = 0;

  // Other records.
  uint32_t card_free_mb = 30000;
  uint8_t playback = 0;
  uint8_t histogram_phase = 0;
};

// Raw gimbal units as the daemon reads them back (inverse of its scaling).
int16_t camera_pan_raw(double degrees);
int16_t camera_tilt_raw(double degrees);
int16_t camera_dutch_raw(double degrees);

using Packet = std::vector<uint8_t>;

// Each takes the next sequence number from the state.
Packet camera_telemetry(CameraSideState* s);
Packet camera_attitude(CameraSideState* s);
Packet camera_state_record(CameraSideState* s);
Packet camera_focus_record(CameraSideState* s);
Packet camera_card_record(CameraSideState* s);
Packet camera_status52_record(CameraSideState* s);
Packet camera_playback_record(CameraSideState* s);
Packet camera_histogram_record(CameraSideState* s);
// Everything of one 100 ms tick: telemetry, attitude, camera state, focus,
// card, status 52, playback, histogram.
std::vector<Packet> camera_tick_records(CameraSideState* s);
// The identification and status queries of the state's mode.
std::vector<Packet> camera_queries(CameraSideState* s);
