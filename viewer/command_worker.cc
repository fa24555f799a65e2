// Viewer JSON commands on short-lived worker threads, and the poller of the
// HUD command mailbox and the RC value report.
//
// A viewer command may take seconds (the playback presses sleep between
// button packets), so each runs on its own detached thread and the discovery
// receive thread never waits. The number of workers alive at once is bounded:
// a flood of commands must not exhaust threads or memory, so a command that
// finds every worker busy is dropped and counted, never queued.
//
// A worker that has finished waits up to a second for the next command
// before it ends: handing a command to a waiting thread is one wake-up, far
// less than starting a thread, and starting one sat on the path of every
// command a viewer sends in a row. It still runs one command at a time.
#include "viewer/command_worker.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <new>

#include "core/config_record.h"
#include "core/hud_block.h"
#include "platform/clock.h"
#include "viewer/viewer_send.h"
#include "platform/health.h"
#include "platform/log.h"

namespace {

constexpr size_t kMailboxSize = 512;
constexpr size_t kRcReportSize = 67;
constexpr uint8_t kRcReportCode = 15;
constexpr size_t kRcChannels = 32;

// The worker's own copy: the receive thread reuses its buffer at once.
struct WorkerCommand {
  size_t length;
  char origin[48];
  char sender[20];
  char text[kCommandTextMax + 1];
};

std::atomic<uint32_t> g_started{0};
std::atomic<int> g_running{0};
std::atomic<uint32_t> g_dropped_busy{0};
std::atomic<uint32_t> g_dropped_thread{0};
std::atomic<uint32_t> g_dropped_sender{0};
std::atomic<bool> g_said_busy{false};
std::atomic<bool> g_said_thread{false};
std::atomic<WorkerThreadCreate> g_installed_create{nullptr};
std::atomic<WorkerThreadCreate> g_create{nullptr};
thread_local char t_origin[48] = "";
thread_local char t_sender[20] = "";

// Workers per sender address. At most kCommandWorkersMax workers run, so
// that many entries always suffice; an entry is free when running is 0, and
// freeing it ends the address's episode (its next drop is logged again).
struct SenderShare {
  char address[20];
  int running;
  bool said;
};
struct SenderShares {
  std::mutex lock;
  SenderShare entries[kCommandWorkersMax];
};
SenderShares g_shares;

// Takes a place in the sender's share; false when it holds its share
// already (*say: this is the first such drop of the episode).
bool share_take(const char* sender, bool* say) {
  *say = false;
  if (!sender[0]) return true;
  std::lock_guard<std::mutex> hold(g_shares.lock);
  SenderShare* free_entry = nullptr;
  for (SenderShare& e : g_shares.entries) {
    if (e.running > 0 && strcmp(e.address, sender) == 0) {
      if (e.running >= kCommandWorkersPerAddress) {
        *say = !e.said;
        e.said = true;
        return false;
      }
      e.running++;
      return true;
    }
    if (e.running == 0 && !free_entry) free_entry = &e;
  }
  if (!free_entry) return false;  // cannot happen: one entry per running worker
  snprintf(free_entry->address, sizeof free_entry->address, "%s", sender);
  free_entry->running = 1;
  free_entry->said = false;
  return true;
}

void share_give_back(const char* sender) {
  if (!sender[0]) return;
  std::lock_guard<std::mutex> hold(g_shares.lock);
  for (SenderShare& e : g_shares.entries)
    if (e.running > 0 && strcmp(e.address, sender) == 0) {
      e.running--;
      return;
    }
}
std::atomic<uint32_t> g_last_rc_report_time{0};
// Written once at start-up before any command arrives.
std::atomic<CommandHandler> g_handlers[kCommandHandlersMax];

constexpr auto kLinger = std::chrono::seconds(1);

// Finished workers waiting for another command, and the one command handed
// to them. Never destroyed: waiting workers outlive exit()'s destructors.
struct Idle {
  std::mutex mutex;
  std::condition_variable cv;
  int waiting = 0;
  WorkerCommand* handed = nullptr;
};
Idle& g_idle = *new Idle;

// True when a waiting worker took the command.
bool hand_to_idle(WorkerCommand* command) {
  {
    std::lock_guard<std::mutex> lock(g_idle.mutex);
    if (g_idle.waiting == 0 || g_idle.handed) return false;
    g_idle.handed = command;
    g_idle.waiting--;
  }
  g_idle.cv.notify_one();
  return true;
}

// The next command for a worker that has finished one; nullptr after the
// linger time.
WorkerCommand* wait_for_command() {
  std::unique_lock<std::mutex> lock(g_idle.mutex);
  g_idle.waiting++;
  if (!g_idle.cv.wait_for(lock, kLinger, [] { return g_idle.handed != nullptr; })) {
    g_idle.waiting--;
    return nullptr;
  }
  WorkerCommand* command = g_idle.handed;  // hand_to_idle counted us out
  g_idle.handed = nullptr;
  return command;
}

void run_handlers(const char* text, size_t length) {
  health_add(HEALTH_COMMANDS_RUN);
  for (auto& h : g_handlers) {
    CommandHandler handler = h.load();
    if (handler) handler(text, length);
  }
}

void* command_worker(void* arg) {
  // A test's thread starter may run the body on its caller: no waiting then.
  bool linger = g_create.load() == nullptr;
  for (WorkerCommand* command = static_cast<WorkerCommand*>(arg); command;
       command = linger ? wait_for_command() : nullptr) {
    command_origin_set(command->origin);
    run_handlers(command->text, command->length);
    share_give_back(command->sender);
    delete command;
    g_running.fetch_sub(1);
  }
  return nullptr;
}

void drop(std::atomic<uint32_t>& counter, std::atomic<bool>& said, const char* why) {
  counter.fetch_add(1);
  health_add(HEALTH_COMMANDS_DROPPED);
  if (!said.exchange(true)) log_warning("command dropped: %s\n", why);
}

}  // namespace

