// Fuzzer helper: what every target that drives the daemon's own code needs
// to stay inside its process (a throw-away root and shell sandbox for the
// whole run, process-ending calls caught, pauses skipped, the clock and the
// shell faked so that a run takes microseconds), and the check
// that ends the run when the link would send a packet the camera drops.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <unistd.h>
#include <vector>

#include "app/hooks.h"
#include "link/link_packet.h"
#include "platform/app_exit.h"
#include "platform/shell.h"
#include "testing/fake_clock.h"
#include "testing/sandbox.h"

// A link writer: aborts on a packet with a wrong start, length byte, header
// CRC8 or CRC16.
inline int fuzz_check_packet(const uint8_t* p, size_t n) {
  if (n < 13 || n > 255 || p[0] != 0x55 || p[1] != n || p[2] != 0x04) abort();
  if (link_crc8(p, 3) != p[3]) abort();
  if (link_crc16(p, n) != 0) abort();
  return static_cast<int>(n);
}

// For targets whose code logs a line per input: asks libFuzzer to move its
// own output (and the sanitizer reports) to a copy of stderr and close the
// original (its flags are parsed after LLVMFuzzerInitialize returns).
inline void fuzz_quiet_stderr(int* argc, char*** argv) {
  static std::vector<char*> args(*argv, *argv + *argc);
  static char quiet[] = "-close_fd_mask=2";
  args.insert(args.begin() + 1, quiet);
  args.push_back(nullptr);
  *argc += 1;
  *argv = args.data();
}

// Stands in for /bin/sh: every command "succeeds" at once and prints nothing.
inline int fuzz_shell(const char*, std::string*) { return 0; }

// Once per run: the sandbox (removed at exit; in memory where /dev/shm
// exists, so that the configuration saves' fsync costs nothing); app_exit
// only returns; sleeps and the clock are the fake clock, the shell the fake above.
inline TestSandbox* fuzz_sandbox_start(const char* tag) {
  static TestSandbox* box = nullptr;
  if (!getenv("TMPDIR") && access("/dev/shm", W_OK) == 0) setenv("TMPDIR", "/dev/shm", 0);
  box = new TestSandbox(tag);
  atexit([] { delete box; });
  app_install_hooks();
  app_exit_set_hook([](int) {});
  // The clock moves only by the sleeps (skipped at once) and by a
  // millisecond at each reading, so that every deadline loop ends and runs
  // do not depend on the machine's load.
  fake_clock_install(1000);
  fake_clock_set_tick(1);
  shell_set_runner(fuzz_shell);
  return box;
}
