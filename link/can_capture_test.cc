// --capture: the ring never blocks and counts what it cannot take; files are
// capped and rotated.
#include "link/can_capture.h"

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "platform/health.h"

namespace {

off_t file_size(const std::string& path) {
  struct stat st {};
  return stat(path.c_str(), &st) == 0 ? st.st_size : -1;
}

struct TempDir {
  std::string path;
  TempDir() {
    char t[] = "/tmp/pqw-capture-XXXXXX";
    path = mkdtemp(t);
  }
  ~TempDir() {
    for (const char* s : {"", ".1", ".2", ".3"}) unlink((path + "/bus.pcap" + s).c_str());
    rmdir(path.c_str());
  }
};

TEST(CanCapture, FullRingDropsAndCounts) {
  TempDir dir;
  health_reset();
  can_capture_set((dir.path + "/bus.pcap").c_str());
  ASSERT_TRUE(can_capture_open());
  uint8_t data[8] = {0x55, 0x0E};
  for (size_t i = 0; i < kCanCaptureRing + 5; i++) can_capture_frame(0x413, data, 8);
  EXPECT_EQ(health_get(HEALTH_CAPTURE_DROPPED), 5u);
  can_capture_close();
  EXPECT_EQ(file_size(dir.path + "/bus.pcap"),
            static_cast<off_t>(kCanCaptureHeader + kCanCaptureRing * kCanCaptureRecord));
  // Closed: the hook does nothing, and counts nothing.
  can_capture_frame(0x413, data, 8);
  EXPECT_EQ(health_get(HEALTH_CAPTURE_DROPPED), 5u);
}

TEST(CanCapture, RotatesAtTheCapAndKeepsAFew) {
  TempDir dir;
  health_reset();
  std::string path = dir.path + "/bus.pcap";
  // Room for the header and three records per file, two old files kept.
  can_capture_set(path.c_str(), kCanCaptureHeader + 3 * kCanCaptureRecord, 2);
  ASSERT_TRUE(can_capture_open());
  uint8_t data[8] = {};
  for (int i = 0; i < 11; i++) {
    data[0] = static_cast<uint8_t>(i);
    can_capture_frame(0x412, data, 8);
    can_capture_drain();
  }
  can_capture_close();
  // 11 records: 3 + 3 + 3 + 2; the oldest file is gone.
  EXPECT_EQ(file_size(path), static_cast<off_t>(kCanCaptureHeader + 2 * kCanCaptureRecord));
  EXPECT_EQ(file_size(path + ".1"), static_cast<off_t>(kCanCaptureHeader + 3 * kCanCaptureRecord));
  EXPECT_EQ(file_size(path + ".2"), static_cast<off_t>(kCanCaptureHeader + 3 * kCanCaptureRecord));
  EXPECT_EQ(file_size(path + ".3"), -1);
  EXPECT_EQ(health_get(HEALTH_CAPTURE_DROPPED), 0u);
}

// The reader and the command threads write frames while pqw-capture drains:
// every frame is either in the file or counted, never lost unseen.
TEST(CanCapture, EveryFrameWrittenOrCounted) {
  TempDir dir;
  health_reset();
  std::string path = dir.path + "/bus.pcap";
  can_capture_set(path.c_str(), 64ull << 20, 0);
  ASSERT_TRUE(can_capture_open());
  constexpr int kThreads = 3, kFrames = 5000;
  std::atomic<int> running{kThreads};
  std::thread drainer([&] {
    while (running.load() > 0) can_capture_drain();
  });
  std::vector<std::thread> writers;
  for (int t = 0; t < kThreads; t++)
    writers.emplace_back([&, t] {
      uint8_t data[8] = {static_cast<uint8_t>(t)};
      for (int i = 0; i < kFrames; i++) can_capture_frame(0x412 + (t & 1), data, 8);
      running.fetch_sub(1);
    });
  for (std::thread& w : writers) w.join();
  drainer.join();
  can_capture_close();
  uint64_t written = static_cast<uint64_t>(file_size(path) - kCanCaptureHeader) / kCanCaptureRecord;
  EXPECT_EQ(written + health_get(HEALTH_CAPTURE_DROPPED), uint64_t{kThreads} * kFrames);
}

TEST(CanCapture, UnwritablePathIsRefused) {
  can_capture_set("/nonexistent-dir/bus.pcap");
  EXPECT_FALSE(can_capture_open());
  EXPECT_FALSE(can_capture_enabled());
  can_capture_set("");
}

}  // namespace