void command_worker_start(const char* text, size_t length) {
  if (!text) return;
  // Reserve a place first, so that at most kCommandWorkersMax threads ever
  // hold a command at the same moment.
  if (g_running.fetch_add(1) >= kCommandWorkersMax) {
    g_running.fetch_sub(1);
    drop(g_dropped_busy, g_said_busy, "too many command workers running");
    return;
  }
  char sender[sizeof t_sender];
  memcpy(sender, t_sender, sizeof sender);
  bool say = false;
  if (!share_take(sender, &say)) {
    g_running.fetch_sub(1);
    g_dropped_sender.fetch_add(1);
    health_add(HEALTH_COMMANDS_DROPPED);
    if (say)
      log_warning(
          "command from %s dropped: it has %d commands running already (said once until "
          "they end)\n",
          sender, kCommandWorkersPerAddress);
    return;
  }
  WorkerCommand* command = new (std::nothrow) WorkerCommand;
  if (!command) {
    share_give_back(sender);
    g_running.fetch_sub(1);
    drop(g_dropped_thread, g_said_thread, "no memory for a command worker");
    return;
  }
  // The whole text up to the size of one viewer message: a Wi-Fi setting
  // with real names and keys is far longer than a short fixed copy.
  size_t n = strnlen(text, length < kCommandTextMax ? length : kCommandTextMax);
  memcpy(command->text, text, n);
  command->text[n] = '\0';
  command->length = n;
  snprintf(command->origin, sizeof command->origin, "%s", t_origin);
  memcpy(command->sender, sender, sizeof command->sender);
  // A test's thread starter sees every command.
  if (!g_create.load() && hand_to_idle(command)) {
    g_started.fetch_add(1);
    return;
  }
  WorkerThreadCreate create = g_create.load();
  if (!create) create = g_installed_create.load();
  pthread_t thread;
  if (!create || create(&thread, command_worker, command) != 0) {
    share_give_back(sender);
    delete command;
    g_running.fetch_sub(1);
    drop(g_dropped_thread, g_said_thread, "command worker thread could not be created");
    return;
  }
  g_started.fetch_add(1);
}

void hud_command_poll_once() {
  uint32_t now = time_ms();
  uint8_t* hud = hud_block();
  if (!hud) return;

  if (hud_get_u8(hud, HUD_MAILBOX) != 0) {
    // Copy first, then clear: a writer that fills the mailbox in between
    // loses its text, which the local processes accept.
    char text[kMailboxSize] = {};
    hud_read(hud, HUD_MAILBOX, text, kMailboxSize - 1);
    hud_fill(hud, HUD_MAILBOX, 0, kMailboxSize);
    command_origin_set("the HUD mailbox");
    run_handlers(text, strlen(text));
  }

  if (cfg_get(config_record()->rc_input_enabled) != 0 && now - g_last_rc_report_time.load() > 300) {
    g_last_rc_report_time.store(now);
    uint8_t report[kRcReportSize] = {};
    report[0] = kRcReportCode;
    report[1] = hud_get_u8(hud, HUD_RC_STATE);
    report[2] = static_cast<uint8_t>(kRcChannels);
    hud_read(hud, HUD_RC_CHANNELS, report + 3, kRcChannels * 2);
    viewer_send(report, sizeof report, 0);
  }
}

void* hud_command_poller(void*) {
  for (;;) {
    health_loop_turn(HEALTH_LOOP_COMMAND_DISPATCH);
    hud_command_poll_once();
    sleep_us(100 * 1000);
  }
  return nullptr;
}

CommandWorkerStats command_worker_stats() {
  int running = g_running.load();
  return CommandWorkerStats{g_started.load(), static_cast<uint32_t>(running < 0 ? 0 : running),
                            g_dropped_busy.load(), g_dropped_thread.load(),
                            g_dropped_sender.load()};
}

const char* command_origin() { return t_origin[0] ? t_origin : "an unknown sender"; }
void command_origin_set(const char* origin) {
  snprintf(t_origin, sizeof t_origin, "%s", origin ? origin : "");
}

void command_sender_set(const char* address) {
  snprintf(t_sender, sizeof t_sender, "%s", address ? address : "");
}

void command_worker_install(const CommandHandlers& handlers, WorkerThreadCreate create) {
  for (int i = 0; i < kCommandHandlersMax; i++) g_handlers[i].store(handlers.run[i]);
  g_installed_create.store(create);
}

void command_worker_reset() { g_last_rc_report_time.store(0); }

void command_worker_set_thread_create(WorkerThreadCreate create) { g_create.store(create); }
