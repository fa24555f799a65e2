#include "platform/shm_group.h"

#include <fcntl.h>
#include <grp.h>
#include <gtest/gtest.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>

namespace {

TEST(ShmGroup, AnExistingGroupMayReadAMissingOneChangesNothing) {
  const group* own = getgrgid(getegid());
  ASSERT_NE(own, nullptr);
  const std::string own_name = own->gr_name;
  struct Row {
    std::string group;
    bool shared;
    mode_t mode;
  } rows[] = {{own_name, true, 0640}, {"pqw-no-such-group", false, 0600}};
  for (const Row& r : rows) {
    SCOPED_TRACE(r.group);
    std::string name = "/pqw_shm_group_test_" + std::to_string(getpid());
    int fd = shm_open(name.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    ASSERT_GE(fd, 0);
    EXPECT_EQ(shm_share_with_group(fd, name.c_str(), r.group.c_str()), r.shared);
    struct stat st;
    ASSERT_EQ(fstat(fd, &st), 0);
    EXPECT_EQ(st.st_mode & 0777, r.mode);
    EXPECT_EQ(st.st_gid, getegid());
    close(fd);
    shm_unlink(name.c_str());
  }
}

}  // namespace
