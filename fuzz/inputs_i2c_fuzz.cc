// libFuzzer target: panel packets through the I2C handler.
//
// Input: 6 bytes of camera-reported state (camera status, gimbal state,
// camera mode, EV tenths, manual focus position, focus range), then packets
// of one panel byte and 10 report bytes each. Panel byte: bit 0 the panel,
// bit 1 mends the checksum (so that the handler itself is reached). Sends
// are captured and dropped; the clock, sleeps and shell are the harness's
// fakes.
#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "core/config_record.h"
#include "core/hud_block.h"
#include "fuzz/fuzz_harness.h"
#include "control/camera_ops.h"
#include "control/i2c_input.h"
#include "link/link_packet.h"
#include "link/link_state.h"
#include "platform/clock.h"
#include "platform/paths.h"
#include "platform/shell.h"

namespace {

uint8_t g_hud[kHudSize];

int drop_writer(const uint8_t*, size_t length) { return static_cast<int>(length); }

void setup_once() {
  static bool done = false;
  if (done) return;
  done = true;
  fuzz_sandbox_start("fuzz-i2c");
  hud_set_block(g_hud);
  link_set_writer(drop_writer);
  ConfigRecord* cfg = config_record();
  cfg->i2c_input_enabled = 1;
  cfg->i2c_input_speed_pan = 100;
  cfg->i2c_input_speed_tilt = 100;
  cfg->i2c_input_speed_dutch = 100;
  link_state().link_up.store(1);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  setup_once();
  i2c_input_reset();
  if (size < 6) return 0;
  hud_set_u8(g_hud, HUD_CAMERA_STATUS, data[0]);
  hud_set_u8(g_hud, HUD_GIMBAL_STATE, data[1]);
  hud_set_u8(g_hud, HUD_CAMERA_MODE, data[2]);
  hud_set_u8(g_hud, HUD_EV_TENTHS, data[3]);
  hud_set_u8(g_hud, HUD_FOCUS_POSITION, data[4]);
  link_state().focus_range.store(static_cast<uint32_t>(data[5]) * 16);
  data += 6;
  size -= 6;
  while (size > 0) {
    int panel = data[0] & 1;
    bool mend = (data[0] & 2) != 0;
    size_t n = size - 1 < kPanelPacketSize ? size - 1 : kPanelPacketSize;
    uint8_t packet[kPanelPacketSize] = {0};
    memcpy(packet, data + 1, n);
    if (mend && n > 0) {
      uint8_t x = 0;
      for (size_t i = 0; i + 1 < n; i++) x ^= packet[i];
      packet[n - 1] = x;
    }
    i2c_take_packet(panel, packet, n);
    data += 1 + n;
    size -= 1 + n;
  }
  return 0;
}
