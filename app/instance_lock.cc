#include "app/instance_lock.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include "core/config_record.h"
#include "core/health_file.h"
#include "platform/paths.h"

std::string instance_lock_path(const std::string& root, const std::string& shm_prefix) {
  return root + kHealthDir + "/" + shm_prefix + "daemon.lock";
}

bool instance_lock(std::string* why) {
  mkdir(root_path(kHealthDir).c_str(), 0755);
  std::string path = instance_lock_path(paths_root(), config_shm_prefix());
  // The descriptor stays open, unused, for the life of the process; the
  // kernel drops the lock when the process ends, however it ends.
  int fd = open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
  if (fd < 0) {
    *why = "cannot open " + path + ": " + strerror(errno);
    return false;
  }
  if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
    int err = errno;
    char pid[32] = {};
    ssize_t n = pread(fd, pid, sizeof pid - 1, 0);
    while (n > 0 && (pid[n - 1] == '\n' || pid[n - 1] == ' ')) pid[--n] = 0;
    close(fd);
    if (err == EWOULDBLOCK) {
      *why = std::string("already running") + (n > 0 ? std::string(" as pid ") + pid : "") +
             " (lock " + path + "); stop it first, or give this copy another --shm-prefix";
    } else {
      *why = "cannot lock " + path + ": " + strerror(err);
    }
    return false;
  }
  char text[32];
  int len = snprintf(text, sizeof text, "%d\n", static_cast<int>(getpid()));
  if (ftruncate(fd, 0) == 0 && pwrite(fd, text, static_cast<size_t>(len), 0) != len) {
    // The pid is only for the message of a second copy.
  }
  return true;
}
