// RC sticks, knobs and switches (values from the rcin process through the
// HudBlock) turned into camera and gimbal commands every 20 ms.
//
// The rcin process publishes, per RC function f (codes below), an assigned
// flag (i16 at 986 + 2f), a centred value (f64 at 1056 + 8f, nominally -1..1)
// and a position (f64 at 1312 + 8f, nominally 0..1). The controller acts on
// them only while byte 887 (RC state) is 6 and byte 1568 (menu) is 0.
//
// Worked examples (Inspire, rc_input_speed_pan 100, tilt 50):
//   pan value 0.5, tilt value -1.0  -> gimbal_pan_tilt_speed(850, -850)
//   rc_input_abs, pan pos 0.5, tilt pos 0.0, dutch pos 1.0
//                                   -> gimbal_set_angles(0, 500, 600)
//   ev position 1.0                 -> step 18, camera_set_ev(3.0), packet
//                                      55 0E 04 66 02 01 .. .. 40 02 2E 19
//   shutter switch held down in video mode from step 31 -> 30 ("20"), then
//                                      nothing until it is back at centre
#pragma once

#include <cstdint>

enum RcFunction : int {
  RC_PAN = 0,
  RC_TILT = 1,
  RC_RECORD = 2,
  RC_RECORD_SHOT = 3,
  RC_MENU = 4,
  RC_EV = 5,
  RC_ZOOM = 6,
  RC_FOCUS = 7,
  RC_DUTCH = 8,
  RC_FOCUS_PAN = 9,
  RC_FOCUS_TILT = 10,
  RC_DIGITAL_ZOOM = 11,
  RC_DIGITAL_ZOOM2 = 12,
  RC_ISO = 13,
  RC_SHUTTER = 14,
  RC_APERTURE = 15,
  RC_VIDEOMODE = 16,
  RC_FOCUS_ASSISTANT = 17,
  RC_CENTER = 18,
  RC_INTCAMERA = 19,
  RC_OSD = 20,
  RC_ORIENT_LOCK = 21,
  RC_FUNCTION_COUNT = 32,
};

// Thread body (app/ starts it); never returns.
void* rc_controller(void*);

// One pass of the loop while the link is up: the RC functions (when enabled,
// state 6 and no menu), then the repeated commands; counts the pass. The
// thread calls it with hud_block(); tests with a block of their own.
void rc_controller_pass(uint8_t* hud);

// Tests: back to the state at process start (counters, latches, steps).
void rc_controller_reset();

// True when the next pass may send something: the sticks are read (RC
// input on, state 6), the gimbal or zoom is moving, a focus point or the
// 2 s attitude is due. Otherwise the loop waits up to 100 ms instead of 20,
// and whoever starts a movement calls rc_controller_wake.
bool rc_controller_has_work(const uint8_t* hud);
// Ends the RC loop's idle wait at once (a gimbal or zoom speed was set).
void rc_controller_wake();
// The idle wait: up to ms milliseconds, less once rc_controller_wake is
// called (a wake that came before it ends it at once).
void rc_controller_wait(int ms);
