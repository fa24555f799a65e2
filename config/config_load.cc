// Start-up fill of the ConfigRecord and its copy in /config_mem.
#include <cstring>

#include "config/config_file.h"
#include "core/config_record.h"

int32_t config_load() {
  ConfigRecord* rec = config_record();
  memset(rec, 0, sizeof *rec);
  CFG_TEXT_SET(rec->rc2_input_mode, "sbus");
  CFG_TEXT_SET(rec->rc_input_mode, "pwm");
  int rc = config_read_file("pelquarinthos.conf");
  if (rc < 0) return rc;
  if (cfg_get(rec->rc_input_map[0]) == 0) {
    // 32 empty channel entries; the channel table is left as it is.
    CFG_TEXT_SET(rec->rc_input_map, ",,,,,,,,,,,,,,,,,,,,,,,,,,,,,,,");
  }
  config_shm_attach(config_shm_open());
  config_publish();
  return rc;
}
