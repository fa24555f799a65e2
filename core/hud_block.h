// The daemon's published state: 2728 bytes in POSIX shared memory
// ("/hud_mem"), read by the display processes and partly written by them.
//
// Several fields are not naturally aligned and other processes and threads
// touch them at any time, so nothing here is a struct: every field is an
// offset into the block, and every access goes through the helpers below,
// which read and write byte by byte (relaxed atomics, little-endian), so no
// misaligned pointer is ever formed and no half-written byte is ever seen.
#pragma once

#include <cstddef>
#include <cstdint>

#include "core/hud_fields.h"

inline constexpr size_t kHudSize = 2728;

// Offsets, one per field of core/hud_fields.h (its type, width, meaning and
// writer are there).
enum HudOffset : size_t {
#define PQW_HUD_OFFSET(constant, offset, ...) constant = offset,
  PQW_HUD_FIELDS(PQW_HUD_OFFSET)
#undef PQW_HUD_OFFSET
};

static_assert(HUD_MEDIA_TEXT + 40 <= kHudSize);
static_assert(HUD_MAILBOX + 512 <= HUD_CAMERA_STATUS);
static_assert(HUD_RC_FUNC_POSITION + 256 == HUD_RC_MENU);
static_assert(HUD_RC_FUNC_CENTRED + 256 == HUD_RC_FUNC_POSITION);
static_assert(HUD_RC_CHANNELS + 64 == HUD_RC_MAP);
static_assert(HUD_RC_MAP + 32 == HUD_RC_FUNC_PRESENT);
static_assert(HUD_LINK_STATUS + 128 == HUD_VIDEO_STATUS);
static_assert(HUD_RECORD64 + 64 <= HUD_RECORD64_TIME);

// Maps "/hud_mem" (created with mode 0600 and sized when missing; an existing
// block is reused as it is) and returns the mapping.
uint8_t* hud_shm_open();
// hud_shm_open, then holds the mapping as the process-wide pointer.
void hud_init();
// The process-wide pointer (null before hud_init unless a test set one).
uint8_t* hud_block();
// Tests and tools point the process at a block of their own.
void hud_set_block(uint8_t* block);

// Field access. All take the block explicitly so that tests can use their own.
uint8_t hud_get_u8(const uint8_t* hud, size_t off);
void hud_set_u8(uint8_t* hud, size_t off, uint8_t v);
int8_t hud_get_i8(const uint8_t* hud, size_t off);
uint16_t hud_get_u16(const uint8_t* hud, size_t off);
void hud_set_u16(uint8_t* hud, size_t off, uint16_t v);
int16_t hud_get_i16(const uint8_t* hud, size_t off);
uint32_t hud_get_u32(const uint8_t* hud, size_t off);
void hud_set_u32(uint8_t* hud, size_t off, uint32_t v);
int32_t hud_get_i32(const uint8_t* hud, size_t off);
double hud_get_f64(const uint8_t* hud, size_t off);
void hud_set_f64(uint8_t* hud, size_t off, double v);
// Copies n raw bytes in or out.
void hud_write(uint8_t* hud, size_t off, const void* src, size_t n);
void hud_read(const uint8_t* hud, size_t off, void* dst, size_t n);
// Texts: copied with at most width-1 characters and a NUL.
void hud_set_text(uint8_t* hud, size_t off, size_t width, const char* text);
void hud_get_text(const uint8_t* hud, size_t off, size_t width, char* dst, size_t dst_size);
// Fills n bytes with one value.
void hud_fill(uint8_t* hud, size_t off, uint8_t v, size_t n);
