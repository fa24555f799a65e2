// Start-up fill of the ConfigRecord and its copy in /config_mem.
#include <atomic>
#include <cstring>
#include <fcntl.h>
#include <mutex>
#include <sys/mman.h>
#include <unistd.h>

#include "app/config_record.h"
#include "app/shm_names.h"
#include "config/config_file.h"
#include "platform/shm_group.h"

namespace {
std::mutex g_publish_mutex;
uint8_t* g_shm = nullptr;  // guarded by g_publish_mutex
}  // namespace

std::string config_shm_name() { return std::string("/") + config_shm_prefix() + "config_mem"; }

ConfigRecord* config_shm_open() {
  std::string name = config_shm_name();
  int fd = shm_open(name.c_str(), O_RDWR, 0600);
  if (fd < 0) fd = shm_open(name.c_str(), O_RDWR | O_CREAT, 0600);
  if (fd < 0) return nullptr;
  shm_share_with_group(fd, name.c_str(), kShmReaderGroup);
  if (ftruncate(fd, sizeof(ConfigRecord)) != 0) {
    close(fd);
    return nullptr;
  }
  void* p = mmap(nullptr, sizeof(ConfigRecord), PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
  if (p == MAP_FAILED) {
    close(fd);
    return nullptr;
  }
  return static_cast<ConfigRecord*>(p);  // the descriptor stays open
}

int32_t config_load() {
  ConfigRecord* rec = config_record();
  memset(rec, 0, sizeof *rec);
  CFG_TEXT_SET(rec->rc2_input_mode, "sbus");
  CFG_TEXT_SET(rec->rc_input_mode, "pwm");
  int rc = config_read_file("pelquarinthos.conf");
  if (rc < 0) return rc;
  if (cfg_get(rec->rc_input_map[0]) == 0) {
    // 32 empty channel entries; the channel table is left as it is.
    CFG_TEXT_SET(rec->rc_input_map, ",,,,,,,,,,,,,,,,,,,,,,,,,,,,,,,");
  }
  ConfigRecord* shm = config_shm_open();
  {
    std::lock_guard<std::mutex> lock(g_publish_mutex);
    g_shm = reinterpret_cast<uint8_t*>(shm);
  }
  config_publish();
  return rc;
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
