// config_load: defaults, the settings file, the copy in /config_mem.
#include "config/config_file.h"

#include <gtest/gtest.h>

#include <cstring>
#include <fstream>

#include "core/config_record.h"
#include "core/hud_block.h"
#include "testing/sandbox.h"
#include "testing/shm_prefix.h"

namespace {

alignas(8) uint8_t g_hud[kHudSize];

struct InDir {
  char old[4096];
  explicit InDir(const std::string& dir) {
    EXPECT_NE(getcwd(old, sizeof old), nullptr);
    EXPECT_EQ(chdir(dir.c_str()), 0);
  }
  ~InDir() { EXPECT_EQ(chdir(old), 0); }
};

TEST(ConfigLoad, DefaultsFileAndConfigMem) {
  ShmPrefix p;
  TempDir t("app-test");
  InDir in(t.dir);
  hud_set_block(g_hud);
  memset(g_hud, 0, sizeof g_hud);
  ConfigRecord* rec = config_record();

  // No file: defaults only, map left empty, /config_mem not created.
  rec->camera_type = 9;
  EXPECT_LT(config_load(), 0);
  EXPECT_EQ(rec->camera_type, 0);
  EXPECT_STREQ(rec->rc_input_mode, "pwm");
  EXPECT_STREQ(rec->rc2_input_mode, "sbus");
  EXPECT_STREQ(rec->rc_input_map, "");
  EXPECT_EQ(p.size_of(config_shm_name()), -1);

  // A file without a map gets 31 commas and leaves the channel table alone;
  // an existing /config_mem of another size is set to one record.
  int fd = shm_open(config_shm_name().c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
  ASSERT_EQ(ftruncate(fd, 10), 0);
  close(fd);
  std::ofstream("pelquarinthos.conf") << "rc_input_mode=ppmppm\nshield_timeout=30\n";
  EXPECT_GE(config_load(), 0);
  EXPECT_STREQ(rec->rc_input_mode, "ppmpp");
  EXPECT_EQ(rec->shield_timeout, 30000);
  EXPECT_STREQ(rec->rc_input_map, ",,,,,,,,,,,,,,,,,,,,,,,,,,,,,,,");
  for (int i = 0; i < 32; i++) EXPECT_EQ(g_hud[HUD_RC_MAP + i], 0);
  EXPECT_EQ(p.size_of(config_shm_name()), static_cast<off_t>(sizeof(ConfigRecord)));

  // The record is published there, and again after each change.
  fd = shm_open(config_shm_name().c_str(), O_RDONLY | O_CLOEXEC, 0);
  void* m = mmap(nullptr, sizeof(ConfigRecord), PROT_READ, MAP_SHARED, fd, 0);
  close(fd);
  ASSERT_NE(m, MAP_FAILED);
  const ConfigRecord* shm = static_cast<const ConfigRecord*>(m);
  EXPECT_EQ(memcmp(shm, rec, sizeof *rec), 0);
  rec->hdmi_enabled = 1;
  config_publish();
  EXPECT_EQ(shm->hdmi_enabled, 1);

  // An empty map key: the stored text is the default, the table all 255.
  std::ofstream("pelquarinthos.conf") << "rc_input_map=\n";
  config_load();
  EXPECT_STREQ(rec->rc_input_map, ",,,,,,,,,,,,,,,,,,,,,,,,,,,,,,,");
  for (int i = 0; i < 32; i++) EXPECT_EQ(g_hud[HUD_RC_MAP + i], 255);
  munmap(m, sizeof(ConfigRecord));
}

}  // namespace
