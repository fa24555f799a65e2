// What the simulated camera, gimbal and flight controller do with the
// daemon's packets, so that their effect shows in the later status records
// (tools/camera_records.h). No I/O here: pqw_camsim.cc owns the bus.
//
//   button 23 bytes set 01 id 01, byte 11 0C   -> recording (status bits 6-7 = 2), video mode
//   button byte 11 04                          -> recording stopped
//   button byte 11 30/50/90/B0/D0/F0           -> a shot taken (shots left - 1)
//   button byte 11 10                          -> interval shooting stopped (flags bit 4)
//   button byte 15 02 / 0A                     -> gimbal locked / free (attitude byte 17)
//   button byte 15 01 / 10                     -> gimbal centred / turned to selfie (pan 180)
//   set 02 id 10 (mode)        -> telemetry byte 15 = payload (0 photo, 1 video)
//   set 04 id 0C (speed)       -> pan, dutch, tilt at 11, 13, 15 in 0.1 deg/s, moved each tick
//   set 04 id 0A (angles)      -> pan, dutch, tilt at 11, 13, 15 in 0.1 deg, taken at once
//   set 02 id 2A / 28 / 26 / 2E / 2C -> ISO / shutter / aperture / EV / white balance
//   set 02 id 6A / 6E / 6C     -> shot type / panorama / timelapse figures
//   set 02 id 18 or AF         -> resolution and frame rate (camera state 24, 25)
//   set 02 id 16               -> shot format; set 02 id 66 -> video standard (NTSC bit)
//   set 02 id 54 (date), set 07 id 11 (MAC): remembered; set 02 id 34 digital zoom,
//   id 30 focus point, id 95 manual focus, id 24/FA focus type
//   command type with bit 7 set: the daemon's reply to a query
//   anything else: unknown, logged and ignored
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "tools/camera_records.h"

struct CamsimModel {
  CameraSideState cam;
  double pan_speed = 0, tilt_speed = 0, dutch_speed = 0;  // degrees per second
  uint32_t ticks = 0;
  bool have_date = false;
  int date[6] = {};  // year, month, day, hour, minute, second
  bool have_mac = false;
  uint8_t mac[6] = {};
  int digital_zoom = 0;
  uint32_t replies = 0;
  uint32_t unknown = 0;
};

// One intact packet from the daemon. Returns what it did, "reply" for an
// answer to a query, or "" when the packet means nothing to the camera side.
std::string camsim_apply(CamsimModel* m, const uint8_t* p, size_t n);

// 100 ms pass: the gimbal moves at its speeds, recording time counts.
void camsim_tick(CamsimModel* m);

// One JSON object line with the state the status records report.
std::string camsim_state_json(const CamsimModel& m);
