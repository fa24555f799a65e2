// Stand-ins for the GPIO layer until it lands.
#include "platform/wiringpi.h"

int wiringPiSetup() { return 0; }
void pinMode(int, int) {}
void digitalWrite(int, int) {}
void pwmWrite(int, int) {}
void gpio_set_log(const char*) {}
