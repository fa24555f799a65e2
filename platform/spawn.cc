#include "platform/spawn.h"

#include <cerrno>
#include <csignal>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <sched.h>
#include <spawn.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace {

// Ours with env_add on top, in `keep` (which owns nothing: the strings stay
// where they are).
char* const* child_env(const SpawnOptions& o, std::vector<char*>* keep) {
  if (o.envp) return o.envp;
  if (o.env_add.empty()) return environ;
  auto replaced = [&](const char* entry) {
    for (const std::string& add : o.env_add) {
      size_t eq = add.find('=');
      if (eq != std::string::npos && strncmp(entry, add.c_str(), eq + 1) == 0) return true;
    }
    return false;
  };
  for (char** e = environ; *e; e++)
    if (!replaced(*e)) keep->push_back(*e);
  for (const std::string& add : o.env_add) keep->push_back(const_cast<char*>(add.c_str()));
  keep->push_back(nullptr);
  return keep->data();
}

pid_t spawn_with_posix_spawn(const char* path, char* const* argv, char* const* envp, int out,
                             int err, const SpawnOptions& o) {
  posix_spawn_file_actions_t fa;
  posix_spawn_file_actions_init(&fa);
  if (out >= 0) posix_spawn_file_actions_adddup2(&fa, out, STDOUT_FILENO);
  if (err >= 0) posix_spawn_file_actions_adddup2(&fa, err, STDERR_FILENO);
  if (o.only_std_fds) posix_spawn_file_actions_addclosefrom_np(&fa, 3);
  posix_spawnattr_t attr;
  posix_spawnattr_init(&attr);
  if (o.sched_policy >= 0) {
    sched_param sp{};
    sp.sched_priority = o.sched_priority;
    posix_spawnattr_setschedpolicy(&attr, o.sched_policy);
    posix_spawnattr_setschedparam(&attr, &sp);
    posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETSCHEDULER);
  }
  pid_t pid = -1;
  int rc = o.search_path ? posix_spawnp(&pid, path, &fa, &attr, argv, envp)
                         : posix_spawn(&pid, path, &fa, &attr, argv, envp);
  posix_spawnattr_destroy(&attr);
  posix_spawn_file_actions_destroy(&fa);
  return rc == 0 ? pid : -1;
}

// posix_spawn has no step for the parent-death signal: it must be set in the
// child between fork and exec. Everything is built before the fork and the
// child makes system calls only, so this is safe in a threaded process too.
pid_t spawn_with_fork(const char* path, char* const* argv, char* const* envp, int out, int err,
                      const SpawnOptions& o) {
  sched_param sp{};
  sp.sched_priority = o.sched_priority;
  pid_t parent = getpid();
  pid_t pid = fork();
  if (pid != 0) return pid;
  prctl(PR_SET_PDEATHSIG, o.death_signal);
  // The parent may have ended before the line above.
  if (getppid() != parent) _exit(127);
  if (out >= 0) dup2(out, STDOUT_FILENO);
  if (err >= 0) dup2(err, STDERR_FILENO);
  if (o.only_std_fds) close_range(3, ~0U, 0);
  if (o.sched_policy >= 0) sched_setscheduler(0, o.sched_policy, &sp);
  if (o.search_path)
    execvpe(path, argv, envp);
  else
    execve(path, argv, envp);
  _exit(127);
}

int64_t monotonic_ms() {
  timespec ts{};
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return ts.tv_sec * 1000LL + ts.tv_nsec / 1000000;
}

}  // namespace

pid_t spawn_process(const std::vector<std::string>& argv, const SpawnOptions& o) {
  if (argv.empty()) return -1;
  std::vector<char*> args;
  for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
  args.push_back(nullptr);
  const char* path = o.path ? o.path : args[0];
  // A failed exec shows as -1 only where the C library can see it: not in
  // the forked child, and not under qemu-user, whose vfork-style clone runs
  // the child on its own. A program named by its path is checked first, so
  // every start method says at once that it cannot start.
  if (!o.search_path && access(path, X_OK) != 0) return -1;
  std::vector<char*> env_keep;
  char* const* envp = child_env(o, &env_keep);
  int out = o.out_fd, err = o.err_fd, log = -1;
  if (o.log_path && (out < 0 || err < 0)) {
    log = open(o.log_path, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (log < 0) return -1;
    if (out < 0) out = log;
    if (err < 0) err = log;
  }
  pid_t pid = o.death_signal ? spawn_with_fork(path, args.data(), envp, out, err, o)
                             : spawn_with_posix_spawn(path, args.data(), envp, out, err, o);
  if (log >= 0) close(log);
  return pid < 0 ? -1 : pid;
}

int spawn_wait(pid_t pid) {
  int status = 0;
  while (waitpid(pid, &status, 0) < 0) {
    if (errno != EINTR) return -1;
  }
  return status;
}

bool spawn_running(pid_t pid, int* status) {
  int st = -1;
  pid_t r = waitpid(pid, &st, WNOHANG);
  if (r == 0) return true;
  if (status) *status = r == pid ? st : -1;
  return false;
}

int spawn_stop(pid_t pid, int grace_ms) {
  if (pid <= 0) return -1;
  kill(pid, SIGTERM);
  int status = -1;
  // Real time, not the clock tests replace.
  for (int64_t end = monotonic_ms() + grace_ms; spawn_running(pid, &status);) {
    if (monotonic_ms() >= end) {
      kill(pid, SIGKILL);
      return spawn_wait(pid);
    }
    timespec pause{0, 10 * 1000000};
    nanosleep(&pause, nullptr);
  }
  return status;
}
