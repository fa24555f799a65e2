// The servo-driven lens shield on wiringPi pin 25 (hardware PWM).
//
// The value written with pwmWrite is the pulse width in microseconds:
// shield_open / shield_close of the configuration. With --gpio-log the calls
// show up as lines, for example with shield_open 1800, shield_close 1100,
// shield_timeout 5000:
//   shield_init                       "mode 25 2"  (HudBlock 2636 = 1, no pulse yet)
//   shield_move_open                  "pwm 25 1800"
//   shield_move_open again            nothing more
//   camera idle for more than 5000 ms "pwm 25 1100" at the next shield_auto_close
// The camera counts as busy (the countdown restarts) while its status byte,
// HudBlock 2379, has bit 3, 6 or 7 set.
#pragma once

void shield_init();
void shield_move_open();
void shield_move_closed();
void shield_auto_close();
int shield_state();  // 1 open, 0 closed

// Tests: back to the state at process start (closed, not initialised).
void shield_reset();
