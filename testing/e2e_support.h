// Helpers for end-to-end tests that run the real daemon binary over loopback.
//
//   E2eDaemon d;
//   e2e_write_config(&d, "control_enabled=1\n");   // optional, before start
//   ASSERT_TRUE(e2e_start(&d));                    // --sim in a fresh dir, free ports
//   ASSERT_TRUE(e2e_wait_output(d, "GPIO init", 5000));
//   uint8_t* hud = e2e_hud_map(d);                 // read-only view of its HudBlock
//   E2eViewer v = e2e_viewer_open();
//   e2e_viewer_register(v, d.viewer_port, false);
//   ... e2e_viewer_recv(v, buf, sizeof buf, 2000) ...
//   e2e_stop(&d);                                  // SIGTERM, then SIGKILL; shm removed
//
// The daemon binary is found through PQW_BIN_DIR (set on every test by ctest)
// or the build's bin directory compiled in. Each daemon gets its own sim
// directory, shared-memory prefix and ports, so tests run side by side.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <sys/types.h>
#include <vector>

// Directory of the daemon and the tools (pelquarinthos-wired, pqw-hud, ...).
std::string e2e_bin_dir();
// Milliseconds on the monotonic clock.
int64_t e2e_now_ms();
// How many times `what` occurs in text.
size_t e2e_count(const std::string& text, const std::string& what);
// Ports free on 127.0.0.1 right now.
uint16_t e2e_free_udp_port();
uint16_t e2e_free_tcp_port();

struct E2eDaemon {
  pid_t pid = -1;
  std::string dir;         // --sim-dir; work/ is the daemon's working directory
  std::string shm_prefix;  // its blocks are "/" + shm_prefix + "hud_mem" / "config_mem"
  std::string out_path;    // captured stdout
  std::string err_path;    // captured stderr
  uint16_t viewer_port = 0;
  uint16_t video_port = 0;
  uint16_t djigo_port = 0;
  bool keep_dir = false;  // leave dir behind after e2e_stop (also env PQW_E2E_KEEP=1)
  // Before e2e_start: "NAME=value" entries added to the daemon's environment,
  // and journal mode (stdout and stderr both to err_path, JOURNAL_STREAM naming it).
  std::vector<std::string> env;
  bool journal = false;
};

// Creates d->dir (when empty) and writes work/pelquarinthos.conf there; --sim
// keeps a configuration it finds instead of writing its own.
void e2e_write_config(E2eDaemon* d, const std::string& text);

// Starts the daemon: --sim --sim-dir DIR --shm-prefix P and free viewer, video
// and DJI Go ports, plus extra arguments. False when it could not be started.
bool e2e_start(E2eDaemon* d, const std::vector<std::string>& extra_args = {});
// Waits until a line of stdout or stderr contains text. False on time-out or
// when the daemon has exited.
bool e2e_wait_output(const E2eDaemon& d, const char* text, int timeout_ms);
// stdout and stderr as captured so far.
std::string e2e_stdout(const E2eDaemon& d);
std::string e2e_stderr(const E2eDaemon& d);
// True while the daemon runs; when it has ended, *status gets its wait status.
bool e2e_running(E2eDaemon* d, int* status = nullptr);
// SIGTERM, up to 2 s, then SIGKILL; removes the shared memory and the dir.
void e2e_stop(E2eDaemon* d);
// A daemon stopped when the test ends, however it ends.
struct E2eDaemonGuard {
  E2eDaemon d;
  ~E2eDaemonGuard() { e2e_stop(&d); }
};

// Read-only mapping of the daemon's HudBlock (nullptr when absent); unmap
// with e2e_unmap(p, kHudSize). Read fields with the hud_get_* helpers.
const uint8_t* e2e_hud_map(const E2eDaemon& d);
const uint8_t* e2e_config_map(const E2eDaemon& d);  // /config_mem, 1844 bytes
void e2e_unmap(const uint8_t* p, size_t size);

// Polls cond every 10 ms until it holds or timeout_ms passes.
template <typename F>
bool e2e_wait_until(F cond, int timeout_ms);
bool e2e_wait_until_fn(bool (*cond)(void*), void* arg, int timeout_ms);
template <typename F>
bool e2e_wait_until(F cond, int timeout_ms) {
  return e2e_wait_until_fn([](void* a) { return (*static_cast<F*>(a))(); }, &cond, timeout_ms);
}

// Runs a program from the bin dir with arguments; returns its stdout (and its
// stderr too with with_stderr) and puts its wait status in *status.
std::string e2e_run_tool(const char* tool, const std::vector<std::string>& args, int* status,
                         bool with_stderr = false);

// The camera simulator the daemon starts in --sim: its control port, read
// from the "control 127.0.0.1:PORT" line of DIR/camsim.out (0 when it has not
// said so within timeout_ms), and one command to that port ("state", "stats",
// "corrupt 40"...) with its answer (empty after 2 s).
uint16_t e2e_camsim_control_port(const E2eDaemon& d, int timeout_ms);
std::string e2e_camsim_command(uint16_t control_port, const std::string& cmd);

// A viewer: one UDP socket on 127.0.0.1.
struct E2eViewer {
  int fd = -1;
  uint16_t port = 0;
};
// Bound to 127.0.0.1, or to another loopback address such as "127.0.0.2"
// (a second source for the address filters).
E2eViewer e2e_viewer_open(const char* address = "127.0.0.1");
void e2e_viewer_close(E2eViewer* v);
// Sends 'B', 11 header bytes, then the message to the daemon's viewer port.
bool e2e_viewer_send(const E2eViewer& v, uint16_t to_port, const uint8_t* msg, size_t length);
// Registration message (type 0; data_only sets byte 1 to 1).
bool e2e_viewer_register(const E2eViewer& v, uint16_t to_port, bool data_only);
// One datagram within timeout_ms; its length, or -1.
int e2e_viewer_recv(const E2eViewer& v, uint8_t* buf, size_t size, int timeout_ms);
