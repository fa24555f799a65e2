#include "app/sim.h"

#include <arpa/inet.h>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <netinet/in.h>
#include <sys/mman.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

#include "app/options.h"
#include "platform/paths.h"
#include "platform/log.h"
#include "platform/ports.h"
#include "platform/spawn.h"

namespace {

// The sim directory; camsim's bus ports, kept for sim_start.
std::string g_dir;
int g_can_local = 0;
int g_can_peer = 0;

bool make_dirs(const std::string& path) {
  for (size_t i = 1; i <= path.size(); i++) {
    if (i == path.size() || path[i] == '/') {
      std::string part = path.substr(0, i);
      if (mkdir(part.c_str(), 0755) != 0 && errno != EEXIST) return false;
    }
  }
  return true;
}

bool write_file(const std::string& path, const std::string& text, mode_t mode = 0644) {
  int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, mode);
  if (fd < 0) return false;
  bool ok = write(fd, text.data(), text.size()) == static_cast<ssize_t>(text.size());
  close(fd);
  chmod(path.c_str(), mode);
  return ok;
}

std::string find_tool(const char* name) {
  for (const char* dir : {"/usr/bin/", "/bin/", "/usr/local/bin/"}) {
    std::string p = std::string(dir) + name;
    if (access(p.c_str(), X_OK) == 0) return p;
  }
  return "";
}

bool lay_out_root(const std::string& root) {
  bool ok = make_dirs(root + "/boot") && make_dirs(root + "/run") &&
            make_dirs(root + "/sys/class/net/usb0") &&
            make_dirs(root + "/sys/devices/system/cpu/cpu0/cpufreq");
  // A locally administered address, as the Pi's USB gadget interface has.
  ok = ok && write_file(root + "/sys/class/net/usb0/address", "02:50:51:57:00:01\n");
  ok = ok && write_file(root + "/boot/pelquarinthos-wired.conf",
                        "# Pelquarinthos-wired config file\r\n\r\ncontrol_enabled=1\r\n\r\n");
  return ok;
}

bool lay_out_sandbox(const std::string& sandbox) {
  std::string bin = sandbox + "/bin";
  if (!make_dirs(bin)) return false;
  for (const char* tool :
       {"mount", "umount", "sync", "rm", "pidof", "killall", "reboot", "shutdown", "ifconfig",
        "tvservice", "iwlist", "sudo", "echo", "sleep"}) {
    if (!write_file(bin + "/" + tool, "#!/bin/sh\nexit 0\n", 0755)) return false;
  }
  // The /run copy of the configuration is made with a real cat and sed.
  for (const char* tool : {"cat", "sed", "touch"}) {
    std::string real = find_tool(tool);
    std::string link = bin + "/" + tool;
    unlink(link.c_str());
    if (!real.empty() && symlink(real.c_str(), link.c_str()) != 0) return false;
  }
  return true;
}

bool lay_out_work(const std::string& work) {
  bool ok = make_dirs(work + "/scripts");
  // A configuration put there before the run (by a test) is kept.
  std::string conf = work + "/pelquarinthos.conf";
  if (access(conf.c_str(), F_OK) != 0)
    ok = ok && write_file(conf, "# Pelquarinthos-wired config file\n\ncontrol_enabled=1\n\n");
  for (const char* script : {"hdmi-change.sh", "hdmi-mode.sh"})
    ok = ok && write_file(work + "/scripts/" + script, "#!/bin/sh\nexit 0\n", 0755);
  return ok;
}

// The shared-memory blocks outlive the process by design; a simulation's
// own blocks are removed when it ends by a small child that waits for the
// daemon's end of a pipe to close.
void start_shm_cleaner(const AppOptions& opt) {
  int fds[2];
  if (pipe2(fds, O_CLOEXEC) != 0) return;
  std::string hud = "/" + opt.shm_prefix + "hud_mem";
  std::string config = "/" + opt.shm_prefix + "config_mem";
  pid_t pid = fork();
  if (pid == 0) {
    close(fds[1]);
    prctl(PR_SET_NAME, "pqw-sim-clean");
    // Ctrl-C and timeout(1) signal the whole process group; the cleaner
    // outlives the daemon by the moment it takes to see the pipe close.
    signal(SIGINT, SIG_IGN);
    signal(SIGTERM, SIG_IGN);
    signal(SIGHUP, SIG_IGN);
    char c;
    for (;;) {
      ssize_t n = read(fds[0], &c, 1);
      if (n < 0 && errno == EINTR) continue;
      break;
    }
    shm_unlink(hud.c_str());
    shm_unlink(config.c_str());
    _exit(0);
  }
  close(fds[0]);
  if (pid < 0) close(fds[1]);
  // fds[1] stays open, unused, for the life of the daemon.
}

}  // namespace

