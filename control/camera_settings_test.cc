// Camera settings, byte for byte: the whole shutter table, the EV steps, ISO,
// aperture, focus, image mode, power and reset.
#include "control/camera_settings.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <string>
#include <vector>

#include "testing/camera_fixture.h"

namespace {

using camtest::packets;
using camtest::reset;

struct Row {
  const char* call;
  void (*run)();
  std::vector<std::string> packets;
};

// The first packet of each row gets sequence number 0x00FF.
const Row kRows[] = {
    {"camera_set_shutter(\"30s\")",
     [] { camera_set_shutter("30s"); },
     {"55 11 04 92 02 01 FF 00 40 02 28 01 1E 00 00 CF 69"}},
    {"camera_set_shutter(\"25s\")",
     [] { camera_set_shutter("25s"); },
     {"55 11 04 92 02 01 FF 00 40 02 28 01 19 00 00 CA E5"}},
    {"camera_set_shutter(\"20s\")",
     [] { camera_set_shutter("20s"); },
     {"55 11 04 92 02 01 FF 00 40 02 28 01 14 00 00 B5 1A"}},
    {"camera_set_shutter(\"15s\")",
     [] { camera_set_shutter("15s"); },
     {"55 11 04 92 02 01 FF 00 40 02 28 01 0F 00 00 86 B6"}},
    {"camera_set_shutter(\"10s\")",
     [] { camera_set_shutter("10s"); },
     {"55 11 04 92 02 01 FF 00 40 02 28 01 0A 00 00 3B 8F"}},
    {"camera_set_shutter(\"9s\")",
     [] { camera_set_shutter("9s"); },
     {"55 11 04 92 02 01 FF 00 40 02 28 01 09 00 00 5F 60"}},
    {"camera_set_shutter(\"8s\")",
     [] { camera_set_shutter("8s"); },
     {"55 11 04 92 02 01 FF 00 40 02 28 01 08 00 00 83 3A"}},
    {"camera_set_shutter(\"7s\")",
     [] { camera_set_shutter("7s"); },
     {"55 11 04 92 02 01 FF 00 40 02 28 01 07 00 00 44 70"}},
    {"camera_set_shutter(\"6s\")",
     [] { camera_set_shutter("6s"); },
     {"55 11 04 92 02 01 FF 00 40 02 28 01 06 00 00 98 2A"}},
    {"camera_set_shutter(\"5s\")",
     [] { camera_set_shutter("5s"); },
     {"55 11 04 92 02 01 FF 00 40 02 28 01 05 00 00 FC C5"}},
    {"camera_set_shutter(\"4s\")",
     [] { camera_set_shutter("4s"); },
     {"55 11 04 92 02 01 FF 00 40 02 28 01 04 00 00 20 9F"}},
    {"camera_set_shutter(\"3.2s\")",
     [] { camera_set_shutter("3.2s"); },
     {"55 11 04 92 02 01 FF 00 40 02 28 01 03 00 02 37 30"}},
    {"camera_set_shutter(\"3s\")",
     [] { camera_set_shutter("3s"); },
     {"55 11 04 92 02 01 FF 00 40 02 28 01 03 00 00 25 13"}},
    {"camera_set_shutter(\"2.5s\")",
     [] { camera_set_shutter("2.5s"); },
     {"55 11 04 92 02 01 FF 00 40 02 28 01 02 00 05 54 1E"}},
    {"camera_set_shutter(\"2s\")",
     [] { camera_set_shutter("2s"); },
     {"55 11 04 92 02 01 FF 00 40 02 28 01 02 00 00 F9 49"}},
    {"camera_set_shutter(\"1.6s\")",
     [] { camera_set_shutter("1.6s"); },
     {"55 11 04 92 02 01 FF 00 40 02 28 01 01 00 06 AB C3"}},
    {"camera_set_shutter(\"1.3s\")",
     [] { camera_set_shutter("1.3s"); },
     {"55 11 04 92 02 01 FF 00 40 02 28 01 01 00 03 06 94"}},
    {"camera_set_shutter(\"1s\")",
     [] { camera_set_shutter("1s"); },
     {"55 11 04 92 02 01 FF 00 40 02 28 01 01 00 00 9D A6"}},
    {"camera_set_shutter(\"1.25\")",
     [] { camera_set_shutter("1.25"); },
     {"55 11 04 92 02 01 FF 00 40 02 28 01 01 80 19 11 A7"}},
    {"camera_set_shutter(\"1.67\")",
     [] { camera_set_shutter("1.67"); },
     {"55 11 04 92 02 01 FF 00 40 02 28 01 01 80 43 CE 5A"}},
    {"camera_set_shutter(\"2\")",
     [] { camera_set_shutter("2"); },
     {"55 11 04 92 02 01 FF 00 40 02 28 01 02 80 00 35 C5"}},
    {"camera_set_shutter(\"2.5\")",
     [] { camera_set_shutter("2.5"); },
     {"55 11 04 92 02 01 FF 00 40 02 28 01 02 80 05 98 92"}},
    {"camera_set_shutter(\"3\")",
     [] { camera_set_shutter("3"); },
     {"55 11 04 92 02 01 FF 00 40 02 28 01 03 80 00 E9 9F"}},
    {"camera_set_shutter(\"4\")",
     [] { camera_set_shutter("4"); },
     {"55 11 04 92 02 01 FF 00 40 02 28 01 04 80 00 EC 13"}},
    {"camera_set_shutter(\"5\")",
     [] { camera_set_shutter("5"); },
     {"55 11 04 92 02 01 FF 00 40 02 28 01 05 80 00 30 49"}},
    {"camera_set_shutter(\"6.25\")",
     [] { camera_set_shutter("6.25"); },
     {"55 11 04 92 02 01 FF 00 40 02 28 01 06 80 19 14 2B"}},
    {"camera_set_shutter(\"8\")",
     [] { camera_set_shutter("8"); },
     {"55 11 04 92 02 01 FF 00 40 02 28 01 08 80 00 4F B6"}},
    {"camera_set_shutter(\"10\")",
     [] { camera_set_shutter("10"); },
     {"55 11 04 92 02 01 FF 00 40 02 28 01 0A 80 00 F7 03"}},
    {"camera_set_shutter(\"12.5\")",
     [] { camera_set_shutter("12.5"); },
     {"55 11 04 92 02 01 FF 00 40 02 28 01 0C 80 05 83 82"}},
    {"camera_set_shutter(\"15\")",
     [] { camera_set_shutter("15"); },
     {"55 11 04 92 02 01 FF 00 40 02 28 01 0F 80 00 4A 3A"}},
    {"camera_set_shutter(\"20\")",
     [] { camera_set_shutter("20"); },
     {"55 11 04 92 02 01 FF 00 40 02 28 01 14 80 00 79 96"}},
    {"camera_set_shutter(\"25\")",
     [] { camera_set_shutter("25"); },
     {"55 11 04 92 02 01 FF 00 40 02 28 01 19 80 00 06 69"}},
    {"camera_set_shutter(\"30\")",
     [] { camera_set_shutter("30"); },
     {"55 11 04 92 02 01 FF 00 40 02 28 01 1E 80 00 03 E5"}},
    {"camera_set_shutter(\"40\")",
     [] { camera_set_shutter("40"); },
     {"55 11 04 92 02 01 FF 00 40 02 28 01 28 80 00 74 B5"}},
    {"camera_set_shutter(\"50\")",
     [] { camera_set_shutter("50"); },
     {"55 11 04 92 02 01 FF 00 40 02 28 01 32 80 00 9B 43"}},
    {"camera_set_shutter(\"60\")",
     [] { camera_set_shutter("60"); },
     {"55 11 04 92 02 01 FF 00 40 02 28 01 3C 80 00 80 53"}},
    {"camera_set_shutter(\"80\")",
     [] { camera_set_shutter("80"); },
     {"55 11 04 92 02 01 FF 00 40 02 28 01 50 80 00 6E F3"}},
    {"camera_set_shutter(\"100\")",
     [] { camera_set_shutter("100"); },
     {"55 11 04 92 02 01 FF 00 40 02 28 01 64 80 00 A1 16"}},
    {"camera_set_shutter(\"120\")",
     [] { camera_set_shutter("120"); },
     {"55 11 04 92 02 01 FF 00 40 02 28 01 78 80 00 97 36"}},
    {"camera_set_shutter(\"160\")",
     [] { camera_set_shutter("160"); },
     {"55 11 04 92 02 01 FF 00 40 02 28 01 A0 80 00 5A 7F"}},
    {"camera_set_shutter(\"200\")",
     [] { camera_set_shutter("200"); },
     {"55 11 04 92 02 01 FF 00 40 02 28 01 C8 80 00 D5 BC"}},
    {"camera_set_shutter(\"240\")",
     [] { camera_set_shutter("240"); },
     {"55 11 04 92 02 01 FF 00 40 02 28 01 F0 80 00 B9 FC"}},
    {"camera_set_shutter(\"320\")",
     [] { camera_set_shutter("320"); },
     {"55 11 04 92 02 01 FF 00 40 02 28 01 40 81 00 23 6F"}},
    {"camera_set_shutter(\"400\")",
     [] { camera_set_shutter("400"); },
     {"55 11 04 92 02 01 FF 00 40 02 28 01 90 81 00 2C E0"}},
    {"camera_set_shutter(\"500\")",
     [] { camera_set_shutter("500"); },
     {"55 11 04 92 02 01 FF 00 40 02 28 01 F4 81 00 00 86"}},
    {"camera_set_shutter(\"640\")",
     [] { camera_set_shutter("640"); },
     {"55 11 04 92 02 01 FF 00 40 02 28 01 80 82 00 D1 4F"}},
    {"camera_set_shutter(\"800\")",
     [] { camera_set_shutter("800"); },
     {"55 11 04 92 02 01 FF 00 40 02 28 01 20 83 00 DE 59"}},
    {"camera_set_shutter(\"1000\")",
     [] { camera_set_shutter("1000"); },
     {"55 11 04 92 02 01 FF 00 40 02 28 01 E8 83 00 86 95"}},
    {"camera_set_shutter(\"1250\")",
     [] { camera_set_shutter("1250"); },
     {"55 11 04 92 02 01 FF 00 40 02 28 01 E2 84 00 F4 AB"}},
    {"camera_set_shutter(\"1600\")",
     [] { camera_set_shutter("1600"); },
     {"55 11 04 92 02 01 FF 00 40 02 28 01 40 86 00 2B 22"}},
    {"camera_set_shutter(\"2000\")",
     [] { camera_set_shutter("2000"); },
     {"55 11 04 92 02 01 FF 00 40 02 28 01 D0 87 00 8A B2"}},
    {"camera_set_shutter(\"2500\")",
     [] { camera_set_shutter("2500"); },
     {"55 11 04 92 02 01 FF 00 40 02 28 01 C4 89 00 6E CE"}},
    {"camera_set_shutter(\"3200\")",
     [] { camera_set_shutter("3200"); },
     {"55 11 04 92 02 01 FF 00 40 02 28 01 80 8C 00 C1 D5"}},
    {"camera_set_shutter(\"4000\")",
     [] { camera_set_shutter("4000"); },
     {"55 11 04 92 02 01 FF 00 40 02 28 01 A0 8F 00 92 FC"}},
    {"camera_set_shutter(\"5000\")",
     [] { camera_set_shutter("5000"); },
     {"55 11 04 92 02 01 FF 00 40 02 28 01 88 93 00 5A 05"}},
    {"camera_set_shutter(\"6400\")",
     [] { camera_set_shutter("6400"); },
     {"55 11 04 92 02 01 FF 00 40 02 28 01 00 99 00 04 32"}},
    {"camera_set_shutter(\"8000\")",
     [] { camera_set_shutter("8000"); },
     {"55 11 04 92 02 01 FF 00 40 02 28 01 40 9F 00 A2 60"}},
    {"camera_set_shutter(\"1/1000\")",
     [] { camera_set_shutter("1/1000"); },
     {"55 11 04 92 02 01 FF 00 40 02 28 01 00 00 00 41 FC"}},
    {"camera_set_shutter(\"30S\")",
     [] { camera_set_shutter("30S"); },
     {"55 11 04 92 02 01 FF 00 40 02 28 01 00 00 00 41 FC"}},
    {"camera_set_ev(strtod(\"3.0\", nullptr))",
     [] { camera_set_ev(strtod("3.0", nullptr)); },
     {"55 0E 04 66 02 01 FF 00 40 02 2E 19 78 AF"}},
    {"camera_set_ev(strtod(\"2.7\", nullptr))",
     [] { camera_set_ev(strtod("2.7", nullptr)); },
     {"55 0E 04 66 02 01 FF 00 40 02 2E 18 F1 BE"}},
    {"camera_set_ev(strtod(\"2.3\", nullptr))",
     [] { camera_set_ev(strtod("2.3", nullptr)); },
     {"55 0E 04 66 02 01 FF 00 40 02 2E 17 06 46"}},
    {"camera_set_ev(strtod(\"2.0\", nullptr))",
     [] { camera_set_ev(strtod("2.0", nullptr)); },
     {"55 0E 04 66 02 01 FF 00 40 02 2E 16 8F 57"}},
    {"camera_set_ev(strtod(\"1.7\", nullptr))",
     [] { camera_set_ev(strtod("1.7", nullptr)); },
     {"55 0E 04 66 02 01 FF 00 40 02 2E 15 14 65"}},
    {"camera_set_ev(strtod(\"1.3\", nullptr))",
     [] { camera_set_ev(strtod("1.3", nullptr)); },
     {"55 0E 04 66 02 01 FF 00 40 02 2E 14 9D 74"}},
    {"camera_set_ev(strtod(\"1.0\", nullptr))",
     [] { camera_set_ev(strtod("1.0", nullptr)); },
     {"55 0E 04 66 02 01 FF 00 40 02 2E 13 22 00"}},
    {"camera_set_ev(strtod(\"0.7\", nullptr))",
     [] { camera_set_ev(strtod("0.7", nullptr)); },
     {"55 0E 04 66 02 01 FF 00 40 02 2E 12 AB 11"}},
    {"camera_set_ev(strtod(\"0.3\", nullptr))",
     [] { camera_set_ev(strtod("0.3", nullptr)); },
     {"55 0E 04 66 02 01 FF 00 40 02 2E 11 30 23"}},
    {"camera_set_ev(strtod(\"0.0\", nullptr))",
     [] { camera_set_ev(strtod("0.0", nullptr)); },
     {"55 0E 04 66 02 01 FF 00 40 02 2E 10 B9 32"}},
    {"camera_set_ev(strtod(\"-0.3\", nullptr))",
     [] { camera_set_ev(strtod("-0.3", nullptr)); },
     {"55 0E 04 66 02 01 FF 00 40 02 2E 0F CF DA"}},
    {"camera_set_ev(strtod(\"-0.7\", nullptr))",
     [] { camera_set_ev(strtod("-0.7", nullptr)); },
     {"55 0E 04 66 02 01 FF 00 40 02 2E 0E 46 CB"}},
    {"camera_set_ev(strtod(\"-1.0\", nullptr))",
     [] { camera_set_ev(strtod("-1.0", nullptr)); },
     {"55 0E 04 66 02 01 FF 00 40 02 2E 0D DD F9"}},
    {"camera_set_ev(strtod(\"-1.3\", nullptr))",
     [] { camera_set_ev(strtod("-1.3", nullptr)); },
     {"55 0E 04 66 02 01 FF 00 40 02 2E 0C 54 E8"}},
    {"camera_set_ev(strtod(\"-1.7\", nullptr))",
     [] { camera_set_ev(strtod("-1.7", nullptr)); },
     {"55 0E 04 66 02 01 FF 00 40 02 2E 0B EB 9C"}},
    {"camera_set_ev(strtod(\"-2.0\", nullptr))",
     [] { camera_set_ev(strtod("-2.0", nullptr)); },
     {"55 0E 04 66 02 01 FF 00 40 02 2E 0A 62 8D"}},
    {"camera_set_ev(strtod(\"-2.3\", nullptr))",
     [] { camera_set_ev(strtod("-2.3", nullptr)); },
     {"55 0E 04 66 02 01 FF 00 40 02 2E 09 F9 BF"}},
    {"camera_set_ev(strtod(\"-2.7\", nullptr))",
     [] { camera_set_ev(strtod("-2.7", nullptr)); },
     {"55 0E 04 66 02 01 FF 00 40 02 2E 08 70 AE"}},
    {"camera_set_ev(strtod(\"-3.0\", nullptr))",
     [] { camera_set_ev(strtod("-3.0", nullptr)); },
     {"55 0E 04 66 02 01 FF 00 40 02 2E 07 87 56"}},
    {"camera_set_ev(2.5)", [] { camera_set_ev(2.5); }, {}},
    {"camera_set_ev(2.66)", [] { camera_set_ev(2.66); }, {}},
    {"camera_set_iso(100)",
     [] { camera_set_iso(100); },
     {"55 0E 04 66 02 01 FF 00 40 02 2A 03 C3 77"}},
    {"camera_set_iso(200)",
     [] { camera_set_iso(200); },
     {"55 0E 04 66 02 01 FF 00 40 02 2A 04 7C 03"}},
    {"camera_set_iso(400)",
     [] { camera_set_iso(400); },
     {"55 0E 04 66 02 01 FF 00 40 02 2A 05 F5 12"}},
    {"camera_set_iso(800)",
     [] { camera_set_iso(800); },
     {"55 0E 04 66 02 01 FF 00 40 02 2A 06 6E 20"}},
    {"camera_set_iso(1600)",
     [] { camera_set_iso(1600); },
     {"55 0E 04 66 02 01 FF 00 40 02 2A 07 E7 31"}},
    {"camera_set_iso(3200)",
     [] { camera_set_iso(3200); },
     {"55 0E 04 66 02 01 FF 00 40 02 2A 08 10 C9"}},
    {"camera_set_iso(6400)",
     [] { camera_set_iso(6400); },
     {"55 0E 04 66 02 01 FF 00 40 02 2A 09 99 D8"}},
    {"camera_set_iso(0)", [] { camera_set_iso(0); }, {"55 0E 04 66 02 01 FF 00 40 02 2A 00 58 45"}},
    {"camera_set_iso(150)",
     [] { camera_set_iso(150); },
     {"55 0E 04 66 02 01 FF 00 40 02 2A 00 58 45"}},
    {"camera_set_aperture(2.8f)",
     [] { camera_set_aperture(2.8f); },
     {"55 0F 04 A2 02 01 FF 00 40 02 26 18 01 B7 F7"}},
    {"camera_set_aperture(22.0f)",
     [] { camera_set_aperture(22.0f); },
     {"55 0F 04 A2 02 01 FF 00 40 02 26 98 08 BA E6"}},
    {"camera_set_aperture(1000.0f)",
     [] { camera_set_aperture(1000.0f); },
     {"55 0F 04 A2 02 01 FF 00 40 02 26 A0 86 AE F3"}},
    {"camera_set_focus_point(0.25f, -1.5f)",
     [] { camera_set_focus_point(0.25f, -1.5f); },
     {"55 15 04 A9 02 01 FF 00 40 02 30 00 00 80 3E 00 00 C0 BF A4 CE"}},
    {"camera_set_image_mode(\"auto\")",
     [] { camera_set_image_mode("auto"); },
     {"55 0F 04 A2 02 01 FF 00 40 02 1E 01 00 DB E4"}},
    {"camera_set_image_mode(\"shutter\")",
     [] { camera_set_image_mode("shutter"); },
     {"55 0F 04 A2 02 01 FF 00 40 02 1E 02 00 B3 CE"}},
    {"camera_set_image_mode(\"aperture\")",
     [] { camera_set_image_mode("aperture"); },
     {"55 0F 04 A2 02 01 FF 00 40 02 1E 03 00 6B D7"}},
    {"camera_set_image_mode(\"manual\")",
     [] { camera_set_image_mode("manual"); },
     {"55 0F 04 A2 02 01 FF 00 40 02 1E 04 00 63 9A"}},
    {"camera_set_image_mode(\"Auto\")", [] { camera_set_image_mode("Auto"); }, {}},
    {"camera_set_power(\"sleep\")",
     [] { camera_set_power("sleep"); },
     {"55 0E 04 66 02 09 FF 00 40 09 51 01 F7 B7"}},
    {"camera_set_power(\"wakeup\")",
     [] { camera_set_power("wakeup"); },
     {"55 0E 04 66 02 09 FF 00 40 09 51 02 6C 85"}},
    {"camera_set_power(\"restart\")",
     [] { camera_set_power("restart"); },
     {"55 0E 04 66 02 09 FF 00 40 09 51 03 E5 94"}},
    {"camera_set_power(\"shutdown\")",
     [] { camera_set_power("shutdown"); },
     {"55 0E 04 66 02 09 FF 00 40 09 51 04 5A E0"}},
    {"camera_set_power(\"Sleep\")", [] { camera_set_power("Sleep"); }, {}},
    {"camera_reset()", [] { camera_reset(); }, {"55 0E 04 66 02 01 FF 00 40 02 78 00 1F A5"}},
    {"camera_set_focus_type(0)", [] { camera_set_focus_type(0); }, {}},
    {"hud_set_u8(camtest::g_hud, HUD_FOCUS_MF_AVAILABLE, 1); camera_set_focus_type(0)",
     [] {
       hud_set_u8(camtest::g_hud, HUD_FOCUS_MF_AVAILABLE, 1);
       camera_set_focus_type(0);
     },
     {"55 0E 04 66 02 01 FF 00 40 02 24 00 48 DF"}},
    {"camera_set_focus_type(1)",
     [] { camera_set_focus_type(1); },
     {"55 0E 04 66 02 01 FF 00 40 02 24 01 C1 CE", "55 0E 04 66 02 01 00 01 40 02 FA 00 0D EC"}},
    {"camera_set_focus_type(2)",
     [] { camera_set_focus_type(2); },
     {"55 0E 04 66 02 01 FF 00 40 02 24 01 C1 CE", "55 0E 04 66 02 01 00 01 40 02 FA 01 84 FD"}},
    {"camera_set_focus_type(3)", [] { camera_set_focus_type(3); }, {}},
    {"link_state().focus_range.store(1000); camera_set_manual_focus(50.0)",
     [] {
       link_state().focus_range.store(1000);
       camera_set_manual_focus(50.0);
     },
     {"55 0F 04 A2 02 01 FF 00 40 02 95 F4 01 A8 D2"}},
    {"link_state().focus_range.store(1000); camera_set_manual_focus(150.0)",
     [] {
       link_state().focus_range.store(1000);
       camera_set_manual_focus(150.0);
     },
     {"55 0F 04 A2 02 01 FF 00 40 02 95 DC 05 7F 79"}},
    {"link_state().focus_range.store(70000); camera_set_manual_focus(100.0)",
     [] {
       link_state().focus_range.store(70000);
       camera_set_manual_focus(100.0);
     },
     {"55 0F 04 A2 02 01 FF 00 40 02 95 70 11 85 29"}},
    {"camera_set_manual_focus(50.0)", [] { camera_set_manual_focus(50.0); }, {}},
};

TEST(CameraSettings, EverySettingSendsItsPackets) {
  for (const Row& row : kRows) {
    SCOPED_TRACE(row.call);
    reset(0x00FF);
    row.run();
    EXPECT_EQ(packets(), row.packets);
  }
}

TEST(CameraSettings, ShutterCodeFollowsTheRule) {
  EXPECT_EQ(shutter_code("30s"), 0x00001Eu);
  EXPECT_EQ(shutter_code("1.67"), 0x438001u);
  EXPECT_EQ(shutter_code("8000"), 0x009F40u);
  EXPECT_EQ(shutter_code("12.5"), 0x05800Cu);
  EXPECT_EQ(shutter_code("3.2s"), 0x020003u);
  EXPECT_EQ(shutter_code("1/8000"), 0u);
  EXPECT_EQ(shutter_code("7"), 0u);  // follows the rule but is not a camera speed
  EXPECT_EQ(shutter_code(""), 0u);
  EXPECT_EQ(shutter_code(nullptr), 0u);
}

std::string logged(void (*run)()) {
  testing::internal::CaptureStderr();
  run();
  return testing::internal::GetCapturedStderr();
}

TEST(CameraSettings, LogLines) {
  reset();
  EXPECT_EQ(logged([] { camera_set_ev(2.5); }), "set EV 2.5\n");
  EXPECT_EQ(logged([] { camera_set_iso(150); }), "set iso 150\n");
  EXPECT_EQ(logged([] { camera_set_shutter("1/1000"); }), "set shutter 1/1000\n");
  EXPECT_EQ(logged([] { camera_set_aperture(2.8f); }), "set aperture 2.80\n");
  EXPECT_EQ(logged([] { camera_set_image_mode("Auto"); }), "set image mode Auto\n");
  EXPECT_EQ(logged([] { camera_set_power("Sleep"); }), "Power set Sleep\n");
  EXPECT_EQ(logged([] { camera_set_focus_type(0); }), "");       // MF not available
  EXPECT_EQ(logged([] { camera_set_manual_focus(50.0); }), "");  // range not known yet
  link_state().focus_range.store(1000);
  EXPECT_EQ(logged([] { camera_set_manual_focus(50.0); }), "set manual focus 500 (50.00%)\n");
  EXPECT_EQ(logged([] { camera_set_focus_point(0.5f, 0.5f); }), "");
  EXPECT_EQ(logged([] { camera_reset(); }), "");
}

TEST(CameraSettings, AutofocusPutsThePointOnTheHud) {
  reset();
  hud_set_f64(camtest::g_hud, HUD_CAM_FOCUS_X, 0.0);
  hud_set_f64(camtest::g_hud, HUD_CAM_FOCUS_Y, 0.3);
  hud_set_u8(camtest::g_hud, HUD_CONTINUOUS_AF, 1);
  EXPECT_EQ(logged([] { camera_set_focus_type(1); }), "set focus type AF\n");
  EXPECT_EQ(hud_get_f64(camtest::g_hud, HUD_FOCUS_POINT_X), 0.5);
  EXPECT_EQ(hud_get_f64(camtest::g_hud, HUD_FOCUS_POINT_Y), 0.3);
  EXPECT_EQ(hud_get_u8(camtest::g_hud, HUD_CONTINUOUS_AF), 0);
  EXPECT_EQ(packets().size(), 2u);

  // With the link down the HUD and the log still follow.
  reset();
  link_state().link_up.store(0);
  EXPECT_EQ(logged([] { camera_set_focus_type(2); }), "set focus type AF unlim\n");
  EXPECT_EQ(hud_get_u8(camtest::g_hud, HUD_CONTINUOUS_AF), 1);
  EXPECT_TRUE(packets().empty());

  // The link drops after the first of the two packets.
  reset();
  camtest::g_drop_link_after = 1;
  camera_set_focus_type(1);
  EXPECT_EQ(packets().size(), 1u);
}

TEST(CameraSettings, OutOfRangeNumbersDoNotMisbehave) {
  reset();
  camera_set_aperture(1e30f);
  camera_set_aperture(-1e30f);
  camera_set_aperture(std::nanf(""));
  link_state().focus_range.store(0x7FFFFFFF);
  camera_set_manual_focus(1e12);
  camera_set_manual_focus(-1e12);
  ASSERT_EQ(packets().size(), 5u);
  EXPECT_EQ(packets()[0].substr(33, 5), "FF FF");  // saturated to INT32_MAX
  EXPECT_EQ(packets()[1].substr(33, 5), "00 00");  // INT32_MIN
  EXPECT_EQ(packets()[2].substr(33, 5), "00 00");  // NaN
}

}  // namespace
