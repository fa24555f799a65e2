// The copy of the ConfigRecord that local processes read in /config_mem.
#include <atomic>
#include <cstdio>
#include <mutex>

#include "core/config_record.h"
#include "core/shm_names.h"
#include "platform/log.h"
#include "platform/shm.h"
#include "platform/shm_group.h"

namespace {
std::mutex g_publish_mutex;
uint8_t* g_shm = nullptr;  // guarded by g_publish_mutex
}  // namespace

std::string config_shm_name() { return std::string("/") + config_shm_prefix() + "config_mem"; }

ConfigRecord* config_shm_open() {
  std::string name = config_shm_name();
  ShmError error;
  void* p = shm_map_rw(name.c_str(), sizeof(ConfigRecord), &error, kShmReaderGroup);
  if (p) return static_cast<ConfigRecord*>(p);
  // Start-up goes on without the copy; the display processes then see none.
  static std::atomic<bool> said{false};
  static const char* const kWhat[] = {"map", "open", "size", "map"};
  if (!said.exchange(true))
    log_error("config: cannot %s %s\n", kWhat[static_cast<int>(error)], name.c_str());
  return nullptr;
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
