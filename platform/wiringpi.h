// The four wiringPi operations the daemon uses, with wiringPi pin numbers.
//
// wiringPi is not packaged by Debian. The production backend drives the Pi
// through the kernel GPIO character device (libgpiod) and the PWM sysfs
// interface (20 ms servo frame, value = pulse width in microseconds); where
// no GPIO chip or PWM channel exists it says so once and does nothing.
// gpio_set_log(FILE) selects a recording backend that writes one line per
// call: "setup", "mode PIN MODE", "write PIN VALUE", "pwm PIN VALUE".
#pragma once

inline constexpr int INPUT = 0;
inline constexpr int OUTPUT = 1;
inline constexpr int PWM_OUTPUT = 2;
inline constexpr int LOW = 0;
inline constexpr int HIGH = 1;

int wiringPiSetup();
void pinMode(int pin, int mode);
void digitalWrite(int pin, int value);
void pwmWrite(int pin, int value);

// Recording backend (--gpio-log FILE); nullptr or "" selects the hardware.
void gpio_set_log(const char* path);

// pwmchip0 channel used for pins without hardware PWM (the shield servo on
// wiringPi 25 = BCM 26): 0 unless --pwm-channel says otherwise.
void gpio_set_pwm_fallback(int channel);
