// The test's own names for /hud_mem and /config_mem (a prefix with the pid),
// removed at the end, so tests never meet a running daemon's blocks or each
// other's.
#pragma once

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>

#include "core/config_record.h"
#include "core/shm_names.h"

struct ShmPrefix {
  std::string prefix;
  ShmPrefix() {
    prefix = "pqwtest" + std::to_string(getpid()) + "_";
    config_shm_set_prefix(prefix.c_str());
  }
  ~ShmPrefix() {
    shm_unlink(hud_shm_name().c_str());
    shm_unlink(config_shm_name().c_str());
    config_shm_set_prefix("");
  }
  // Size of the named object; -1 when there is none.
  off_t size_of(const std::string& name) {
    int fd = shm_open(name.c_str(), O_RDONLY | O_CLOEXEC, 0);
    if (fd < 0) return -1;
    struct stat st;
    fstat(fd, &st);
    close(fd);
    return st.st_size;
  }
};
