#include "platform/shell.h"

#include <atomic>
#include <fcntl.h>
#include <mutex>
#include <sys/wait.h>
#include <unistd.h>

#include <map>

#include "platform/spawn.h"

namespace {

// Never destroyed: commands run from threads until the process ends.
std::string& g_sandbox = *new std::string;
std::mutex& g_mutex = *new std::mutex;  // guards the log and the popen table
std::map<FILE*, pid_t>& g_children = *new std::map<FILE*, pid_t>;  // popen'ed children by stream
std::map<FILE*, int>& g_fake_status = *new std::map<FILE*, int>;   // streams of the runner
std::atomic<ShellRunner> g_runner{nullptr};

// A wait status as the real shell's would read for exit code `code`.
int fake_wait_status(int code) { return (code & 0xff) << 8; }

// The runner's output behind a pipe, read like a child's.
FILE* fake_popen(ShellRunner runner, const char* cmd) {
  std::string out;
  int code = runner(cmd, &out);
  int fds[2];
  if (pipe2(fds, O_CLOEXEC) != 0) return nullptr;
  // A pipe holds 64 KiB without a reader; more is cut.
  size_t n = out.size() < 65536 ? out.size() : 65536;
  ssize_t w = n ? write(fds[1], out.data(), n) : 0;
  (void)w;
  close(fds[1]);
  FILE* f = fdopen(fds[0], "r");
  if (!f) {
    close(fds[0]);
    return nullptr;
  }
  g_fake_status[f] = fake_wait_status(code);
  return f;
}

void log_command(const char* cmd) {
  std::string path = g_sandbox + "/commands.log";
  int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
  if (fd < 0) return;
  std::string line = std::string(cmd) + "\n";
  ssize_t w = write(fd, line.data(), line.size());
  (void)w;
  close(fd);
}

// Spawns /bin/sh -c cmd; when out_fd is given the child's stdout goes to it.
pid_t spawn_shell(const char* cmd, int out_fd) {
  SpawnOptions o;
  o.path = "/bin/sh";
  o.out_fd = out_fd;
  std::string path_env;
  char* sandbox_env[3];
  if (!g_sandbox.empty()) {
    path_env = "PATH=" + g_sandbox + "/bin";
    sandbox_env[0] = path_env.data();
    sandbox_env[1] = const_cast<char*>("LC_ALL=C");
    sandbox_env[2] = nullptr;
    o.envp = sandbox_env;
  }
  return spawn_process({"sh", "-c", cmd}, o);
}

}  // namespace

void shell_set_sandbox(const char* dir) {
  std::lock_guard<std::mutex> lock(g_mutex);
  g_sandbox = dir ? dir : "";
}
const std::string& shell_sandbox() { return g_sandbox; }

void shell_set_runner(ShellRunner runner) { g_runner.store(runner); }

int shell_run(const char* cmd) {
  {
    std::lock_guard<std::mutex> lock(g_mutex);
    if (!g_sandbox.empty()) log_command(cmd);
  }
  if (ShellRunner runner = g_runner.load()) return fake_wait_status(runner(cmd, nullptr));
  pid_t pid = spawn_shell(cmd, -1);
  if (pid < 0) return -1;
  return spawn_wait(pid);
}

int shell_exit_code(int wait_status) {
  if (wait_status < 0 || !WIFEXITED(wait_status)) return -1;
  return WEXITSTATUS(wait_status);
}

FILE* shell_popen(const char* cmd) {
  int fds[2];
  if (pipe2(fds, O_CLOEXEC) != 0) return nullptr;
  std::lock_guard<std::mutex> lock(g_mutex);
  if (!g_sandbox.empty()) log_command(cmd);
  if (ShellRunner runner = g_runner.load()) {
    close(fds[0]);
    close(fds[1]);
    return fake_popen(runner, cmd);
  }
  pid_t pid = spawn_shell(cmd, fds[1]);
  close(fds[1]);
  if (pid < 0) {
    close(fds[0]);
    return nullptr;
  }
  FILE* f = fdopen(fds[0], "r");
  if (!f) {
    close(fds[0]);
    spawn_wait(pid);
    return nullptr;
  }
  g_children[f] = pid;
  return f;
}

int shell_pclose(FILE* f) {
  pid_t pid = -1;
  {
    std::lock_guard<std::mutex> lock(g_mutex);
    auto it = g_children.find(f);
    if (it != g_children.end()) {
      pid = it->second;
      g_children.erase(it);
    }
    auto fake = g_fake_status.find(f);
    if (fake != g_fake_status.end()) {
      int status = fake->second;
      g_fake_status.erase(fake);
      fclose(f);
      return status;
    }
  }
  fclose(f);
  return pid < 0 ? -1 : spawn_wait(pid);
}
