// The servo-driven lens shield on wiringPi pin 25 (hardware PWM).
#pragma once

void shield_init();
void shield_move_open();
void shield_move_closed();
void shield_auto_close();
int shield_state();  // 1 open, 0 closed
