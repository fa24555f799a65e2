#include "platform/shm.h"

#include "platform/shm_group.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

bool shorter(int fd, size_t size) {
  struct stat st;
  return fstat(fd, &st) != 0 || st.st_size < static_cast<off_t>(size);
}

void* fail(ShmError* error, ShmError what, int fd) {
  if (fd >= 0) close(fd);
  if (error) *error = what;
  return nullptr;
}

}  // namespace

void* shm_map_rw(const char* name, size_t size, ShmError* error, const char* reader_group) {
  if (error) *error = ShmError::none;
  // shm_open descriptors are close-on-exec; the mapping outlives them.
  int fd = shm_open(name, O_RDWR | O_CREAT | O_CLOEXEC, 0600);
  if (fd < 0) return fail(error, ShmError::open, -1);
  if (reader_group) shm_share_with_group(fd, name, reader_group);
  if (shorter(fd, size) && ftruncate(fd, static_cast<off_t>(size)) != 0)
    return fail(error, ShmError::size, fd);
  void* p = mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
  if (p == MAP_FAILED) return fail(error, ShmError::map, fd);
  close(fd);
  return p;
}

const void* shm_map_ro(const char* name, size_t size) {
  int fd = shm_open(name, O_RDONLY | O_CLOEXEC, 0);
  if (fd < 0) return nullptr;
  if (shorter(fd, size)) return fail(nullptr, ShmError::size, fd);
  void* p = mmap(nullptr, size, PROT_READ, MAP_SHARED, fd, 0);
  close(fd);
  return p == MAP_FAILED ? nullptr : p;
}
