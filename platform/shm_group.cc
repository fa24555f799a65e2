#include "platform/shm_group.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <grp.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

bool shm_share_with_group(int fd, const char* name, const char* group_name) {
  struct group grp {};
  struct group* found = nullptr;
  std::vector<char> buffer(16384);
  if (getgrnam_r(group_name, &grp, buffer.data(), buffer.size(), &found) != 0 || !found)
    return false;
  struct stat st;
  // A block made by someone else (a display process that started first) keeps
  // the owner's choice.
  if (fstat(fd, &st) != 0 || st.st_uid != geteuid()) return false;
  if (fchown(fd, static_cast<uid_t>(-1), found->gr_gid) != 0 || fchmod(fd, 0640) != 0) {
    fprintf(stderr, "shared memory %s: cannot give it to group %s: %s\n", name, group_name,
            strerror(errno));
    return false;
  }
  return true;
}
