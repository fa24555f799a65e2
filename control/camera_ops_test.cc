// Camera and gimbal operations, byte for byte: templates, payloads, repeat
// counts, the link_up rule and the pauses between button packets.
#include "control/camera_ops.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <string>
#include <vector>

#include "testing/camera_fixture.h"
#include "testing/fake_clock.h"

namespace {

using camtest::packets;
using camtest::reset;

void shoot_in(int mode, int submode) {
  link_state().capture_mode.store(static_cast<uint8_t>(mode));
  link_state().capture_submode.store(static_cast<uint8_t>(submode));
  camera_shoot();
}

struct Row {
  const char* call;
  void (*run)();
  std::vector<std::string> packets;
};

// The first packet of each row gets sequence number 0xFFFE, so the rows
// also show the 16-bit wrap.
const Row kRows[] = {
    {"gimbal_speed(5000, -5000, 0)",
     [] { gimbal_speed(5000, -5000, 0); },
     {"55 14 04 6D 02 04 FE FF 40 04 0C 88 13 00 00 78 EC 90 DD 6A"}},
    {"link_state().mode.store(1); gimbal_speed(5000, -5000, 2000)",
     [] {
       link_state().mode.store(1);
       gimbal_speed(5000, -5000, 2000);
     },
     {"55 14 04 6D 02 04 FE FF 40 04 0C A4 06 A4 06 5C F9 90 CE E9"}},
    {"link_state().mode.store(1); gimbal_speed(-70000, 70000, -3)",
     [] {
       link_state().mode.store(1);
       gimbal_speed(-70000, 70000, -3);
     },
     {"55 14 04 6D 02 04 FE FF 40 04 0C 5C F9 FD FF A4 06 90 21 42"}},
    {"gimbal_speed(70000, 1, -1)",
     [] { gimbal_speed(70000, 1, -1); },
     {"55 14 04 6D 02 04 FE FF 40 04 0C 70 11 FF FF 01 00 90 41 47"}},
    {"cfg_set(config_record()->rc_input_inverse_tilt, 1); gimbal_speed(10, 20, 30)",
     [] {
       cfg_set(config_record()->rc_input_inverse_tilt, 1);
       gimbal_speed(10, 20, 30);
     },
     {"55 14 04 6D 02 04 FE FF 40 04 0C 0A 00 1E 00 EC FF 90 AF 15"}},
    {"cfg_set(config_record()->rc_input_inverse_pan, 1); "
     "cfg_set(config_record()->rc_input_inverse_dutch, 1); gimbal_speed(10, 20, 30)",
     [] {
       cfg_set(config_record()->rc_input_inverse_pan, 1);
       cfg_set(config_record()->rc_input_inverse_dutch, 1);
       gimbal_speed(10, 20, 30);
     },
     {"55 14 04 6D 02 04 FE FF 40 04 0C F6 FF E2 FF 14 00 90 3C 56"}},
    {"gimbal_set_angles(100, -50, 7)",
     [] { gimbal_set_angles(100, -50, 7); },
     {"55 14 04 6D 02 04 FE FF 40 04 0C 00 00 00 00 00 00 90 C2 7A",
      "55 17 04 38 02 04 FF FF 40 04 0A 64 00 07 00 CE FF 64 00 E0 04 45 E1"}},
    {"link_state().gimbal_stopped.store(1); gimbal_set_angles(-900, 300, 0)",
     [] {
       link_state().gimbal_stopped.store(1);
       gimbal_set_angles(-900, 300, 0);
     },
     {"55 17 04 38 02 04 FE FF 40 04 0A 7C FC 00 00 2C 01 64 00 E0 04 77 90"}},
    {"gimbal_attitude_set(0.1f, 0.2f, 0.3f, 0.4f)",
     [] { gimbal_attitude_set(0.1f, 0.2f, 0.3f, 0.4f); },
     {"55 33 04 C2 03 04 FE FF 00 03 42 CD CC CC 3E CD CC CC 3D CD CC 4C 3E 9A 99 99 3E 00 00 80 "
      "00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 0F 4E"}},
    {"gimbal_button_press(1)",
     [] { gimbal_button_press(1); },
     {"55 14 04 6D 02 04 FE FF 40 04 0C 00 00 00 00 00 00 90 C2 7A",
      "55 17 04 38 09 04 FF FF 40 01 01 00 00 00 00 02 91 00 00 00 93 61 56",
      "55 17 04 38 09 04 00 00 40 01 01 00 00 00 00 02 91 00 00 00 93 13 95",
      "55 17 04 38 09 04 01 00 40 01 01 00 00 00 00 02 91 00 00 00 93 39 DD",
      "55 17 04 38 09 01 02 00 40 01 01 00 00 00 00 00 91 00 00 00 91 71 88",
      "55 17 04 38 09 01 03 00 40 01 01 00 00 00 00 00 91 00 00 00 91 5B C0",
      "55 17 04 38 09 01 04 00 40 01 01 00 00 00 00 00 91 00 00 00 91 9C 30"}},
    {"gimbal_button_press(0)",
     [] { gimbal_button_press(0); },
     {"55 14 04 6D 02 04 FE FF 40 04 0C 00 00 00 00 00 00 90 C2 7A",
      "55 17 04 38 09 04 FF FF 40 01 01 00 00 00 00 0A 91 00 00 00 9B 71 FB",
      "55 17 04 38 09 04 00 00 40 01 01 00 00 00 00 0A 91 00 00 00 9B 03 38",
      "55 17 04 38 09 04 01 00 40 01 01 00 00 00 00 0A 91 00 00 00 9B 29 70",
      "55 17 04 38 09 04 02 00 40 01 01 00 00 00 00 00 91 00 00 00 91 03 2E",
      "55 17 04 38 09 04 03 00 40 01 01 00 00 00 00 00 91 00 00 00 91 29 66",
      "55 17 04 38 09 04 04 00 40 01 01 00 00 00 00 00 91 00 00 00 91 EE 96"}},
    {"link_state().gimbal_stopped.store(1); gimbal_button_press(0)",
     [] {
       link_state().gimbal_stopped.store(1);
       gimbal_button_press(0);
     },
     {"55 17 04 38 09 04 FE FF 40 01 01 00 00 00 00 0A 91 00 00 00 9B 5B B3",
      "55 17 04 38 09 04 FF FF 40 01 01 00 00 00 00 0A 91 00 00 00 9B 71 FB",
      "55 17 04 38 09 04 00 00 40 01 01 00 00 00 00 0A 91 00 00 00 9B 03 38",
      "55 17 04 38 09 04 01 00 40 01 01 00 00 00 00 00 91 00 00 00 91 7D F6",
      "55 17 04 38 09 04 02 00 40 01 01 00 00 00 00 00 91 00 00 00 91 03 2E",
      "55 17 04 38 09 04 03 00 40 01 01 00 00 00 00 00 91 00 00 00 91 29 66"}},
    {"camera_digital_zoom(150)",
     [] { camera_digital_zoom(150); },
     {"55 12 04 C7 02 01 FE FF 40 02 34 09 00 00 C8 00 8F 1C"}},
    {"camera_digital_zoom(-20)",
     [] { camera_digital_zoom(-20); },
     {"55 12 04 C7 02 01 FE FF 40 02 34 09 00 00 64 00 D0 1A"}},
    {"camera_digital_zoom(55)",
     [] { camera_digital_zoom(55); },
     {"55 12 04 C7 02 01 FE FF 40 02 34 09 00 00 9B 00 10 E5"}},
    {"camera_zoom_move(3)",
     [] { camera_zoom_move(3); },
     {"55 11 04 92 02 01 FE FF 40 02 B8 01 48 01 00 EC A4"}},
    {"camera_zoom_move(-3)",
     [] { camera_zoom_move(-3); },
     {"55 11 04 92 02 01 FE FF 40 02 B8 01 48 00 00 34 BD"}},
    {"camera_zoom_move(0)",
     [] { camera_zoom_move(0); },
     {"55 11 04 92 02 01 FE FF 40 02 B8 00 48 00 00 8F A1",
      "55 11 04 92 02 01 FF FF 40 02 B8 FF 48 00 00 A0 29"}},
    {"viewer_motion_command(0, 100, -50)",
     [] { viewer_motion_command(0, 100, -50); },
     {"55 14 04 6D 02 04 FE FF 40 04 0C 00 00 00 00 00 00 90 C2 7A",
      "55 17 04 38 02 04 FF FF 40 04 0A 64 00 00 00 CE FF 64 00 E0 04 4B 7D"}},
    {"viewer_motion_command(2, 7, 30)",
     [] { viewer_motion_command(2, 7, 30); },
     {"55 12 04 C7 02 01 FE FF 40 02 34 09 00 00 82 00 99 A7"}},
    {"viewer_motion_command(2, -3, -1)",
     [] { viewer_motion_command(2, -3, -1); },
     {"55 11 04 92 02 01 FE FF 40 02 B8 01 48 00 00 34 BD"}},
    {"viewer_motion_command(9, 1, 1)", [] { viewer_motion_command(9, 1, 1); }, {}},
    {"gimbal_position_preset(0)",
     [] { gimbal_position_preset(0); },
     {"55 14 04 6D 02 04 FE FF 40 04 0C 00 00 00 00 00 00 90 C2 7A",
      "55 17 04 38 09 04 FF FF 40 01 01 00 00 00 00 01 91 00 00 00 90 87 68",
      "55 17 04 38 09 01 00 00 40 01 01 00 00 00 00 01 91 00 00 00 90 87 0D",
      "55 17 04 38 09 04 01 00 40 01 01 00 00 00 00 01 91 00 00 00 90 DF E3",
      "55 17 04 38 09 01 02 00 40 01 01 00 00 00 00 01 91 00 00 00 90 D3 9D",
      "55 17 04 38 09 04 03 00 40 01 01 00 00 00 00 00 91 00 00 00 91 29 66",
      "55 17 04 38 09 01 04 00 40 01 01 00 00 00 00 00 91 00 00 00 91 9C 30",
      "55 17 04 38 09 04 05 00 40 01 01 00 00 00 00 00 91 00 00 00 91 C4 DE",
      "55 17 04 38 09 01 06 00 40 01 01 00 00 00 00 00 91 00 00 00 91 C8 A0"}},
    {"gimbal_position_preset(1)",
     [] { gimbal_position_preset(1); },
     {"55 14 04 6D 02 04 FE FF 40 04 0C 00 00 00 00 00 00 90 C2 7A",
      "55 17 04 38 09 04 FF FF 40 01 01 00 00 00 00 10 91 00 00 00 81 14 2F",
      "55 17 04 38 09 01 00 00 40 01 01 00 00 00 00 10 91 00 00 00 81 14 4A",
      "55 17 04 38 09 04 01 00 40 01 01 00 00 00 00 10 91 00 00 00 81 4C A4",
      "55 17 04 38 09 01 02 00 40 01 01 00 00 00 00 10 91 00 00 00 81 40 DA",
      "55 17 04 38 09 04 03 00 40 01 01 00 00 00 00 00 91 00 00 00 91 29 66",
      "55 17 04 38 09 01 04 00 40 01 01 00 00 00 00 00 91 00 00 00 91 9C 30",
      "55 17 04 38 09 04 05 00 40 01 01 00 00 00 00 00 91 00 00 00 91 C4 DE",
      "55 17 04 38 09 01 06 00 40 01 01 00 00 00 00 00 91 00 00 00 91 C8 A0"}},
    {"gimbal_position_preset(2)", [] { gimbal_position_preset(2); }, {}},
    {"camera_set_capture_mode(0)",
     [] { camera_set_capture_mode(0); },
     {"55 0E 04 66 09 01 FE FF 40 02 10 00 97 58", "55 0E 04 66 09 01 FF FF 40 02 10 00 BC 5C"}},
    {"camera_set_capture_mode(1)",
     [] { camera_set_capture_mode(1); },
     {"55 0E 04 66 09 01 FE FF 40 02 10 01 1E 49", "55 0E 04 66 09 01 FF FF 40 02 10 01 35 4D"}},
    {"camera_set_capture_mode(5)", [] { camera_set_capture_mode(5); }, {}},
    {"shoot_in(0, 0)",
     [] { shoot_in(0, 0); },
     {"55 17 04 38 09 04 FE FF 40 01 01 30 00 00 00 00 91 00 01 00 A0 3E 31",
      "55 17 04 38 09 04 FF FF 40 01 01 30 00 00 00 00 91 00 01 00 A0 14 79",
      "55 17 04 38 09 01 00 00 40 01 01 30 00 00 00 00 91 00 01 00 A0 14 1C",
      "55 17 04 38 09 01 01 00 40 01 01 30 00 00 00 00 91 00 01 00 A0 3E 54",
      "55 17 04 38 09 04 02 00 40 01 01 00 00 00 00 00 91 00 00 00 91 03 2E",
      "55 17 04 38 09 04 03 00 40 01 01 00 00 00 00 00 91 00 00 00 91 29 66",
      "55 17 04 38 09 01 04 00 40 01 01 00 00 00 00 00 91 00 00 00 91 9C 30",
      "55 17 04 38 09 01 05 00 40 01 01 00 00 00 00 00 91 00 00 00 91 B6 78"}},
    {"shoot_in(0, 1)",
     [] { shoot_in(0, 1); },
     {"55 17 04 38 09 04 FE FF 40 01 01 D0 00 00 00 00 91 00 0A 01 4A 2C 16",
      "55 17 04 38 09 04 FF FF 40 01 01 D0 00 00 00 00 91 00 0A 01 4A 06 5E",
      "55 17 04 38 09 01 00 00 40 01 01 D0 00 00 00 00 91 00 0A 01 4A 06 3B",
      "55 17 04 38 09 01 01 00 40 01 01 D0 00 00 00 00 91 00 0A 01 4A 2C 73",
      "55 17 04 38 09 04 02 00 40 01 01 00 00 00 00 00 91 00 00 00 91 03 2E",
      "55 17 04 38 09 04 03 00 40 01 01 00 00 00 00 00 91 00 00 00 91 29 66",
      "55 17 04 38 09 01 04 00 40 01 01 00 00 00 00 00 91 00 00 00 91 9C 30",
      "55 17 04 38 09 01 05 00 40 01 01 00 00 00 00 00 91 00 00 00 91 B6 78"}},
    {"shoot_in(0, 2)",
     [] { shoot_in(0, 2); },
     {"55 17 04 38 09 04 FE FF 40 01 01 50 00 00 00 00 91 00 01 00 C0 F6 AF",
      "55 17 04 38 09 04 FF FF 40 01 01 50 00 00 00 00 91 00 01 00 C0 DC E7",
      "55 17 04 38 09 01 00 00 40 01 01 50 00 00 00 00 91 00 01 00 C0 DC 82",
      "55 17 04 38 09 01 01 00 40 01 01 50 00 00 00 00 91 00 01 00 C0 F6 CA",
      "55 17 04 38 09 04 02 00 40 01 01 00 00 00 00 00 91 00 00 00 91 03 2E",
      "55 17 04 38 09 04 03 00 40 01 01 00 00 00 00 00 91 00 00 00 91 29 66",
      "55 17 04 38 09 01 04 00 40 01 01 00 00 00 00 00 91 00 00 00 91 9C 30",
      "55 17 04 38 09 01 05 00 40 01 01 00 00 00 00 00 91 00 00 00 91 B6 78"}},
    {"shoot_in(1, 0)",
     [] { shoot_in(1, 0); },
     {"55 17 04 38 09 04 FE FF 40 01 01 90 00 00 00 00 91 00 03 00 02 DD 0C",
      "55 17 04 38 09 04 FF FF 40 01 01 90 00 00 00 00 91 00 03 00 02 F7 44",
      "55 17 04 38 09 01 00 00 40 01 01 90 00 00 00 00 91 00 03 00 02 F7 21",
      "55 17 04 38 09 01 01 00 40 01 01 90 00 00 00 00 91 00 03 00 02 DD 69",
      "55 17 04 38 09 04 02 00 40 01 01 00 00 00 00 00 91 00 00 00 91 03 2E",
      "55 17 04 38 09 04 03 00 40 01 01 00 00 00 00 00 91 00 00 00 91 29 66",
      "55 17 04 38 09 01 04 00 40 01 01 00 00 00 00 00 91 00 00 00 91 9C 30",
      "55 17 04 38 09 01 05 00 40 01 01 00 00 00 00 00 91 00 00 00 91 B6 78"}},
    {"shoot_in(1, 1)",
     [] { shoot_in(1, 1); },
     {"55 17 04 38 09 04 FE FF 40 01 01 90 00 00 00 00 91 00 05 00 04 32 BF",
      "55 17 04 38 09 04 FF FF 40 01 01 90 00 00 00 00 91 00 05 00 04 18 F7",
      "55 17 04 38 09 01 00 00 40 01 01 90 00 00 00 00 91 00 05 00 04 18 92",
      "55 17 04 38 09 01 01 00 40 01 01 90 00 00 00 00 91 00 05 00 04 32 DA",
      "55 17 04 38 09 04 02 00 40 01 01 00 00 00 00 00 91 00 00 00 91 03 2E",
      "55 17 04 38 09 04 03 00 40 01 01 00 00 00 00 00 91 00 00 00 91 29 66",
      "55 17 04 38 09 01 04 00 40 01 01 00 00 00 00 00 91 00 00 00 91 9C 30",
      "55 17 04 38 09 01 05 00 40 01 01 00 00 00 00 00 91 00 00 00 91 B6 78"}},
    {"shoot_in(1, 2)",
     [] { shoot_in(1, 2); },
     {"55 17 04 38 09 04 FE FF 40 01 01 90 00 00 00 00 91 00 07 00 06 98 29",
      "55 17 04 38 09 04 FF FF 40 01 01 90 00 00 00 00 91 00 07 00 06 B2 61",
      "55 17 04 38 09 01 00 00 40 01 01 90 00 00 00 00 91 00 07 00 06 B2 04",
      "55 17 04 38 09 01 01 00 40 01 01 90 00 00 00 00 91 00 07 00 06 98 4C",
      "55 17 04 38 09 04 02 00 40 01 01 00 00 00 00 00 91 00 00 00 91 03 2E",
      "55 17 04 38 09 04 03 00 40 01 01 00 00 00 00 00 91 00 00 00 91 29 66",
      "55 17 04 38 09 01 04 00 40 01 01 00 00 00 00 00 91 00 00 00 91 9C 30",
      "55 17 04 38 09 01 05 00 40 01 01 00 00 00 00 00 91 00 00 00 91 B6 78"}},
    {"shoot_in(1, 3)",
     [] { shoot_in(1, 3); },
     {"55 17 04 38 09 04 FE FF 40 01 01 B0 00 00 00 00 91 00 03 00 22 6A 81",
      "55 17 04 38 09 04 FF FF 40 01 01 B0 00 00 00 00 91 00 03 00 22 40 C9",
      "55 17 04 38 09 01 00 00 40 01 01 B0 00 00 00 00 91 00 03 00 22 40 AC",
      "55 17 04 38 09 01 01 00 40 01 01 B0 00 00 00 00 91 00 03 00 22 6A E4",
      "55 17 04 38 09 04 02 00 40 01 01 00 00 00 00 00 91 00 00 00 91 03 2E",
      "55 17 04 38 09 04 03 00 40 01 01 00 00 00 00 00 91 00 00 00 91 29 66",
      "55 17 04 38 09 01 04 00 40 01 01 00 00 00 00 00 91 00 00 00 91 9C 30",
      "55 17 04 38 09 01 05 00 40 01 01 00 00 00 00 00 91 00 00 00 91 B6 78"}},
    {"shoot_in(1, 4)",
     [] { shoot_in(1, 4); },
     {"55 17 04 38 09 04 FE FF 40 01 01 B0 00 00 00 00 91 00 05 00 24 85 32",
      "55 17 04 38 09 04 FF FF 40 01 01 B0 00 00 00 00 91 00 05 00 24 AF 7A",
      "55 17 04 38 09 01 00 00 40 01 01 B0 00 00 00 00 91 00 05 00 24 AF 1F",
      "55 17 04 38 09 01 01 00 40 01 01 B0 00 00 00 00 91 00 05 00 24 85 57",
      "55 17 04 38 09 04 02 00 40 01 01 00 00 00 00 00 91 00 00 00 91 03 2E",
      "55 17 04 38 09 04 03 00 40 01 01 00 00 00 00 00 91 00 00 00 91 29 66",
      "55 17 04 38 09 01 04 00 40 01 01 00 00 00 00 00 91 00 00 00 91 9C 30",
      "55 17 04 38 09 01 05 00 40 01 01 00 00 00 00 00 91 00 00 00 91 B6 78"}},
    {"shoot_in(2, 0)",
     [] { shoot_in(2, 0); },
     {"55 17 04 38 09 04 FE FF 40 01 01 D0 00 00 00 00 91 00 0A FF B4 C5 EE",
      "55 17 04 38 09 04 FF FF 40 01 01 D0 00 00 00 00 91 00 0A FF B4 EF A6",
      "55 17 04 38 09 01 00 00 40 01 01 D0 00 00 00 00 91 00 0A FF B4 EF C3",
      "55 17 04 38 09 01 01 00 40 01 01 D0 00 00 00 00 91 00 0A FF B4 C5 8B",
      "55 17 04 38 09 04 02 00 40 01 01 00 00 00 00 00 91 00 00 00 91 03 2E",
      "55 17 04 38 09 04 03 00 40 01 01 00 00 00 00 00 91 00 00 00 91 29 66",
      "55 17 04 38 09 01 04 00 40 01 01 00 00 00 00 00 91 00 00 00 91 9C 30",
      "55 17 04 38 09 01 05 00 40 01 01 00 00 00 00 00 91 00 00 00 91 B6 78"}},
    {"shoot_in(2, 1)",
     [] { shoot_in(2, 1); },
     {"55 17 04 38 09 04 FE FF 40 01 01 D0 00 00 00 00 91 00 1E FF A0 94 5E",
      "55 17 04 38 09 04 FF FF 40 01 01 D0 00 00 00 00 91 00 1E FF A0 BE 16",
      "55 17 04 38 09 01 00 00 40 01 01 D0 00 00 00 00 91 00 1E FF A0 BE 73",
      "55 17 04 38 09 01 01 00 40 01 01 D0 00 00 00 00 91 00 1E FF A0 94 3B",
      "55 17 04 38 09 04 02 00 40 01 01 00 00 00 00 00 91 00 00 00 91 03 2E",
      "55 17 04 38 09 04 03 00 40 01 01 00 00 00 00 00 91 00 00 00 91 29 66",
      "55 17 04 38 09 01 04 00 40 01 01 00 00 00 00 00 91 00 00 00 91 9C 30",
      "55 17 04 38 09 01 05 00 40 01 01 00 00 00 00 00 91 00 00 00 91 B6 78"}},
    {"shoot_in(3, 0)",
     [] { shoot_in(3, 0); },
     {"55 17 04 38 09 04 FE FF 40 01 01 F0 00 00 00 00 91 00 FF 00 9E 61 86",
      "55 17 04 38 09 04 FF FF 40 01 01 F0 00 00 00 00 91 00 FF 00 9E 4B CE",
      "55 17 04 38 09 01 00 00 40 01 01 F0 00 00 00 00 91 00 FF 00 9E 4B AB",
      "55 17 04 38 09 01 01 00 40 01 01 F0 00 00 00 00 91 00 FF 00 9E 61 E3",
      "55 17 04 38 09 04 02 00 40 01 01 00 00 00 00 00 91 00 00 00 91 03 2E",
      "55 17 04 38 09 04 03 00 40 01 01 00 00 00 00 00 91 00 00 00 91 29 66",
      "55 17 04 38 09 01 04 00 40 01 01 00 00 00 00 00 91 00 00 00 91 9C 30",
      "55 17 04 38 09 01 05 00 40 01 01 00 00 00 00 00 91 00 00 00 91 B6 78"}},
    {"shoot_in(3, 1)",
     [] { shoot_in(3, 1); },
     {"55 17 04 38 09 04 FE FF 40 01 01 F0 00 00 00 00 91 00 FF 00 9E 61 86",
      "55 17 04 38 09 04 FF FF 40 01 01 F0 00 00 00 00 91 00 FF 00 9E 4B CE",
      "55 17 04 38 09 01 00 00 40 01 01 F0 00 00 00 00 91 00 FF 00 9E 4B AB",
      "55 17 04 38 09 01 01 00 40 01 01 F0 00 00 00 00 91 00 FF 00 9E 61 E3",
      "55 17 04 38 09 04 02 00 40 01 01 00 00 00 00 00 91 00 00 00 91 03 2E",
      "55 17 04 38 09 04 03 00 40 01 01 00 00 00 00 00 91 00 00 00 91 29 66",
      "55 17 04 38 09 01 04 00 40 01 01 00 00 00 00 00 91 00 00 00 91 9C 30",
      "55 17 04 38 09 01 05 00 40 01 01 00 00 00 00 00 91 00 00 00 91 B6 78"}},
    {"shoot_in(3, 2)",
     [] { shoot_in(3, 2); },
     {"55 17 04 38 09 04 FE FF 40 01 01 F0 00 00 00 00 91 00 FF 00 9E 61 86",
      "55 17 04 38 09 04 FF FF 40 01 01 F0 00 00 00 00 91 00 FF 00 9E 4B CE",
      "55 17 04 38 09 01 00 00 40 01 01 F0 00 00 00 00 91 00 FF 00 9E 4B AB",
      "55 17 04 38 09 01 01 00 40 01 01 F0 00 00 00 00 91 00 FF 00 9E 61 E3",
      "55 17 04 38 09 04 02 00 40 01 01 00 00 00 00 00 91 00 00 00 91 03 2E",
      "55 17 04 38 09 04 03 00 40 01 01 00 00 00 00 00 91 00 00 00 91 29 66",
      "55 17 04 38 09 01 04 00 40 01 01 00 00 00 00 00 91 00 00 00 91 9C 30",
      "55 17 04 38 09 01 05 00 40 01 01 00 00 00 00 00 91 00 00 00 91 B6 78"}},
    {"shoot_in(3, 3)",
     [] { shoot_in(3, 3); },
     {"55 17 04 38 09 04 FE FF 40 01 01 F0 00 00 00 00 91 00 FF 00 9E 61 86",
      "55 17 04 38 09 04 FF FF 40 01 01 F0 00 00 00 00 91 00 FF 00 9E 4B CE",
      "55 17 04 38 09 01 00 00 40 01 01 F0 00 00 00 00 91 00 FF 00 9E 4B AB",
      "55 17 04 38 09 01 01 00 40 01 01 F0 00 00 00 00 91 00 FF 00 9E 61 E3",
      "55 17 04 38 09 04 02 00 40 01 01 00 00 00 00 00 91 00 00 00 91 03 2E",
      "55 17 04 38 09 04 03 00 40 01 01 00 00 00 00 00 91 00 00 00 91 29 66",
      "55 17 04 38 09 01 04 00 40 01 01 00 00 00 00 00 91 00 00 00 91 9C 30",
      "55 17 04 38 09 01 05 00 40 01 01 00 00 00 00 00 91 00 00 00 91 B6 78"}},
    {"shoot_in(3, 4)",
     [] { shoot_in(3, 4); },
     {"55 17 04 38 09 04 FE FF 40 01 01 F0 00 00 00 00 91 00 03 00 62 15 92",
      "55 17 04 38 09 04 FF FF 40 01 01 F0 00 00 00 00 91 00 03 00 62 3F DA",
      "55 17 04 38 09 01 00 00 40 01 01 F0 00 00 00 00 91 00 03 00 62 3F BF",
      "55 17 04 38 09 01 01 00 40 01 01 F0 00 00 00 00 91 00 03 00 62 15 F7",
      "55 17 04 38 09 04 02 00 40 01 01 00 00 00 00 00 91 00 00 00 91 03 2E",
      "55 17 04 38 09 04 03 00 40 01 01 00 00 00 00 00 91 00 00 00 91 29 66",
      "55 17 04 38 09 01 04 00 40 01 01 00 00 00 00 00 91 00 00 00 91 9C 30",
      "55 17 04 38 09 01 05 00 40 01 01 00 00 00 00 00 91 00 00 00 91 B6 78"}},
    {"shoot_in(4, 0)",
     [] { shoot_in(4, 0); },
     {"55 17 04 38 09 04 FE FF 40 01 01 D0 00 00 00 00 91 00 32 FF 8C 62 13",
      "55 17 04 38 09 04 FF FF 40 01 01 D0 00 00 00 00 91 00 32 FF 8C 48 5B",
      "55 17 04 38 09 01 00 00 40 01 01 D0 00 00 00 00 91 00 32 FF 8C 48 3E",
      "55 17 04 38 09 01 01 00 40 01 01 D0 00 00 00 00 91 00 32 FF 8C 62 76",
      "55 17 04 38 09 04 02 00 40 01 01 00 00 00 00 00 91 00 00 00 91 03 2E",
      "55 17 04 38 09 04 03 00 40 01 01 00 00 00 00 00 91 00 00 00 91 29 66",
      "55 17 04 38 09 01 04 00 40 01 01 00 00 00 00 00 91 00 00 00 91 9C 30",
      "55 17 04 38 09 01 05 00 40 01 01 00 00 00 00 00 91 00 00 00 91 B6 78"}},
    {"shoot_in(4, 9)",
     [] { shoot_in(4, 9); },
     {"55 17 04 38 09 04 FE FF 40 01 01 D0 00 00 00 00 91 00 32 FF 8C 62 13",
      "55 17 04 38 09 04 FF FF 40 01 01 D0 00 00 00 00 91 00 32 FF 8C 48 5B",
      "55 17 04 38 09 01 00 00 40 01 01 D0 00 00 00 00 91 00 32 FF 8C 48 3E",
      "55 17 04 38 09 01 01 00 40 01 01 D0 00 00 00 00 91 00 32 FF 8C 62 76",
      "55 17 04 38 09 04 02 00 40 01 01 00 00 00 00 00 91 00 00 00 91 03 2E",
      "55 17 04 38 09 04 03 00 40 01 01 00 00 00 00 00 91 00 00 00 91 29 66",
      "55 17 04 38 09 01 04 00 40 01 01 00 00 00 00 00 91 00 00 00 91 9C 30",
      "55 17 04 38 09 01 05 00 40 01 01 00 00 00 00 00 91 00 00 00 91 B6 78"}},
    {"shoot_in(0, 3)", [] { shoot_in(0, 3); }, {}},
    {"shoot_in(2, 2)", [] { shoot_in(2, 2); }, {}},
    {"shoot_in(5, 0)", [] { shoot_in(5, 0); }, {}},
    {"camera_set_video_resolution(1920, 1080, 60)",
     [] { camera_set_video_resolution(1920, 1080, 60); },
     {"55 12 04 C7 02 01 FE FF 40 02 18 0A 06 00 00 00 27 FA",
      "55 0F 04 A2 02 01 FF FF 40 02 AF 0A 06 F1 48"}},
    {"camera_set_video_resolution(1000, 1000, 60)",
     [] { camera_set_video_resolution(1000, 1000, 60); },
     {"55 12 04 C7 02 01 FE FF 40 02 18 00 06 00 00 00 8F B6",
      "55 0F 04 A2 02 01 FF FF 40 02 AF 00 06 81 B5"}},
    {"camera_set_video_resolution(1280, 720, 23)",
     [] { camera_set_video_resolution(1280, 720, 23); },
     {"55 12 04 C7 02 01 FE FF 40 02 18 04 00 00 00 00 05 D0",
      "55 0F 04 A2 02 01 FF FF 40 02 AF 04 00 D7 B7"}},
    {"camera_set_video_resolution(4096, 2160, 120)",
     [] { camera_set_video_resolution(4096, 2160, 120); },
     {"55 12 04 C7 02 01 FE FF 40 02 18 16 07 00 00 00 EC 25",
      "55 0F 04 A2 02 01 FF FF 40 02 AF 16 07 49 65"}},
    {"camera_set_shot_format(0)",
     [] { camera_set_shot_format(0); },
     {"55 0E 04 66 02 01 FE FF 40 02 16 00 2B AB"}},
    {"camera_set_shot_format(2)",
     [] { camera_set_shot_format(2); },
     {"55 0E 04 66 02 01 FE FF 40 02 16 02 39 88"}},
    {"camera_set_shot_format(3)", [] { camera_set_shot_format(3); }, {}},
    {"camera_stop_interval()",
     [] { camera_stop_interval(); },
     {"55 17 04 38 09 01 FE FF 40 01 01 10 00 00 00 00 91 00 00 00 81 AE 51",
      "55 17 04 38 09 01 FF FF 40 01 01 00 00 00 00 00 91 00 00 00 91 57 DB",
      "55 17 04 38 09 01 00 00 40 01 01 10 00 00 00 00 91 00 00 00 81 F6 DA",
      "55 17 04 38 09 01 01 00 40 01 01 00 00 00 00 00 91 00 00 00 91 0F 50"}},
    {"link_state().interval_active.store(1); camera_shutter_release(0)",
     [] {
       link_state().interval_active.store(1);
       camera_shutter_release(0);
     },
     {"55 17 04 38 09 01 FE FF 40 01 01 10 00 00 00 00 91 00 00 00 81 AE 51",
      "55 17 04 38 09 01 FF FF 40 01 01 00 00 00 00 00 91 00 00 00 91 57 DB",
      "55 17 04 38 09 01 00 00 40 01 01 10 00 00 00 00 91 00 00 00 81 F6 DA",
      "55 17 04 38 09 01 01 00 40 01 01 00 00 00 00 00 91 00 00 00 91 0F 50"}},
    {"stop_shot()",
     [] { stop_shot(); },
     {"55 17 04 38 09 04 FE FF 40 01 01 00 00 00 00 00 91 00 00 00 91 0F 35",
      "55 17 04 38 09 01 FF FF 40 01 01 00 00 00 00 00 91 00 00 00 91 57 DB"}},
};

TEST(CameraOps, EveryOperationSendsItsPackets) {
  for (const Row& row : kRows) {
    SCOPED_TRACE(row.call);
    reset(0xFFFE);
    row.run();
    EXPECT_EQ(packets(), row.packets);
  }
}

std::string logged(void (*run)()) {
  testing::internal::CaptureStderr();
  run();
  return testing::internal::GetCapturedStderr();
}

TEST(CameraOps, LogLines) {
  reset();
  EXPECT_EQ(logged([] { camera_digital_zoom(150); }), "Digital zoom 100%\n");
  EXPECT_EQ(logged([] { camera_digital_zoom(100); }), "");  // unchanged: nothing at all
  EXPECT_EQ(logged([] { camera_set_video_resolution(1920, 1080, 60); }),
            "set video resolution 1920x1080@60\n");
  EXPECT_EQ(logged([] { camera_set_shot_format(2); }), "set shot mode JPG+RAW\n");
  EXPECT_EQ(logged([] { camera_set_shot_format(7); }), "");
  EXPECT_EQ(logged([] { gimbal_position_preset(4); }), "set position 4\n");
  EXPECT_EQ(logged([] { camera_record(1); }), "set mode video\nrecord start\n");
  hud_set_u8(camtest::g_hud, HUD_CAMERA_MODE, 1);
  EXPECT_EQ(logged([] { camera_record(0); }), "record stop\n");
  EXPECT_EQ(logged([] { camera_shoot(); }), "set mode photo\nshot\n");
  EXPECT_EQ(logged([] { camera_stop_interval(); }), "stop interval shoting\n");
  EXPECT_EQ(logged([] { stop_shot(); }), "stop shot\n");
  // Printed even when the link is down.
  link_state().link_up.store(0);
  EXPECT_EQ(logged([] { camera_digital_zoom(10); }), "Digital zoom 10%\n");
}

TEST(CameraOps, ButtonPressActsOnEveryTenthCall) {
  reset();
  std::vector<int> acting;
  for (int call = 1; call <= 25; call++) {
    size_t before = packets().size();
    gimbal_button_press(1);
    if (packets().size() != before) acting.push_back(call);
  }
  EXPECT_EQ(acting, (std::vector<int>{1, 11, 21}));
  EXPECT_EQ(link_state().button_divider.load(), 25u);
  // Three presses, 10 ms, three releases.
  EXPECT_EQ(camtest::rhythm(), "4p 10 7p 10 7p 10 3p");
}

TEST(CameraOps, RepeatedSendsStopWhenTheLinkDrops) {
  struct Case {
    const char* name;
    void (*run)();
    int drop_after;
    size_t sent;
  } cases[] = {
      {"button press", [] { gimbal_button_press(0); }, 2, 2},
      {"capture mode x2", [] { camera_set_capture_mode(1); }, 1, 1},
      {"shoot", [] { camera_shoot(); }, 3, 3},
      {"record start", [] { camera_record(1); }, 5, 5},
      {"record stop", [] { camera_record(0); }, 9, 9},
      {"preset", [] { gimbal_position_preset(1); }, 4, 4},
      {"zoom stop", [] { camera_zoom_move(0); }, 1, 1},
      {"video resolution", [] { camera_set_video_resolution(1280, 720, 30); }, 1, 1},
      {"stop interval", [] { camera_stop_interval(); }, 2, 2},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    reset();
    camtest::g_drop_link_after = c.drop_after;
    c.run();
    EXPECT_EQ(packets().size(), c.sent);
  }
  // Down from the start: nothing at all, but the gimbal time still moves.
  reset();
  link_state().link_up.store(0);
  fake_clock_install(123456, false);
  gimbal_speed(1, 2, 3);
  gimbal_set_angles(1, 2, 3);
  camera_shoot();
  camera_record(1);
  fake_clock_remove();
  EXPECT_TRUE(packets().empty());
  EXPECT_EQ(link_state().last_gimbal_command_time.load(), 123456u);
}

TEST(CameraOps, Pauses) {
  reset();
  camera_record(1);  // photo mode on the HUD: switch first, 50 ms
  EXPECT_EQ(camtest::rhythm(), "2p 50 2p 2 2p 2 2p 2 2p 2 2p 2 2p 2 2p 2 2p 2");
  reset();
  camera_record(0);
  EXPECT_EQ(camtest::rhythm(), "2p 20 2p 20 2p 20 2p 20 2p 20 2p 20 2p 20 2p 20");
  reset();
  link_state().gimbal_stopped.store(1);
  gimbal_position_preset(1);
  EXPECT_EQ(camtest::rhythm(), "2p 20 2p 20 2p 20 2p 20");
  reset();
  link_state().gimbal_stopped.store(1);
  gimbal_position_preset(0);
  EXPECT_EQ(camtest::rhythm(), "8p");
}

TEST(CameraOps, CaptureModeRestartsTheDisplayWhenTheCameraDiffers) {
  reset();
  camera_set_capture_mode(0);  // HUD says photo already
  EXPECT_EQ(camtest::commands_log(), "");
  EXPECT_EQ(packets().size(), 2u);
  camera_set_capture_mode(5);  // no packet, but the display follows
  EXPECT_EQ(packets().size(), 2u);
  EXPECT_EQ(camtest::commands_log(), "killall -q display\n");
}

TEST(CameraOps, GimbalSpeedTargets) {
  reset();
  LinkState& ls = link_state();
  gimbal_pan_tilt_speed(100, 0);
  EXPECT_TRUE(packets().empty());
  EXPECT_EQ(ls.gimbal_stopped.load(), 0);
  gimbal_pan_tilt_speed(100, 0);  // unchanged
  ls.dutch_target.store(9);
  gimbal_pan_tilt_speed(0, 0);  // stop, keeping the dutch speed
  ASSERT_EQ(packets().size(), 1u);
  EXPECT_EQ(packets()[0].substr(0, 53), "55 14 04 6D 02 04 00 00 40 04 0C 00 00 09 00 00 00 90");
  EXPECT_EQ(ls.gimbal_stopped.load(), 1);
  gimbal_pan_tilt_speed(5, 5);
  gimbal_pan_tilt_speed(0, 0);
  EXPECT_EQ(packets().size(), 2u);

  reset();
  gimbal_dutch_speed(0);  // equal to the target: nothing
  EXPECT_TRUE(packets().empty());
  gimbal_dutch_speed(4);
  EXPECT_EQ(link_state().dutch_target.load(), 4);
  gimbal_dutch_speed(0);
  EXPECT_EQ(packets().size(), 1u);
  EXPECT_EQ(link_state().gimbal_stopped.load(), 1);
  gimbal_dutch_speed(3);
  EXPECT_EQ(link_state().gimbal_stopped.load(), 0);
}

TEST(CameraOps, ViewerMotionAddsTheRcShares) {
  reset();
  LinkState& ls = link_state();
  ls.rc_pan_share.store(10);
  ls.rc_tilt_share.store(-4);
  ls.gimbal_stopped.store(1);
  viewer_motion_command(1, 5, 6);
  EXPECT_EQ(ls.pan_target.load(), 15);
  EXPECT_EQ(ls.tilt_target.load(), 2);
  EXPECT_EQ(ls.viewer_pan.load(), 5);
  EXPECT_EQ(ls.viewer_tilt.load(), 6);
  EXPECT_EQ(ls.gimbal_stopped.load(), 0);
  ls.rc_pan_share.store(0);
  ls.rc_tilt_share.store(0);
  viewer_motion_command(1, 0, 0);  // stop sent, and the flag set afterwards
  EXPECT_EQ(packets().size(), 1u);
  EXPECT_EQ(ls.gimbal_stopped.load(), 1);

  viewer_motion_command(2, -2, 7);
  EXPECT_EQ(ls.zoom_step.load(), 7);
  ls.digital_zoom_percent.store(30);
  viewer_motion_command(2, -1, 15);
  EXPECT_EQ(ls.digital_zoom_percent.load(), 45);
  viewer_motion_command(2, -3, 1);
  EXPECT_EQ(ls.zoom_speed.load(), 1);
}

float float_at(const std::string& hex, size_t offset) {
  uint8_t b[4];
  for (int i = 0; i < 4; i++)
    b[i] = static_cast<uint8_t>(std::stoul(hex.substr((offset + i) * 3, 2), nullptr, 16));
  float f;
  memcpy(&f, b, sizeof f);
  return f;
}

TEST(CameraOps, AttitudeFromRc) {
  reset();
  gimbal_attitude_rc(1000, -2000);  // half angles 0.25 and -0.5 rad
  ASSERT_EQ(packets().size(), 1u);
  const std::string p = packets()[0];
  EXPECT_EQ(p.substr(0, 32), "55 33 04 C2 03 04 00 00 00 03 42");
  double ha = 0.25, hb = -0.5;
  EXPECT_NEAR(float_at(p, 11), std::cos(hb) * std::cos(ha), 1e-6);
  EXPECT_NEAR(float_at(p, 15), std::sin(hb) * std::cos(ha), 1e-6);
  EXPECT_NEAR(float_at(p, 19), std::cos(hb) * std::sin(ha), 1e-6);
  EXPECT_NEAR(float_at(p, 23), -(std::sin(hb) * std::sin(ha)), 1e-6);
  for (size_t i = 27; i <= 48; i++) EXPECT_EQ(p.substr(i * 3, 2), "00");
  EXPECT_EQ(attitude_from_rc.load(), 1);
  gimbal_attitude_set(1, 0, 0, 0);
  EXPECT_EQ(attitude_from_rc.load(), 0);
}

}  // namespace
