// Inputs end to end: the real daemon in --sim with pqw-camsim on the bus,
// pyftpdlib on loopback as the camera's card, the real pqw-viewer, and the
// simulated I2C panels. The shield is watched through the GPIO log.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "core/hud_block.h"
#include "platform/ports.h"
#include "testing/inputs_fixture.h"
#include "testing/sandbox.h"
#include "testing/e2e_support.h"

namespace {

// The port number right after a marker text ("i2c udp:").
uint16_t port_after(const std::string& text, const std::string& marker) {
  size_t at = text.find(marker);
  if (at == std::string::npos) return 0;
  return static_cast<uint16_t>(strtoul(text.c_str() + at + marker.size(), nullptr, 10));
}

class InputsE2e : public ::testing::Test {
 protected:
  E2eDaemon d;
  TempDir card{"inputs-card"};
  inputs_test::FtpServer ftp;
  uint16_t camsim_control = 0;
  uint16_t i2c_port = 0;
  const uint8_t* hud = nullptr;

  void SetUp() override {
    for (const char* sub :
         {"/card", "/card/DCIM", "/card/DCIM/100MEDIA", "/card/DCIM/101MEDIA", "/card/DCIM/MISC"}) {
      mkdir((card.dir + sub).c_str(), 0755);
    }
    card_file("100MEDIA/DJI_0001.JPG");
    card_file("101MEDIA/DJI_0006.MOV");
    card_file("MISC/NOTES.TXT");
    ASSERT_TRUE(ftp.start(card.dir, card.dir + "/card", card.dir + "/nlst"));
    e2e_write_config(&d,
                     "# Pelquarinthos-wired config file\n\ncontrol_enabled=1\nshield_enabled=1\n"
                     "shield_open=1800\nshield_close=1000\nshield_timeout=1\n"
                     "i2c_input_enabled=1\ni2c_input_speed_pan=100\ni2c_input_speed_tilt=100\n"
                     "i2c_input_speed_dutch=100\n\n");
    std::string base = "ftp://127.0.0.1:" + std::to_string(ftp.port) + "/DCIM/";
    ASSERT_TRUE(e2e_start(&d, {"--camera-ftp", base}));
    ASSERT_TRUE(e2e_wait_output(d, "data connected", 10000)) << e2e_stderr(d);
    camsim_control = e2e_camsim_control_port(d, 3000);
    ASSERT_NE(camsim_control, 0);
    i2c_port = port_after(e2e_stderr(d), "i2c udp:");
    ASSERT_NE(i2c_port, 0) << e2e_stderr(d);
    hud = e2e_hud_map(d);
    ASSERT_NE(hud, nullptr);
  }
  void TearDown() override {
    if (hud) e2e_unmap(hud, kHudSize);
    e2e_stop(&d);
  }

  void card_file(const std::string& rel) { std::ofstream(card.dir + "/card/DCIM/" + rel) << "x"; }
  std::string gpio() { return test_read_file(d.dir + "/gpio.log"); }
  std::string media_text() {
    char text[41] = {0};
    hud_get_text(hud, HUD_MEDIA_TEXT, 40, text, sizeof text);
    return text;
  }

  void viewer_send(const std::string& json) {
    int status = -1;
    e2e_run_tool("pqw-viewer",
                 {"--daemon-port", std::to_string(d.viewer_port), "--no-register", "--seconds", "0",
                  "--send", json},
                 &status);
    ASSERT_EQ(status, 0);
  }

  std::string camsim_state() { return e2e_camsim_command(camsim_control, "state"); }

