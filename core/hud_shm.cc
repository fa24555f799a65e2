// Maps the HudBlock shared with the display processes.
#include <cstdio>
#include <string>

#include "core/config_record.h"
#include "core/hud_block.h"
#include "core/shm_names.h"
#include "platform/log.h"
#include "platform/shm.h"
#include "platform/shm_group.h"

namespace {
// Used when the shared block cannot be mapped, so that every subsystem still
// has somewhere to write instead of crashing on a null or failed mapping.
alignas(8) uint8_t g_private_block[kHudSize];
}  // namespace

std::string hud_shm_name() { return std::string("/") + config_shm_prefix() + "hud_mem"; }

uint8_t* hud_shm_open() {
  std::string name = hud_shm_name();
  ShmError error;
  void* p = shm_map_rw(name.c_str(), kHudSize, &error, kShmReaderGroup);
  if (p) return static_cast<uint8_t*>(p);
  static const char* const kWhat[] = {"map", "open", "size", "map"};
  log_error("HUD: cannot %s %s, using a private block\n", kWhat[static_cast<int>(error)],
            name.c_str());
  return g_private_block;
}

void hud_init() { hud_set_block(hud_shm_open()); }
