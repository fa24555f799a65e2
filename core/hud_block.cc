#include "core/hud_block.h"

#include <atomic>
#include <cstring>

namespace {

uint8_t* g_hud = nullptr;

uint8_t load_byte(const uint8_t* p) {
  return std::atomic_ref<uint8_t>(const_cast<uint8_t&>(*p)).load(std::memory_order_relaxed);
}
void store_byte(uint8_t* p, uint8_t v) {
  std::atomic_ref<uint8_t>(*p).store(v, std::memory_order_relaxed);
}

uint64_t load_le(const uint8_t* hud, size_t off, size_t n) {
  uint64_t v = 0;
  for (size_t i = 0; i < n; i++) v |= static_cast<uint64_t>(load_byte(hud + off + i)) << (8 * i);
  return v;
}
void store_le(uint8_t* hud, size_t off, uint64_t v, size_t n) {
  for (size_t i = 0; i < n; i++) store_byte(hud + off + i, static_cast<uint8_t>(v >> (8 * i)));
}

}  // namespace

uint8_t* hud_block() { return g_hud; }
void hud_set_block(uint8_t* block) { g_hud = block; }

uint8_t hud_get_u8(const uint8_t* hud, size_t off) { return load_byte(hud + off); }
void hud_set_u8(uint8_t* hud, size_t off, uint8_t v) { store_byte(hud + off, v); }
int8_t hud_get_i8(const uint8_t* hud, size_t off) {
  return static_cast<int8_t>(load_byte(hud + off));
}
uint16_t hud_get_u16(const uint8_t* hud, size_t off) {
  return static_cast<uint16_t>(load_le(hud, off, 2));
}
void hud_set_u16(uint8_t* hud, size_t off, uint16_t v) { store_le(hud, off, v, 2); }
int16_t hud_get_i16(const uint8_t* hud, size_t off) {
  return static_cast<int16_t>(load_le(hud, off, 2));
}
uint32_t hud_get_u32(const uint8_t* hud, size_t off) {
  return static_cast<uint32_t>(load_le(hud, off, 4));
}
void hud_set_u32(uint8_t* hud, size_t off, uint32_t v) { store_le(hud, off, v, 4); }
int32_t hud_get_i32(const uint8_t* hud, size_t off) {
  return static_cast<int32_t>(load_le(hud, off, 4));
}

double hud_get_f64(const uint8_t* hud, size_t off) {
  uint64_t bits = load_le(hud, off, 8);
  double d;
  std::memcpy(&d, &bits, sizeof d);
  return d;
}
void hud_set_f64(uint8_t* hud, size_t off, double v) {
  uint64_t bits;
  std::memcpy(&bits, &v, sizeof bits);
  store_le(hud, off, bits, 8);
}

void hud_write(uint8_t* hud, size_t off, const void* src, size_t n) {
  const uint8_t* s = static_cast<const uint8_t*>(src);
  for (size_t i = 0; i < n && off + i < kHudSize; i++) store_byte(hud + off + i, s[i]);
}
void hud_read(const uint8_t* hud, size_t off, void* dst, size_t n) {
  uint8_t* d = static_cast<uint8_t*>(dst);
  for (size_t i = 0; i < n && off + i < kHudSize; i++) d[i] = load_byte(hud + off + i);
}

void hud_set_text(uint8_t* hud, size_t off, size_t width, const char* text) {
  if (width == 0) return;
  size_t i = 0;
  for (; text && text[i] && i + 1 < width; i++)
    store_byte(hud + off + i, static_cast<uint8_t>(text[i]));
  store_byte(hud + off + i, 0);
}
void hud_get_text(const uint8_t* hud, size_t off, size_t width, char* dst, size_t dst_size) {
  if (dst_size == 0) return;
  size_t i = 0;
  for (; i < width && i + 1 < dst_size; i++) {
    uint8_t c = load_byte(hud + off + i);
    if (c == 0) break;
    dst[i] = static_cast<char>(c);
  }
  dst[i] = 0;
}
void hud_fill(uint8_t* hud, size_t off, uint8_t v, size_t n) {
  for (size_t i = 0; i < n && off + i < kHudSize; i++) store_byte(hud + off + i, v);
}
