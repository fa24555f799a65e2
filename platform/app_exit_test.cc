// Ending the process while other threads still use the shared paths.
#include "platform/app_exit.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <string>
#include <thread>

#include "platform/paths.h"
#include "platform/shell.h"

namespace {

// Forks; the child sets the root and sandbox, starts threads that read them
// without pause (as the supervisor does) and ends through app_exit(3). The
// child's stderr (where a sanitizer reports) and its wait status come back.
std::string exit_under_readers(int* status) {
  int fds[2];
  if (pipe2(fds, O_CLOEXEC) != 0) return "pipe";
  pid_t pid = fork();
  if (pid == 0) {
    dup2(fds[1], STDOUT_FILENO);
    dup2(fds[1], STDERR_FILENO);
    close(fds[0]);
    close(fds[1]);
    paths_set_root("/tmp/pqw-exit-test-root-long-enough-for-the-heap");
    shell_set_sandbox("/tmp/pqw-exit-test-sandbox-long-enough-for-the-heap");
    std::atomic<size_t> sum{0};
    std::atomic<int> started{0};
    for (int i = 0; i < 3; i++) {
      std::thread([&] {
        started++;
        for (;;) sum += root_path("/boot/x").size() + shell_sandbox().size();
      }).detach();
    }
    while (started.load() < 3) {
    }
    printf("exiting\n");  // held in stdout's buffer: a pipe is not a terminal
    app_exit(3);
    _exit(99);  // not reached
  }
  close(fds[1]);
  std::string err;
  char buf[4096];
  ssize_t n;
  while ((n = read(fds[0], buf, sizeof buf)) > 0) err.append(buf, static_cast<size_t>(n));
  close(fds[0]);
  waitpid(pid, status, 0);
  return err;
}

TEST(AppExit, SafeWhileThreadsReadSharedState) {
  for (int i = 0; i < 20; i++) {
    int status = -1;
    std::string err = exit_under_readers(&status);
    ASSERT_TRUE(WIFEXITED(status)) << err;
    ASSERT_EQ(WEXITSTATUS(status), 3) << err;
    // Output buffered before the exit is flushed; nothing follows it.
    ASSERT_EQ(err, "exiting\n");
  }
}

}  // namespace
