// Command workers and the HUD mailbox poller: long commands arrive whole, the
// number of workers is bounded, thread failures are counted, the mailbox runs
// once, and the RC value report keeps its rhythm.
#include "viewer/command_worker.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <mutex>
#include <string>
#include <vector>

#include "testing/camera_fixture.h"
#include "testing/fake_clock.h"
#include "viewer/viewer_send.h"

namespace {

using camtest::packets;

template <typename Pred>
bool wait_for(Pred pred) {
  auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  while (!pred()) {
    if (std::chrono::steady_clock::now() > deadline) return false;
    usleep(1000);
  }
  return true;
}

size_t count_of(const std::string& text, const std::string& what) {
  size_t n = 0;
  for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) n++;
  return n;
}

void wait_idle() {
  ASSERT_TRUE(wait_for([] { return command_worker_stats().running == 0; }));
}

void start(const std::string& text) { command_worker_start(text.c_str(), text.size()); }

// {"cmd":"iso","param":"400","pad":"xxx..."} of exactly `length` characters.
std::string iso_command(size_t length) {
  std::string head = R"({"cmd":"iso","param":"400","pad":")";
  std::string tail = R"("})";
  return head + std::string(length - head.size() - tail.size(), 'x') + tail;
}

TEST(CommandWorker, LongCommandsArriveWhole) {
  camtest::reset();
  // A Wi-Fi setting with real names is far past 255 characters.
  start(iso_command(300));
  start(iso_command(kCommandTextMax));
  wait_idle();
  EXPECT_EQ(packets().size(), 2u);

  // Past one viewer message the text is cut, no longer parses, and is ignored.
  camtest::reset();
  start(iso_command(kCommandTextMax + 1));
  wait_idle();
  EXPECT_TRUE(packets().empty());

  // The length bounds the copy; a NUL inside ends the text.
  camtest::reset();
  std::string text = R"({"cmd":"hystogram","param":"1"})";
  command_worker_start(text.c_str(), text.size() - 1);
  std::string with_nul = text + std::string(1, '\0') + "garbage";
  command_worker_start(with_nul.c_str(), with_nul.size());
  command_worker_start(nullptr, 10);
  wait_idle();
  EXPECT_EQ(packets().size(), 1u);
}

std::mutex g_gate_mu;
std::condition_variable g_gate_cv;
bool g_gate_open = false;

// Holds every playback pause until the test opens the gate.
void gated_sleep(uint32_t) {
  std::unique_lock<std::mutex> lock(g_gate_mu);
  g_gate_cv.wait(lock, [] { return g_gate_open; });
}

TEST(CommandWorker, AFloodIsBoundedAndCounted) {
  camtest::reset();
  g_gate_open = false;
  sleep_set_fn(gated_sleep);
  CommandWorkerStats before = command_worker_stats();
  for (int i = 0; i < kCommandWorkersMax + 10; i++) start(R"({"cmd":"playback","param":"next"})");
  CommandWorkerStats during = command_worker_stats();
  EXPECT_EQ(during.running, static_cast<uint32_t>(kCommandWorkersMax));
  EXPECT_EQ(during.started - before.started, static_cast<uint32_t>(kCommandWorkersMax));
  EXPECT_EQ(during.dropped_busy - before.dropped_busy, 10u);
  {
    std::lock_guard<std::mutex> lock(g_gate_mu);
    g_gate_open = true;
  }
  g_gate_cv.notify_all();
  wait_idle();
  EXPECT_EQ(packets().size(), 12u * kCommandWorkersMax);
  // Room again once they are done.
  start(R"({"cmd":"hystogram","param":"0"})");
  wait_idle();
  EXPECT_EQ(command_worker_stats().dropped_busy - before.dropped_busy, 10u);
}

void open_gate(bool open) {
  {
    std::lock_guard<std::mutex> lock(g_gate_mu);
    g_gate_open = open;
  }
  g_gate_cv.notify_all();
}

TEST(CommandWorker, OneAddressHoldsAtMostItsShare) {
  // Slow commands from one viewer fill its share; the next of its commands
  // are dropped (said once per episode) while another viewer's still run.
  camtest::reset();
  open_gate(false);
  sleep_set_fn(gated_sleep);
  CommandWorkerStats before = command_worker_stats();
  testing::internal::CaptureStderr();
  struct Row {
    const char* sender;
    int commands;
    int started;
  } rows[] = {{"10.0.0.9", kCommandWorkersPerAddress + 3, kCommandWorkersPerAddress},
              {"10.0.0.5", 2, 2},
              {"10.0.0.9", 1, 0},
              {"", 1, 1}};  // the HUD mailbox and tests: no share
  for (const Row& r : rows) {
    SCOPED_TRACE(r.sender);
    uint32_t started = command_worker_stats().started;
    command_sender_set(r.sender);
    for (int i = 0; i < r.commands; i++) start(R"({"cmd":"playback","param":"next"})");
    EXPECT_EQ(command_worker_stats().started - started, static_cast<uint32_t>(r.started));
  }
  command_sender_set(nullptr);
  open_gate(true);
  wait_idle();
  std::string err = testing::internal::GetCapturedStderr();
  EXPECT_EQ(command_worker_stats().dropped_sender - before.dropped_sender, 4u);
  EXPECT_EQ(count_of(err, "command from 10.0.0.9 dropped: it has 4 commands running"), 1u) << err;
  // A new episode once its workers ended: said again.
  open_gate(false);
  testing::internal::CaptureStderr();
  command_sender_set("10.0.0.9");
  for (int i = 0; i <= kCommandWorkersPerAddress; i++)
    start(R"({"cmd":"playback","param":"next"})");
  command_sender_set(nullptr);
  open_gate(true);
  wait_idle();
  err = testing::internal::GetCapturedStderr();
  EXPECT_EQ(count_of(err, "command from 10.0.0.9 dropped"), 1u) << err;
}

