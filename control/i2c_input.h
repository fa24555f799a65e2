// I2C joystick and encoder panels at 0x40 and 0x41.
#pragma once

void i2c_input_init();
// "/dev/i2c-1" (default) or "udp:LOCALPORT" for the simulation.
void i2c_set_spec(const char* spec);