  // One report of panel 0x40 or 0x41 on the simulated I2C bus.
  void panel(uint8_t address, uint8_t buttons) {
    uint8_t d9[11] = {address, 0x00, 0x02, 0x00, 0x02, 0x00, 0x02, 0, 0, buttons, 0};
    for (int i = 1; i < 10; i++) d9[10] ^= d9[i];
    net_udp_send(-1, i2c_port, d9, sizeof d9);
  }
};

TEST_F(InputsE2e, RecordOpensTheShieldAndTheNewestFileShowsAfterTheStop) {
  EXPECT_EQ(e2e_count(gpio(), "pwm 25 "), 0u);  // closed at start, servo not driven
  viewer_send(R"({"cmd":"record","param":"start"})");
  ASSERT_TRUE(e2e_wait_until([&] { return gpio().find("pwm 25 1800") != std::string::npos; }, 5000))
      << gpio();
  ASSERT_TRUE(e2e_wait_until(
      [&] { return camsim_state().find("\"recording\":true") != std::string::npos; }, 5000))
      << camsim_state();
  ASSERT_TRUE(
      e2e_wait_until([&] { return (hud_get_u8(hud, HUD_CAMERA_STATUS) & 0xC0) != 0; }, 3000));
  // The start's own lookup finds what is on the card now.
  ASSERT_TRUE(e2e_wait_until([&] { return media_text() == "101MEDIA/DJI_0006.MOV"; }, 5000))
      << media_text() << "\n"
      << e2e_stderr(d);

  // Recording: the shield stays open well past its one-second timeout.
  std::this_thread::sleep_for(std::chrono::milliseconds(2500));
  EXPECT_EQ(gpio().find("pwm 25 1000"), std::string::npos) << gpio();

  card_file("101MEDIA/DJI_0007.MOV");  // the clip the camera just wrote
  viewer_send(R"({"cmd":"record","param":"stop"})");
  ASSERT_TRUE(e2e_wait_until(
      [&] { return camsim_state().find("\"recording\":false") != std::string::npos; }, 5000));
  ASSERT_TRUE(e2e_wait_until([&] { return media_text() == "101MEDIA/DJI_0007.MOV"; }, 5000))
      << media_text() << "\n"
      << e2e_stderr(d);
  // Idle again: the supervisor closes the shield after the timeout.
  ASSERT_TRUE(e2e_wait_until([&] { return gpio().find("pwm 25 1000") != std::string::npos; }, 5000))
      << gpio();
  EXPECT_EQ(e2e_count(gpio(), "pwm 25 1800"), 1u);
  EXPECT_NE(e2e_stderr(d).find("shield closed to position 1000"), std::string::npos);
}

TEST_F(InputsE2e, SimulatedPanelZoomsAndTogglesTheShield) {
  const std::string zoom_in = "\"set\":2,\"id\":184,\"length\":17,\"payload\":\"01480100\"";
  panel(0x40, 1 << 5);
  ASSERT_TRUE(e2e_wait_until(
      [&] { return test_read_file(d.dir + "/camsim.log").find(zoom_in) != std::string::npos; },
      3000));
  ASSERT_TRUE(e2e_wait_output(d, "joystick 0 button 5 state 1", 2000));
  panel(0x40, 1 << 0);  // 5 released, 0 pressed: shield toggle
  ASSERT_TRUE(e2e_wait_until([&] { return gpio().find("pwm 25 1800") != std::string::npos; }, 3000))
      << gpio();
  EXPECT_EQ(hud_get_u32(hud, HUD_SHIELD_CLOSED), 0u);
  panel(0x41, 0);  // the other panel: nothing pressed, nothing done
  panel(0x40, 0);
  ASSERT_TRUE(e2e_wait_output(d, "joystick 0 button 0 state 0", 2000));
  panel(0x40, 1 << 0);
  ASSERT_TRUE(e2e_wait_until([&] { return gpio().find("pwm 25 1000") != std::string::npos; }, 3000))
      << gpio();
  // One press, one action; the zoom it started is kept going by the RC loop's
  // repeat (a release sends nothing).
  EXPECT_EQ(e2e_count(e2e_stderr(d), "joystick 0 button 5 state 1"), 1u);
  EXPECT_TRUE(e2e_wait_until(
      [&] { return e2e_count(test_read_file(d.dir + "/camsim.log"), zoom_in) >= 2; }, 3000));
}

}  // namespace
