#include "platform/spawn.h"

#include <gtest/gtest.h>

#include <pthread.h>

#include <csignal>
#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include "testing/sandbox.h"

namespace {

// Both ways of starting (posix_spawn, and fork for the parent-death signal)
// give the child the same output, environment and descriptors.
TEST(Spawn, OutputEnvironmentAndDescriptors) {
  TestSandbox box("spawn");
  int leaked = open("/dev/null", O_RDONLY);  // not close-on-exec: only_std_fds must close it
  ASSERT_GE(leaked, 3);
  std::string script = "echo out; echo err >&2; echo \"$PQW_A $PQW_B\"; [ -e /proc/self/fd/" +
                       std::to_string(leaked) + " ] && echo leaked; exit 3";
  setenv("PQW_A", "old", 1);
  for (int death : {0, SIGKILL}) {
    SCOPED_TRACE(death);
    std::string log = box.dir + "/log" + std::to_string(death);
    SpawnOptions o;
    o.path = "/bin/sh";
    o.log_path = log.c_str();
    o.env_add = {"PQW_A=new", "PQW_B=b"};
    o.only_std_fds = true;
    o.death_signal = death;
    int status = spawn_wait(spawn_process({"sh", "-c", script}, o));
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 3);
    EXPECT_EQ(test_read_file(log), "out\nerr\nnew b\n");
  }
  close(leaked);
  unsetenv("PQW_A");
  EXPECT_EQ(spawn_process({"/no/such/program"}), -1);
}

TEST(Spawn, StopEscalatesToSigkill) {
  pid_t polite = spawn_process({"/bin/sleep", "30"});
  int status = spawn_stop(polite, 2000);
  EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGTERM);
  // A child that holds TERM back (it inherits our blocked signals) is killed.
  sigset_t term, old;
  sigemptyset(&term);
  sigaddset(&term, SIGTERM);
  pthread_sigmask(SIG_BLOCK, &term, &old);
  pid_t stubborn = spawn_process({"/bin/sleep", "30"});
  pthread_sigmask(SIG_SETMASK, &old, nullptr);
  status = spawn_stop(stubborn, 100);
  EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL);
  EXPECT_EQ(spawn_stop(-1), -1);
}

}  // namespace
