#include "periph/shield.h"

#include <atomic>
#include <cstdint>
#include <cstdio>

#include "core/config_record.h"
#include "core/hud_block.h"
#include "platform/clock.h"
#include "platform/wiringpi.h"

namespace {

constexpr int kShieldPin = 25;

// Each field is one word written whole; an open and a close that race may
// leave the servo and the flag disagreeing until the next move.
struct ShieldState {
  std::atomic<int32_t> open{0};
  std::atomic<ConfigRecord*> config{nullptr};
  std::atomic<uint8_t*> hud{nullptr};
  std::atomic<uint32_t> opened_at{0};
};

ShieldState g_shield;

ConfigRecord* enabled_config() {
  ConfigRecord* cfg = g_shield.config.load();
  if (cfg == nullptr || cfg_get(cfg->shield_enabled) == 0) return nullptr;
  return cfg;
}

}  // namespace

void shield_init() {
  fprintf(stderr, "Init PWM output\n");
  g_shield.config.store(config_record());
  g_shield.hud.store(hud_block());
  // The GPIO layer sets up the hardware PWM channel (servo frame, one count
  // per microsecond) when the pin is put into PWM mode.
  pinMode(kShieldPin, PWM_OUTPUT);
  shield_move_closed();
}

void shield_move_open() {
  ConfigRecord* cfg = enabled_config();
  if (cfg == nullptr) return;
  uint8_t* hud = g_shield.hud.load();
  if (hud != nullptr) hud_set_u32(hud, HUD_SHIELD_CLOSED, 0);
  if (g_shield.open.load() != 0) return;
  int32_t position = cfg_get(cfg->shield_open);
  fprintf(stderr, "shield open to position %d, timeout is %d\n", position,
          cfg_get(cfg->shield_timeout));
  pwmWrite(kShieldPin, position);
  g_shield.open.store(1);
  g_shield.opened_at.store(time_ms());
}

void shield_move_closed() {
  ConfigRecord* cfg = enabled_config();
  if (cfg == nullptr) return;
  uint8_t* hud = g_shield.hud.load();
  if (hud != nullptr) hud_set_u32(hud, HUD_SHIELD_CLOSED, 1);
  if (g_shield.open.load() == 0) return;
  int32_t position = cfg_get(cfg->shield_close);
  fprintf(stderr, "shield closed to position %d\n", position);
  pwmWrite(kShieldPin, position);
  g_shield.open.store(0);
}

void shield_auto_close() {
  ConfigRecord* cfg = enabled_config();
  uint8_t* hud = g_shield.hud.load();
  if (cfg == nullptr || hud == nullptr) return;
  uint8_t status = hud_get_u8(hud, HUD_CAMERA_STATUS);
  // Bit 3 (shooting) or bits 6-7 (recording): the camera is busy.
  if ((status & 0x08) != 0 || status >= 64) {
    g_shield.opened_at.store(time_ms());
    return;
  }
  if (time_age(time_ms(), g_shield.opened_at.load()) > cfg_get(cfg->shield_timeout))
    shield_move_closed();
}

int shield_state() { return g_shield.open.load(); }

void shield_reset() {
  g_shield.open.store(0);
  g_shield.config.store(nullptr);
  g_shield.hud.store(nullptr);
  g_shield.opened_at.store(0);
}
