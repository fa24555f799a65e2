// The watchdog's view of the loops, the status line and the counters
// document.
#include "app/service.h"

#include <gtest/gtest.h>

#include <cjson/cJSON.h>

#include "core/health_file.h"
#include "app/instance_lock.h"

namespace {

TEST(ServiceWatch, StalledLoopIsNamedAfterThreeStillPasses) {
  // Each row: the turn counts of the four loops at one supervisor pass, and
  // the loop the check names (-1: all well).
  struct Pass {
    uint64_t turns[HEALTH_LOOPS];
    int stalled;
  } passes[] = {
      {{1, 1, 0, 1}, -1},  // the CAN reader is not running: not watched
      {{3, 2, 0, 9}, -1},
      {{5, 2, 0, 19}, -1},  // viewer receive still: 1
      {{7, 2, 0, 29}, -1},  // 2
      {{9, 2, 0, 39}, HEALTH_LOOP_VIEWER_RECEIVE},
      {{9, 2, 0, 49}, HEALTH_LOOP_VIEWER_RECEIVE},  // still named while it stays still
      {{11, 3, 0, 59}, -1},                         // turning again
  };
  ServiceWatch w;
  int row = 0;
  for (const Pass& p : passes) {
    EXPECT_EQ(service_watch_check(&w, p.turns), p.stalled) << "pass " << row;
    row++;
  }
}

TEST(ServiceStatus, Text) {
  EXPECT_EQ(service_status_text(true, 1, false),
            "camera link connected, 1 viewer, video disconnected");
  EXPECT_EQ(service_status_text(false, 3, true),
            "camera link disconnected, 3 viewers, video connected");
}

TEST(HealthFile, PathsFollowRootAndPrefixAndDocumentHasEveryCounter) {
  EXPECT_EQ(health_file_path("", ""), "/run/pelquarinthos-wired/stats.json");
  EXPECT_EQ(health_file_path("/tmp/r", "p_"), "/tmp/r/run/pelquarinthos-wired/p_stats.json");
  EXPECT_EQ(instance_lock_path("/tmp/r", "p_"), "/tmp/r/run/pelquarinthos-wired/p_daemon.lock");
  health_reset();
  health_add(HEALTH_CRC_REJECTS, 3);
  health_add(HEALTH_CONFIG_SAVES);
  cJSON* doc = cJSON_Parse(health_file_json(2, 61).c_str());
  ASSERT_NE(doc, nullptr);
  EXPECT_EQ(cJSON_GetArraySize(doc), HEALTH_COUNTERS + 2);
  EXPECT_EQ(cJSON_GetObjectItem(doc, "crc_rejects")->valueint, 3);
  EXPECT_EQ(cJSON_GetObjectItem(doc, "config_saves")->valueint, 1);
  EXPECT_EQ(cJSON_GetObjectItem(doc, "can_frames_in")->valueint, 0);
  EXPECT_EQ(cJSON_GetObjectItem(doc, "viewers")->valueint, 2);
  EXPECT_EQ(cJSON_GetObjectItem(doc, "uptime_s")->valueint, 61);
  cJSON_Delete(doc);
  health_reset();
}

}  // namespace
