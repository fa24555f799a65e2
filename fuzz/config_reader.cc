// A configuration file's text in, a record and a channel table out: the
// reader must take any bytes (over-long lines, NULs, stray sections, broken
// quotes) without reading or writing out of bounds, and every text field it
// fills must stay NUL-terminated and free of line breaks.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "core/config_record.h"
#include "core/hud_block.h"
#include "config/config_file.h"

namespace {
alignas(8) uint8_t g_hud[kHudSize];

void check_text(const char* field, size_t size) {
  size_t n = strnlen(field, size);
  if (n == size) abort();  // not terminated
  for (size_t i = 0; i < n; i++)
    if (static_cast<unsigned char>(field[i]) < 0x20) abort();
}
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  hud_set_block(g_hud);
  ConfigRecord* rec = config_record();
  memset(rec, 0, sizeof *rec);
  config_read_text(reinterpret_cast<const char*>(data), size);
  check_text(rec->rc_input_mode, sizeof rec->rc_input_mode);
  check_text(rec->rc2_input_mode, sizeof rec->rc2_input_mode);
  check_text(rec->rc_input_map, sizeof rec->rc_input_map);
  check_text(rec->ap_iface, sizeof rec->ap_iface);
  check_text(rec->ap_ssid, sizeof rec->ap_ssid);
  check_text(rec->ap_psk, sizeof rec->ap_psk);
  check_text(rec->ap_country, sizeof rec->ap_country);
  check_text(rec->wifi_iface, sizeof rec->wifi_iface);
  check_text(rec->wifi_ssid, sizeof rec->wifi_ssid);
  check_text(rec->wifi_psk, sizeof rec->wifi_psk);
  for (size_t i = 0; i < 32; i++) {
    uint8_t code = hud_get_u8(g_hud, HUD_RC_MAP + i);
    if (code > 21 && code != 255) abort();
  }
  // Whatever was read is written back as a file of 48 settings.
  std::string text = config_file_text(rec);
  if (text.size() < 2000) abort();
  return 0;
}
