// wiringPi's four calls on top of the kernel GPIO character device (libgpiod
// 1.6) and the PWM sysfs class, or a recording backend for runs off the Pi.
//
// Pin numbers are wiringPi's. The table below maps them to BCM lines of
// gpiochip0 on the 40-pin header boards (pins 17-20 were the P5 header of the
// old Model B rev 2 and do not exist any more).
//
// Hardware PWM exists only on BCM 12/18 (pwm0) and BCM 13/19 (pwm1). The lens
// shield servo sits on wiringPi 25 = BCM 26, which has no PWM function, so
// pins without hardware PWM are driven through pwmchip0 channel
// gpio_set_pwm_fallback() (default 0): wire the servo's signal to BCM 18
// (header pin 12) and enable "dtoverlay=pwm,pin=18,func=2". The servo frame is
// 20 ms and the value is the pulse width in microseconds.
#include "platform/wiringpi.h"

#include <gpiod.h>

#include <cstdio>
#include <mutex>
#include <string>
#include <sys/stat.h>

#include "platform/paths.h"

namespace {

constexpr int kPins = 32;
constexpr long kPwmPeriodNs = 20000000;  // 50 Hz servo frame

// wiringPi pin -> BCM line, -1 where the header has no such pin.
constexpr int kBcm[kPins] = {17, 18, 27, 22, 23, 24, 25, 4,  2,  3,  8,  7,  10, 9,  11, 14,
                             15, -1, -1, -1, -1, 5,  6,  13, 19, 26, 12, 16, 20, 21, 0,  1};

struct GpioState {
  std::mutex mutex;
  FILE* log = nullptr;  // recording backend when set
  gpiod_chip* chip = nullptr;
  bool chip_tried = false;
  gpiod_line* lines[kPins] = {};
  int line_mode[kPins] = {};  // 0 none, 1 input, 2 output
  bool pwm_ready[kPins] = {};
  bool pwm_missing_said = false;
  bool short_chip_said = false;
  int pwm_fallback = 0;
};

GpioState& gpio() {
  static GpioState s;
  return s;
}

int bcm_of(int pin) { return (pin >= 0 && pin < kPins) ? kBcm[pin] : -1; }

int pwm_channel_of(int bcm, int fallback) {
  switch (bcm) {
    case 12:
    case 18:
      return 0;
    case 13:
    case 19:
      return 1;
    default:
      return fallback;
  }
}

void record(GpioState& s, const char* fmt, int a, int b) {
  fprintf(s.log, fmt, a, b);
  fputc('\n', s.log);
  fflush(s.log);
}

bool chip_open(GpioState& s) {
  if (!s.chip_tried) {
    s.chip_tried = true;
    s.chip = gpiod_chip_open_by_name("gpiochip0");
    if (!s.chip) fprintf(stderr, "GPIO: no gpiochip0, GPIO calls do nothing\n");
  }
  return s.chip != nullptr;
}

gpiod_line* line_for(GpioState& s, int pin) {
  int bcm = bcm_of(pin);
  if (bcm < 0 || !chip_open(s)) return nullptr;
  // A board whose first GPIO chip is not the BCM283x one (an emulator's
  // PL061 has 8 lines) has no line for the pin: said once, not per write.
  unsigned lines = gpiod_chip_num_lines(s.chip);
  if (static_cast<unsigned>(bcm) >= lines) {
    if (!s.short_chip_said) {
      s.short_chip_said = true;
      fprintf(stderr,
              "GPIO: gpiochip0 has %u lines, none for BCM %d (wiringPi %d): calls do nothing\n",
              lines, bcm, pin);
    }
    return nullptr;
  }
  if (!s.lines[pin]) s.lines[pin] = gpiod_chip_get_line(s.chip, static_cast<unsigned>(bcm));
  return s.lines[pin];
}

bool write_sysfs(const std::string& path, const std::string& text) {
  FILE* f = fopen(path.c_str(), "we");
  if (!f) return false;
  bool ok = fputs(text.c_str(), f) >= 0;
  ok = (fclose(f) == 0) && ok;
  return ok;
}

std::string pwm_dir(int channel) {
  return root_path("/sys/class/pwm/pwmchip0") + "/pwm" + std::to_string(channel);
}

bool pwm_prepare(GpioState& s, int pin) {
  if (s.pwm_ready[pin]) return true;
  int bcm = bcm_of(pin);
  if (bcm < 0) return false;
  int channel = pwm_channel_of(bcm, s.pwm_fallback);
  std::string dir = pwm_dir(channel);
  struct stat st;
  if (stat(dir.c_str(), &st) != 0) {
    write_sysfs(root_path("/sys/class/pwm/pwmchip0/export"), std::to_string(channel));
  }
  if (stat(dir.c_str(), &st) != 0) {
    if (!s.pwm_missing_said) {
      s.pwm_missing_said = true;
      fprintf(stderr, "PWM: no %s, PWM calls do nothing\n", dir.c_str());
    }
    return false;
  }
  // A duty cycle above the period is refused by the kernel, so the period goes
  // first; the channel stays enabled from here on.
  write_sysfs(dir + "/period", std::to_string(kPwmPeriodNs));
  write_sysfs(dir + "/enable", "1");
  s.pwm_ready[pin] = true;
  return true;
}

}  // namespace

