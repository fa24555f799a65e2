#include "core/config_record.h"

#include <string>

namespace {
ConfigRecord g_record;                         // zeroed before main runs
std::string& g_shm_prefix = *new std::string;  // never destroyed: read until the end

void store_char(char* p, char c) { std::atomic_ref<char>(*p).store(c, std::memory_order_relaxed); }
char load_char(const char* p) {
  return std::atomic_ref<char>(const_cast<char&>(*p)).load(std::memory_order_relaxed);
}
}  // namespace

ConfigRecord* config_record() { return &g_record; }

void cfg_text_set(char* field, size_t size, const char* src, size_t max_chars) {
  if (size == 0) return;
  size_t limit = size - 1;
  if (max_chars < limit) limit = max_chars;
  size_t out = 0;
  for (size_t i = 0; src && src[i] && out < limit; i++) {
    unsigned char c = static_cast<unsigned char>(src[i]);
    if (c < 0x20) continue;  // a CR, LF or NUL stored here would add lines to the file
    store_char(field + out++, static_cast<char>(c));
  }
  for (size_t i = out; i < size; i++) store_char(field + i, 0);
}

void cfg_text_get(char* dst, size_t dst_size, const char* field, size_t field_size) {
  if (dst_size == 0) return;
  size_t i = 0;
  for (; i < field_size && i + 1 < dst_size; i++) {
    char c = load_char(field + i);
    if (c == 0) break;
    dst[i] = c;
  }
  dst[i] = 0;
}

void config_shm_set_prefix(const char* prefix) { g_shm_prefix = prefix ? prefix : ""; }
const char* config_shm_prefix() { return g_shm_prefix.c_str(); }
