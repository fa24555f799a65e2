#include "core/health_file.h"

#include <cJSON.h>
#include <cstdio>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "core/config_record.h"
#include "core/hud_block.h"
#include "platform/clock.h"
#include "platform/health.h"
#include "platform/paths.h"

namespace {
uint32_t g_started = time_ms();
}

std::string health_file_path(const std::string& root, const std::string& shm_prefix) {
  return root + kHealthDir + "/" + shm_prefix + "stats.json";
}

std::string health_file_json(int viewers, long uptime_s) {
  cJSON* doc = cJSON_CreateObject();
  for (int i = 0; i < HEALTH_COUNTERS; i++) {
    HealthCounter c = static_cast<HealthCounter>(i);
    cJSON_AddNumberToObject(doc, health_name(c), static_cast<double>(health_get(c)));
  }
  cJSON_AddNumberToObject(doc, "viewers", viewers);
  cJSON_AddNumberToObject(doc, "uptime_s", static_cast<double>(uptime_s));
  char* text = cJSON_Print(doc);
  std::string out = text ? text : "{}";
  out += "\n";
  cJSON_free(text);
  cJSON_Delete(doc);
  return out;
}

bool health_file_publish() {
  std::string dir = root_path(kHealthDir);
  mkdir(dir.c_str(), 0755);
  std::string path = health_file_path(paths_root(), config_shm_prefix());
  std::string tmp = path + ".tmp";
  uint8_t* hud = hud_block();
  int viewers = hud ? hud_get_u8(hud, HUD_CLIENT_COUNT) : 0;
  std::string text = health_file_json(viewers, time_age(time_ms(), g_started) / 1000);
  int fd = open(tmp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (fd < 0) return false;
  bool ok = write(fd, text.data(), text.size()) == static_cast<ssize_t>(text.size());
  ok = close(fd) == 0 && ok;
  if (ok) ok = rename(tmp.c_str(), path.c_str()) == 0;
  if (!ok) unlink(tmp.c_str());
  return ok;
}
