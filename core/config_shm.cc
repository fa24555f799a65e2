// The copy of the ConfigRecord that local processes read in /config_mem.
#include <atomic>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <mutex>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include "core/config_record.h"
#include "core/shm_names.h"
#include "platform/shm_group.h"

namespace {
std::mutex g_publish_mutex;
uint8_t* g_shm = nullptr;  // guarded by g_publish_mutex
}  // namespace

std::string config_shm_name() { return std::string("/") + config_shm_prefix() + "config_mem"; }

ConfigRecord* config_shm_open() {
  std::string name = config_shm_name();
  int fd = shm_open(name.c_str(), O_RDWR, 0600);
  bool created = false;
  if (fd < 0) {
    fd = shm_open(name.c_str(), O_RDWR | O_CREAT, 0600);
    created = true;
  }
  // Start-up goes on without the copy; the display processes then see none.
  static std::atomic<bool> said{false};
  auto fail = [&](const char* what) {
    if (!said.exchange(true)) fprintf(stderr, "config: cannot %s %s\n", what, name.c_str());
    if (fd >= 0) close(fd);
    return nullptr;
  };
  if (fd < 0) return fail("open");
  shm_share_with_group(fd, name.c_str(), kShmReaderGroup);
  // A larger object (made by a display process of another version) is left
  // as it is; a shorter one would raise SIGBUS past its end, so it grows.
  struct stat st;
  if (created || (fstat(fd, &st) == 0 && st.st_size < static_cast<off_t>(sizeof(ConfigRecord)))) {
    if (ftruncate(fd, sizeof(ConfigRecord)) != 0) return fail("size");
  }
  void* p = mmap(nullptr, sizeof(ConfigRecord), PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
  if (p == MAP_FAILED) return fail("map");
  return static_cast<ConfigRecord*>(p);  // the descriptor stays open
}

void config_shm_attach(ConfigRecord* shm) {
  std::lock_guard<std::mutex> lock(g_publish_mutex);
  g_shm = reinterpret_cast<uint8_t*>(shm);
}

void config_publish() {
  std::lock_guard<std::mutex> lock(g_publish_mutex);
  if (!g_shm) return;
  // Fields change under other threads through relaxed atomics; copy the same
  // way, byte by byte, so the copy never races with them.
  const uint8_t* src = reinterpret_cast<const uint8_t*>(config_record());
  for (size_t i = 0; i < sizeof(ConfigRecord); i++) {
    uint8_t v =
        std::atomic_ref<uint8_t>(const_cast<uint8_t&>(src[i])).load(std::memory_order_relaxed);
    std::atomic_ref<uint8_t>(g_shm[i]).store(v, std::memory_order_relaxed);
  }
}