void gpio_set_log(const char* path) {
  GpioState& s = gpio();
  std::lock_guard<std::mutex> lock(s.mutex);
  if (s.log) fclose(s.log);
  s.log = (path && *path) ? fopen(path, "ae") : nullptr;
  if (path && *path && !s.log) fprintf(stderr, "GPIO: cannot open log %s\n", path);
}

void gpio_set_pwm_fallback(int channel) {
  GpioState& s = gpio();
  std::lock_guard<std::mutex> lock(s.mutex);
  s.pwm_fallback = channel < 0 ? 0 : channel;
}

int wiringPiSetup() {
  GpioState& s = gpio();
  std::lock_guard<std::mutex> lock(s.mutex);
  if (s.log) {
    fputs("setup\n", s.log);
    fflush(s.log);
    return 0;
  }
  return chip_open(s) ? 0 : -1;
}

void pinMode(int pin, int mode) {
  GpioState& s = gpio();
  std::lock_guard<std::mutex> lock(s.mutex);
  if (s.log) return record(s, "mode %d %d", pin, mode);
  if (mode == PWM_OUTPUT) {
    pwm_prepare(s, pin);
    return;
  }
  gpiod_line* line = line_for(s, pin);
  if (!line) return;
  int want = mode == OUTPUT ? 2 : 1;
  if (s.line_mode[pin] == want) return;
  if (s.line_mode[pin] != 0) gpiod_line_release(line);
  int rc = want == 2 ? gpiod_line_request_output(line, "pelquarinthos", 0)
                     : gpiod_line_request_input(line, "pelquarinthos");
  s.line_mode[pin] = rc == 0 ? want : 0;
}

void digitalWrite(int pin, int value) {
  GpioState& s = gpio();
  std::lock_guard<std::mutex> lock(s.mutex);
  if (s.log) return record(s, "write %d %d", pin, value);
  gpiod_line* line = line_for(s, pin);
  if (!line) return;
  int level = value ? 1 : 0;
  if (s.line_mode[pin] != 2) {
    if (s.line_mode[pin] != 0) gpiod_line_release(line);
    s.line_mode[pin] = gpiod_line_request_output(line, "pelquarinthos", level) == 0 ? 2 : 0;
    return;
  }
  gpiod_line_set_value(line, level);
}

void pwmWrite(int pin, int value) {
  GpioState& s = gpio();
  std::lock_guard<std::mutex> lock(s.mutex);
  if (s.log) return record(s, "pwm %d %d", pin, value);
  if (!pwm_prepare(s, pin)) return;
  long duty = static_cast<long>(value < 0 ? 0 : value) * 1000;
  if (duty > kPwmPeriodNs) duty = kPwmPeriodNs;
  int channel = pwm_channel_of(bcm_of(pin), s.pwm_fallback);
  write_sysfs(pwm_dir(channel) + "/duty_cycle", std::to_string(duty));
}
