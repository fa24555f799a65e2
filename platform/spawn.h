// The one way a program of ours starts another: the shell runner, --sim's
// camera simulator, the end-to-end harness and the benchmarks.
#pragma once

#include <sys/types.h>

#include <string>
#include <vector>

struct SpawnOptions {
  const char* path = nullptr;  // the program; nullptr: argv[0]
  bool search_path = false;    // look the program up in PATH, as execvp does
  int out_fd = -1;             // the child's stdout (-1: ours)
  int err_fd = -1;             // the child's stderr (-1: ours)
  // stdout and stderr both to this file (created or emptied), where out_fd
  // and err_fd are not given.
  const char* log_path = nullptr;
  // Descriptors 3 and up closed, as the service manager starts a daemon, so
  // that what its own children inherit is its own doing.
  bool only_std_fds = false;
  char* const* envp = nullptr;       // the whole environment; nullptr: ours plus env_add
  std::vector<std::string> env_add;  // NAME=value, replacing a NAME already there
  // The signal the child gets when the spawning thread ends, however it ends,
  // so that a test or a --sim daemon that dies leaves nothing running.
  int death_signal = 0;
  int sched_policy = -1;  // SCHED_OTHER, SCHED_FIFO, ... (-1: ours)
  int sched_priority = 0;
};

// Starts the program with argv; its pid, or -1 when it could not start.
// Every descriptor of ours stays out of the child unless named above (they
// are all close-on-exec). Safe from any thread.
pid_t spawn_process(const std::vector<std::string>& argv, const SpawnOptions& options = {});

// The child's wait status once it has ended (-1: no such child).
int spawn_wait(pid_t pid);
// True while the child runs; when it has ended, *status gets its wait status.
bool spawn_running(pid_t pid, int* status = nullptr);
// SIGTERM, then SIGKILL if it has not ended within grace_ms; its wait
// status (-1 for no child). pid <= 0 is ignored.
int spawn_stop(pid_t pid, int grace_ms = 2000);