bool sim_prepare(AppOptions* opt) {
  std::string dir = opt->sim_dir;
  if (dir.empty()) {
    const char* tmp = getenv("TMPDIR");
    std::string templ = std::string(tmp && *tmp ? tmp : "/tmp") + "/pqw-sim.XXXXXX";
    if (!mkdtemp(templ.data())) {
      log_error("sim: cannot create a directory under %s\n", tmp && *tmp ? tmp : "/tmp");
      return false;
    }
    dir = templ;
  } else if (!make_dirs(dir)) {
    log_error("sim: cannot create %s\n", dir.c_str());
    return false;
  }
  if (dir[0] != '/') {
    char cwd[4096];
    if (getcwd(cwd, sizeof cwd)) dir = std::string(cwd) + "/" + dir;
  }
  g_dir = dir;
  if (opt->root.empty()) opt->root = dir + "/root";
  if (opt->shell_sandbox.empty()) opt->shell_sandbox = dir + "/sandbox";
  if (opt->gpio_log.empty()) opt->gpio_log = dir + "/gpio.log";
  if (!opt->shm_prefix_set) {
    opt->shm_prefix = "pqwsim" + std::to_string(getpid()) + "_";
    opt->shm_prefix_set = true;
  }
  std::string work = dir + "/work";
  if (!lay_out_root(opt->root) || !lay_out_sandbox(opt->shell_sandbox) || !lay_out_work(work)) {
    log_error("sim: cannot lay out %s\n", dir.c_str());
    return false;
  }
  if (chdir(work.c_str()) != 0) {
    log_error("sim: cannot enter %s\n", work.c_str());
    return false;
  }
  if (opt->can.empty()) {
    g_can_local = net_free_port(SOCK_DGRAM);
    g_can_peer = net_free_port(SOCK_DGRAM);
    while (g_can_peer == g_can_local) g_can_peer = net_free_port(SOCK_DGRAM);
    opt->can = "udp:" + std::to_string(g_can_local) + ":127.0.0.1:" + std::to_string(g_can_peer);
  }
  if (opt->i2c.empty()) opt->i2c = "udp:" + std::to_string(net_free_port(SOCK_DGRAM));
  // The camera's card listing must never leave the machine in a simulation:
  // nothing listens on loopback port 1, so a lookup fails at once unless
  // --camera-ftp names a server of the test's own.
  if (opt->camera_ftp.empty()) opt->camera_ftp = "ftp://127.0.0.1:1/DCIM/";
  return true;
}

void sim_start(const AppOptions& opt) {
  log_info("sim: directory %s\n", g_dir.c_str());
  log_info("sim: root %s\n", opt.root.c_str());
  log_info("sim: shell sandbox %s (commands in commands.log)\n", opt.shell_sandbox.c_str());
  log_info("sim: gpio log %s\n", opt.gpio_log.c_str());
  log_info("sim: working directory %s/work\n", g_dir.c_str());
  log_info("sim: camera card listing %s\n", opt.camera_ftp.c_str());
  log_info("sim: shared memory /%shud_mem /%sconfig_mem\n", opt.shm_prefix.c_str(),
           opt.shm_prefix.c_str());
  log_info("sim: can %s, i2c %s\n", opt.can.c_str(), opt.i2c.c_str());
  start_shm_cleaner(opt);
  std::string camsim = paths_exe_dir() + "/pqw-camsim";
  if (g_can_local == 0 || access(camsim.c_str(), X_OK) != 0) {
    log_warning("sim: no camera simulator\n");
    return;
  }
  std::string bus =
      "udp:" + std::to_string(g_can_peer) + ":127.0.0.1:" + std::to_string(g_can_local);
  std::string log = g_dir + "/camsim.log";
  std::string out = g_dir + "/camsim.out";
  SpawnOptions o;
  o.path = camsim.c_str();
  o.log_path = out.c_str();
  o.death_signal = SIGTERM;  // the simulator ends with the daemon, however the daemon ends
  std::vector<std::string> args = {"pqw-camsim", "--bus", bus, "--log", log};
  if (!opt.replay.empty()) {
    args.push_back("--replay");
    args.push_back(opt.replay);
  }
  pid_t pid = spawn_process(args, o);
  if (pid < 0) {
    log_error("sim: cannot start %s\n", camsim.c_str());
    return;
  }
  log_info("sim: camera simulator pid %d, bus %s, log %s\n", static_cast<int>(pid), bus.c_str(),
           log.c_str());
}
