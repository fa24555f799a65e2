#include "testing/e2e_support.h"

#include <arpa/inet.h>
#include <cctype>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <fstream>
#include <netinet/in.h>
#include <poll.h>
#include <sys/mman.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

#include "core/config_record.h"
#include "core/hud_block.h"
#include "platform/ports.h"
#include "platform/shm.h"
#include "platform/spawn.h"
#include "testing/sandbox.h"

namespace {

const uint8_t* map_shm(const std::string& name, size_t size) {
  return static_cast<const uint8_t*>(shm_map_ro(name.c_str(), size));
}

// True once the child has ended; it is left to be reaped by e2e_running or
// e2e_stop, which still want its status.
bool has_exited(pid_t pid) {
  siginfo_t si{};
  if (waitid(P_PID, static_cast<id_t>(pid), &si, WEXITED | WNOHANG | WNOWAIT) != 0) return true;
  return si.si_pid != 0;
}

}  // namespace

std::string e2e_bin_dir() {
  const char* env = getenv("PQW_BIN_DIR");
  if (env && *env) return env;
#ifdef PQW_DEFAULT_BIN_DIR
  return PQW_DEFAULT_BIN_DIR;
#else
  return ".";
#endif
}

int64_t e2e_now_ms() {
  using namespace std::chrono;
  return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}

size_t e2e_count(const std::string& text, const std::string& what) {
  size_t n = 0;
  for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) n++;
  return n;
}

uint16_t e2e_free_udp_port() { return net_free_port(SOCK_DGRAM); }
uint16_t e2e_free_tcp_port() { return net_free_port(SOCK_STREAM); }

void e2e_write_config(E2eDaemon* d, const std::string& text) {
  if (d->dir.empty()) d->dir = test_make_temp_dir("e2e");
  mkdir((d->dir + "/work").c_str(), 0755);
  std::ofstream(d->dir + "/work/pelquarinthos.conf", std::ios::binary) << text;
}