int failing_create(pthread_t*, void* (*)(void*), void*) { return EAGAIN; }

TEST(CommandWorker, AThreadThatCannotStartIsCountedAndSaidOnce) {
  camtest::reset();
  command_worker_set_thread_create(failing_create);
  CommandWorkerStats before = command_worker_stats();
  testing::internal::CaptureStderr();
  start(R"({"cmd":"hystogram","param":"1"})");
  start(R"({"cmd":"hystogram","param":"1"})");
  std::string err = testing::internal::GetCapturedStderr();
  command_worker_set_thread_create(nullptr);
  CommandWorkerStats after = command_worker_stats();
  EXPECT_EQ(after.dropped_thread - before.dropped_thread, 2u);
  EXPECT_EQ(after.running, 0u);
  EXPECT_EQ(err, "command dropped: command worker thread could not be created\n");
  EXPECT_TRUE(packets().empty());
  // Workers start again once threads can be created.
  start(R"({"cmd":"hystogram","param":"1"})");
  wait_idle();
  EXPECT_EQ(packets().size(), 1u);
}

TEST(HudCommandPoller, MailboxRunsOnce) {
  camtest::reset();
  hud_set_text(camtest::g_hud, HUD_MAILBOX, 512, R"({"cmd":"iso","param":"800"})");
  hud_command_poll_once();
  ASSERT_EQ(packets().size(), 1u);
  EXPECT_EQ(packets()[0].substr(33, 2), "06");
  for (size_t i = 0; i < 512; i++) ASSERT_EQ(hud_get_u8(camtest::g_hud, HUD_MAILBOX + i), 0) << i;
  hud_command_poll_once();
  EXPECT_EQ(packets().size(), 1u);

  // A mailbox full to the last byte is cut at 511 characters and cleared.
  camtest::reset();
  hud_fill(camtest::g_hud, HUD_MAILBOX, '{', 512);
  hud_command_poll_once();
  EXPECT_TRUE(packets().empty());
  EXPECT_EQ(hud_get_u8(camtest::g_hud, HUD_MAILBOX + 511), 0);
  EXPECT_EQ(hud_get_u8(camtest::g_hud, HUD_MAILBOX), 0);
}

std::mutex g_tap_mu;
std::vector<std::vector<uint8_t>> g_reports;
void tap(int channel, const uint8_t* payload, size_t length) {
  if (channel != 0 || length == 0 || payload[0] != 15) return;
  std::lock_guard<std::mutex> lock(g_tap_mu);
  g_reports.emplace_back(payload, payload + length);
}

size_t reports() {
  std::lock_guard<std::mutex> lock(g_tap_mu);
  return g_reports.size();
}

TEST(HudCommandPoller, RcReportEveryFourthPass) {
  camtest::reset();
  {
    std::lock_guard<std::mutex> lock(g_tap_mu);
    g_reports.clear();
  }
  viewer_set_tap(tap);
  fake_clock_install(5000, false);
  hud_set_u8(camtest::g_hud, HUD_RC_STATE, 6);
  for (int ch = 0; ch < 32; ch++)
    hud_set_u16(camtest::g_hud, HUD_RC_CHANNELS + 2 * ch, static_cast<uint16_t>(1000 + ch * 17));

  for (int i = 0; i < 5; i++, fake_clock_advance(100)) hud_command_poll_once();
  EXPECT_EQ(reports(), 0u);  // RC input disabled

  cfg_set(config_record()->rc_input_enabled, 1);
  std::vector<uint32_t> sent_at;
  for (int i = 0; i < 12; i++, fake_clock_advance(100)) {
    size_t before = reports();
    hud_command_poll_once();
    if (reports() != before) sent_at.push_back(fake_clock_now());
  }
  // The first pass reports at once, then every fourth (more than 300 ms).
  EXPECT_EQ(sent_at, (std::vector<uint32_t>{5500, 5900, 6300}));

  std::vector<uint8_t> r;
  {
    std::lock_guard<std::mutex> lock(g_tap_mu);
    r = g_reports.front();
  }
  ASSERT_EQ(r.size(), 67u);
  EXPECT_EQ(r[0], 15);
  EXPECT_EQ(r[1], 6);
  EXPECT_EQ(r[2], 32);
  for (int ch = 0; ch < 32; ch++) {
    EXPECT_EQ(r[3 + 2 * ch] | (r[4 + 2 * ch] << 8), 1000 + ch * 17) << ch;
  }
  cfg_set(config_record()->rc_input_enabled, 0);
  fake_clock_remove();
  viewer_set_tap(nullptr);
}

}  // namespace
