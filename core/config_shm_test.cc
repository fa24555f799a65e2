// /config_mem: a larger object kept, an open failure said once.
#include <gtest/gtest.h>

#include "core/config_record.h"
#include "testing/shm_prefix.h"

namespace {

TEST(ConfigShm, LargerObjectKeptAndOpenFailureSaidOnce) {
  ShmPrefix p;
  int fd = shm_open(config_shm_name().c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
  ASSERT_EQ(ftruncate(fd, 4096), 0);
  close(fd);
  ConfigRecord* a = config_shm_open();
  ASSERT_NE(a, nullptr);
  munmap(a, sizeof(ConfigRecord));
  EXPECT_EQ(p.size_of(config_shm_name()), 4096);

  config_shm_set_prefix("no/such/");  // a name shm_open refuses
  testing::internal::CaptureStderr();
  EXPECT_EQ(config_shm_open(), nullptr);
  EXPECT_EQ(config_shm_open(), nullptr);
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "config: cannot open /no/such/config_mem\n");
  config_shm_set_prefix(p.prefix.c_str());
}

}  // namespace
