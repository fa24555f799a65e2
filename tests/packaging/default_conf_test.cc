// The default settings file that the package puts on /boot must be exactly
// what the daemon's own writer makes of a fresh record, and must read back
// into that record, in both forms the daemon meets: the CR LF master and the
// /run copy without CRs.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

#include "core/config_record.h"
#include "core/hud_block.h"
#include "core/shm_names.h"
#include "config/config_file.h"
#include "platform/paths.h"
#include "platform/shell.h"
#include "testing/sandbox.h"

namespace {

void write_all(const std::string& path, const std::string& text) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << text;
}

std::string strip_cr_at_line_end(const std::string& text) {
  std::string out;
  for (size_t i = 0; i < text.size(); i++) {
    if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n') continue;
    out += text[i];
  }
  return out;
}

class DefaultConf : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(getcwd(old_cwd_, sizeof old_cwd_), old_cwd_);
    ASSERT_EQ(chdir(tmp_.dir.c_str()), 0);
    prefix_ = "pqwpkg" + std::to_string(getpid()) + "_";
    config_shm_set_prefix(prefix_.c_str());
    hud_.assign(kHudSize, 0);
    hud_set_block(hud_.data());
    packaged_ = test_read_file(PQW_DEFAULT_CONF);
    ASSERT_FALSE(packaged_.empty()) << PQW_DEFAULT_CONF;
  }
  void TearDown() override {
    shm_unlink(config_shm_name().c_str());
    hud_set_block(nullptr);
    paths_set_root("");
    shell_set_sandbox("");
    config_shm_set_prefix("");
    EXPECT_EQ(chdir(old_cwd_), 0);
  }

  // The record config_load builds from a working-directory file of this text.
  ConfigRecord load(const std::string& text) {
    write_all(tmp_.dir + "/pelquarinthos.conf", text);
    EXPECT_GE(config_load(), 0);
    return *config_record();
  }

  TempDir tmp_{"default-conf"};
  char old_cwd_[4096] = {};
  std::string prefix_;
  std::vector<uint8_t> hud_;
  std::string packaged_;
};

TEST_F(DefaultConf, IsTheWritersTextForTheDefaultRecordAndReadsBackToIt) {
  ConfigRecord defaults = load("");
  EXPECT_STREQ(defaults.rc_input_mode, "pwm");
  EXPECT_STREQ(defaults.rc2_input_mode, "sbus");
  EXPECT_EQ(std::string(defaults.rc_input_map), std::string(31, ','));

  // 48 settings, each after its comments and followed by an empty line; CR LF
  // throughout and an empty last line.
  EXPECT_EQ(config_file_text(&defaults), packaged_);
  size_t settings = 0;
  std::istringstream lines(packaged_);
  for (std::string line; std::getline(lines, line);) {
    ASSERT_FALSE(line.empty());
    ASSERT_EQ(line.back(), '\r');
    if (line[0] != '#' && line != "\r") settings++;
  }
  EXPECT_EQ(settings, 48u);
  EXPECT_EQ(packaged_.substr(packaged_.size() - 4), "\r\n\r\n");

  // The master as it is and the /run copy both give the default record; the
  // map's 32 empty entries leave every RC channel without a function.
  for (const std::string& text : {packaged_, strip_cr_at_line_end(packaged_)}) {
    std::fill(hud_.begin(), hud_.end(), 0);
    ConfigRecord got = load(text);
    EXPECT_EQ(memcmp(&got, &defaults, sizeof got), 0);
    for (size_t ch = 0; ch < 32; ch++) EXPECT_EQ(hud_get_u8(hud_.data(), HUD_RC_MAP + ch), 255);
  }
}

TEST_F(DefaultConf, SavedAgainGivesTheSameBytesAndTheSameRunCopy) {
  load(packaged_);
  // mount and umount stay absent (they do nothing); the /run copy needs the
  // real cat and sed.
  TestSandbox box("default-conf-save");
  ASSERT_TRUE(box.link_tool("cat"));
  ASSERT_TRUE(box.link_tool("sed"));

  config_save();

  EXPECT_EQ(box.read("boot/pelquarinthos-wired.conf"), packaged_);
  EXPECT_EQ(box.read("run/pelquarinthos.conf"), strip_cr_at_line_end(packaged_));
}

}  // namespace
