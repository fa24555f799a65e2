// Fuzzer helper: what every target that drives the daemon's own code needs
// to stay inside its process (a throw-away root and shell sandbox for the
// whole run, process-ending calls caught, pauses skipped), and the check
// that ends the run when the link would send a packet the camera drops.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "link/link_packet.h"
#include "platform/app_exit.h"
#include "platform/clock.h"
#include "testing/sandbox.h"

// A link writer: aborts on a packet with a wrong start, length byte, header
// CRC8 or CRC16.
inline int fuzz_check_packet(const uint8_t* p, size_t n) {
  if (n < 13 || n > 255 || p[0] != 0x55 || p[1] != n || p[2] != 0x04) abort();
  if (link_crc8(p, 3) != p[3]) abort();
  if (link_crc16(p, n) != 0) abort();
  return static_cast<int>(n);
}

// Once per run: the sandbox (removed at exit); app_exit only returns and
// sleep_us returns at once.
inline TestSandbox* fuzz_sandbox_start(const char* tag) {
  static TestSandbox* box = nullptr;
  box = new TestSandbox(tag);
  atexit([] { delete box; });
  app_exit_set_hook([](int) {});
  sleep_set_fn([](uint32_t) {});
  return box;
}