bool e2e_start(E2eDaemon* d, const std::vector<std::string>& extra_args) {
  if (d->dir.empty()) d->dir = test_make_temp_dir("e2e");
  if (d->dir.empty()) return false;
  if (d->shm_prefix.empty())
    d->shm_prefix =
        "pqwe2e" + std::to_string(getpid()) + "_" + std::to_string(e2e_now_ms() % 1000000) + "_";
  d->viewer_port = e2e_free_udp_port();
  d->video_port = e2e_free_udp_port();
  d->djigo_port = e2e_free_tcp_port();
  d->out_path = d->dir + "/daemon.out";
  d->err_path = d->dir + "/daemon.err";
  std::string bin = e2e_bin_dir() + "/pelquarinthos-wired";
  std::vector<std::string> args = {bin,
                                   "--sim",
                                   "--sim-dir",
                                   d->dir,
                                   "--shm-prefix",
                                   d->shm_prefix,
                                   "--viewer-port",
                                   std::to_string(d->viewer_port),
                                   "--video-port",
                                   std::to_string(d->video_port),
                                   "--djigo-port",
                                   std::to_string(d->djigo_port)};
  args.insert(args.end(), extra_args.begin(), extra_args.end());
  int out = open(d->out_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  int err = open(d->err_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  SpawnOptions o;
  o.out_fd = d->journal ? err : out;
  o.err_fd = err;
  o.env_add = d->env;
  struct stat st;
  if (d->journal && fstat(err, &st) == 0)
    o.env_add.push_back("JOURNAL_STREAM=" + std::to_string(st.st_dev) + ":" +
                        std::to_string(st.st_ino));
  // The daemon starts with 0, 1 and 2 only, as under the service manager,
  // so that what its commands inherit is its own doing.
  o.only_std_fds = true;
  o.death_signal = SIGKILL;  // a test that dies leaves no daemon behind
  d->pid = out < 0 || err < 0 ? -1 : spawn_process(args, o);
  if (out >= 0) close(out);
  if (err >= 0) close(err);
  return d->pid > 0;
}

bool e2e_running(E2eDaemon* d, int* status) {
  if (d->pid <= 0 || spawn_running(d->pid, status)) return d->pid > 0;
  d->pid = -1;
  return false;
}

std::string e2e_stdout(const E2eDaemon& d) { return test_read_file(d.out_path); }
std::string e2e_stderr(const E2eDaemon& d) { return test_read_file(d.err_path); }

bool e2e_wait_output(const E2eDaemon& d, const char* text, int timeout_ms) {
  int64_t end = e2e_now_ms() + timeout_ms;
  for (;;) {
    if (e2e_stdout(d).find(text) != std::string::npos) return true;
    if (e2e_stderr(d).find(text) != std::string::npos) return true;
    if (d.pid > 0 && has_exited(d.pid)) return false;
    if (e2e_now_ms() >= end) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
}

void e2e_stop(E2eDaemon* d) {
  spawn_stop(d->pid);
  d->pid = -1;
  if (!d->shm_prefix.empty()) {
    shm_unlink(("/" + d->shm_prefix + "hud_mem").c_str());
    shm_unlink(("/" + d->shm_prefix + "config_mem").c_str());
  }
  const char* keep = getenv("PQW_E2E_KEEP");
  if (!d->dir.empty() && !d->keep_dir && !(keep && *keep == '1')) test_remove_tree(d->dir);
}

const uint8_t* e2e_hud_map(const E2eDaemon& d) {
  return map_shm("/" + d.shm_prefix + "hud_mem", kHudSize);
}
const uint8_t* e2e_config_map(const E2eDaemon& d) {
  return map_shm("/" + d.shm_prefix + "config_mem", sizeof(ConfigRecord));
}
void e2e_unmap(const uint8_t* p, size_t size) {
  if (p) munmap(const_cast<uint8_t*>(p), size);
}

bool e2e_wait_until_fn(bool (*cond)(void*), void* arg, int timeout_ms) {
  int64_t end = e2e_now_ms() + timeout_ms;
  for (;;) {
    if (cond(arg)) return true;
    if (e2e_now_ms() >= end) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
}

std::string e2e_run_tool(const char* tool, const std::vector<std::string>& args, int* status,
                         bool with_stderr) {
  std::vector<std::string> argv = {e2e_bin_dir() + "/" + tool};
  argv.insert(argv.end(), args.begin(), args.end());
  int fds[2];
  if (pipe2(fds, O_CLOEXEC) != 0) {
    if (status) *status = -1;
    return "";
  }
  SpawnOptions o;
  o.out_fd = fds[1];
  if (with_stderr) o.err_fd = fds[1];
  pid_t pid = spawn_process(argv, o);
  close(fds[1]);
  std::string out;
  char buf[4096];
  for (ssize_t n;
       pid > 0 && ((n = read(fds[0], buf, sizeof buf)) > 0 || (n < 0 && errno == EINTR));)
    if (n > 0) out.append(buf, static_cast<size_t>(n));
  close(fds[0]);
  if (status) *status = pid > 0 ? spawn_wait(pid) : -1;
  return out;
}

uint16_t e2e_camsim_control_port(const E2eDaemon& d, int timeout_ms) {
  const std::string key = "control 127.0.0.1:";
  uint16_t port = 0;
  e2e_wait_until(
      [&] {
        std::string out = test_read_file(d.dir + "/camsim.out");
        size_t at = out.find(key);
        if (at == std::string::npos || !isdigit(static_cast<unsigned char>(out[at + key.size()])))
          return false;
        long p = strtol(out.c_str() + at + key.size(), nullptr, 10);
        if (p <= 0 || p > 65535) return false;
        port = static_cast<uint16_t>(p);
        return true;
      },
      timeout_ms);
  return port;
}

std::string e2e_camsim_command(uint16_t control_port, const std::string& cmd) {
  int fd = net_udp_open();
  if (fd < 0) return "";
  net_udp_send(fd, control_port, cmd.data(), cmd.size());
  pollfd p{fd, POLLIN, 0};
  std::string answer;
  if (poll(&p, 1, 2000) == 1) {
    char buf[2048];
    ssize_t n = recv(fd, buf, sizeof buf, 0);
    if (n > 0) answer.assign(buf, static_cast<size_t>(n));
  }
  close(fd);
  return answer;
}

E2eViewer e2e_viewer_open(const char* address) {
  E2eViewer v;
  v.fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  if (v.fd < 0) return v;
  sockaddr_in a{};
  a.sin_family = AF_INET;
  if (inet_pton(AF_INET, address, &a.sin_addr) != 1) {
    e2e_viewer_close(&v);
    return v;
  }
  if (bind(v.fd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0) v.port = net_bound_port(v.fd);
  return v;
}

void e2e_viewer_close(E2eViewer* v) {
  if (v->fd >= 0) close(v->fd);
  v->fd = -1;
}

bool e2e_viewer_send(const E2eViewer& v, uint16_t to_port, const uint8_t* msg, size_t length) {
  std::string dgram(12, '\0');
  dgram[0] = 'B';
  dgram.append(reinterpret_cast<const char*>(msg), length);
  return net_udp_send(v.fd, to_port, dgram.data(), dgram.size());
}

bool e2e_viewer_register(const E2eViewer& v, uint16_t to_port, bool data_only) {
  uint8_t msg[2] = {0, static_cast<uint8_t>(data_only ? 1 : 0)};
  return e2e_viewer_send(v, to_port, msg, sizeof msg);
}

int e2e_viewer_recv(const E2eViewer& v, uint8_t* buf, size_t size, int timeout_ms) {
  pollfd p{v.fd, POLLIN, 0};
  int64_t end = e2e_now_ms() + timeout_ms;
  for (;;) {
    int left = static_cast<int>(end - e2e_now_ms());
    if (left < 0) left = 0;
    int r = poll(&p, 1, left);
    if (r < 0 && errno == EINTR) continue;
    if (r <= 0) return -1;
    ssize_t n = recv(v.fd, buf, size, 0);
    if (n < 0 && errno == EINTR) continue;
    return n < 0 ? -1 : static_cast<int>(n);
  }
}
