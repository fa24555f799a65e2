// The GPIO layer: the recording backend's lines and the PWM sysfs writes
// under a fake root (the servo pin has no hardware PWM and uses the
// configured pwmchip0 channel).
#include "platform/wiringpi.h"

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include "platform/paths.h"
#include "testing/sandbox.h"

namespace {

TEST(Gpio, RecordingBackendWritesOneLinePerCall) {
  TempDir t("gpio-test");
  std::string log = t.dir + "/gpio.log";
  gpio_set_log(log.c_str());
  EXPECT_EQ(wiringPiSetup(), 0);
  pinMode(24, OUTPUT);
  digitalWrite(24, HIGH);
  digitalWrite(24, LOW);
  pinMode(25, PWM_OUTPUT);
  pwmWrite(25, 1950);
  gpio_set_log(nullptr);
  EXPECT_EQ(test_read_file(log),
            "setup\nmode 24 1\nwrite 24 1\nwrite 24 0\nmode 25 2\npwm 25 1950\n");
}

TEST(Gpio, PwmGoesThroughSysfsUnderTheRoot) {
  TempDir t("gpio-test");
  std::string chip = t.dir + "/sys/class/pwm/pwmchip0";
  for (std::string d : {"/sys", "/sys/class", "/sys/class/pwm", "/sys/class/pwm/pwmchip0",
                        "/sys/class/pwm/pwmchip0/pwm1"})
    mkdir((t.dir + d).c_str(), 0755);
  paths_set_root(t.dir.c_str());
  gpio_set_pwm_fallback(1);
  pinMode(25, PWM_OUTPUT);  // BCM 26: the configured channel
  pwmWrite(25, 1000);
  EXPECT_EQ(test_read_file(chip + "/pwm1/period"), "20000000");
  EXPECT_EQ(test_read_file(chip + "/pwm1/enable"), "1");
  EXPECT_EQ(test_read_file(chip + "/pwm1/duty_cycle"), "1000000");
  pwmWrite(25, 50000);  // never longer than the frame
  EXPECT_EQ(test_read_file(chip + "/pwm1/duty_cycle"), "20000000");
  pwmWrite(25, -5);
  EXPECT_EQ(test_read_file(chip + "/pwm1/duty_cycle"), "0");

  // wiringPi 1 is BCM 18, hardware pwm0: not there, so it is exported and,
  // since this fake sysfs does not create the channel, left alone.
  pwmWrite(1, 1500);
  EXPECT_EQ(test_read_file(chip + "/export"), "0");
  EXPECT_NE(access((chip + "/pwm0/duty_cycle").c_str(), F_OK), 0);
  paths_set_root(nullptr);
  gpio_set_pwm_fallback(0);
}

}  // namespace
