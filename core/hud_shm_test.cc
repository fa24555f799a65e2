// /hud_mem: created, grown, never shrunk.
#include <gtest/gtest.h>

#include "core/hud_block.h"
#include "testing/shm_prefix.h"

namespace {

TEST(HudShm, CreatesGrowsButNeverShrinks) {
  ShmPrefix p;
  uint8_t* a = hud_shm_open();
  ASSERT_NE(a, nullptr);
  EXPECT_EQ(p.size_of(hud_shm_name()), static_cast<off_t>(kHudSize));
  a[100] = 42;
  uint8_t* b = hud_shm_open();  // the same object again, contents kept
  EXPECT_EQ(b[100], 42);
  munmap(a, kHudSize);
  munmap(b, kHudSize);

  // A bigger block left by someone else keeps its size; a shorter one grows
  // so that writes near the end do not fault.
  int fd = shm_open(hud_shm_name().c_str(), O_RDWR | O_CLOEXEC, 0600);
  ASSERT_EQ(ftruncate(fd, 4096), 0);
  munmap(hud_shm_open(), kHudSize);
  EXPECT_EQ(p.size_of(hud_shm_name()), 4096);
  ASSERT_EQ(ftruncate(fd, 100), 0);
  close(fd);
  uint8_t* c = hud_shm_open();
  c[kHudSize - 1] = 1;
  EXPECT_EQ(p.size_of(hud_shm_name()), static_cast<off_t>(kHudSize));
  munmap(c, kHudSize);
}

}  // namespace
