// Maps the HudBlock shared with the display processes.
#include <cstdio>
#include <fcntl.h>
#include <string>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include "core/config_record.h"
#include "core/hud_block.h"
#include "core/shm_names.h"
#include "platform/shm_group.h"

namespace {
// Used when the shared block cannot be mapped, so that every subsystem still
// has somewhere to write instead of crashing on a null or failed mapping.
alignas(8) uint8_t g_private_block[kHudSize];
}  // namespace

std::string hud_shm_name() { return std::string("/") + config_shm_prefix() + "hud_mem"; }

uint8_t* hud_shm_open() {
  std::string name = hud_shm_name();
  int fd = shm_open(name.c_str(), O_RDWR, 0600);
  bool created = false;
  if (fd < 0) {
    fd = shm_open(name.c_str(), O_RDWR | O_CREAT, 0600);
    created = true;
  }
  if (fd < 0) {
    fprintf(stderr, "HUD: cannot open %s, using a private block\n", name.c_str());
    return g_private_block;
  }
  if (shm_share_with_group(fd, name.c_str(), kShmReaderGroup))
    fprintf(stderr, "HUD: %s readable by group %s\n", name.c_str(), kShmReaderGroup);
  // An existing block is reused as it is, but one left shorter than the
  // layout (a display process that created it with another size) would
  // raise SIGBUS on the first write past its end: grow it, never shrink.
  struct stat st;
  if (created || (fstat(fd, &st) == 0 && st.st_size < static_cast<off_t>(kHudSize))) {
    if (ftruncate(fd, kHudSize) != 0) {
      fprintf(stderr, "HUD: cannot size %s, using a private block\n", name.c_str());
      close(fd);
      return g_private_block;
    }
  }
  void* p = mmap(nullptr, kHudSize, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
  if (p == MAP_FAILED) {
    fprintf(stderr, "HUD: cannot map %s, using a private block\n", name.c_str());
    close(fd);
    return g_private_block;
  }
  return static_cast<uint8_t*>(p);  // the descriptor stays open for the life of the process
}

void hud_init() { hud_set_block(hud_shm_open()); }
