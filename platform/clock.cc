#include "platform/clock.h"

#include <atomic>
#include <ctime>
#include <unistd.h>

namespace {

uint32_t real_time_ms() {
  timespec ts{};
  clock_gettime(CLOCK_REALTIME, &ts);
  uint64_t ms = static_cast<uint64_t>(ts.tv_sec) * 1000u +
                static_cast<uint64_t>((ts.tv_nsec + 500000) / 1000000);
  return static_cast<uint32_t>(ms);
}

void real_sleep(uint32_t us) { usleep(us); }

std::atomic<ClockSource> g_source{real_time_ms};
std::atomic<SleepFn> g_sleep{real_sleep};

}  // namespace

uint32_t time_ms() { return g_source.load(std::memory_order_relaxed)(); }
void time_set_source(ClockSource source) { g_source.store(source ? source : real_time_ms); }

void sleep_us(uint32_t us) { g_sleep.load(std::memory_order_relaxed)(us); }
void sleep_set_fn(SleepFn fn) { g_sleep.store(fn ? fn : real_sleep); }
