// The HudBlock's and the ConfigRecord's fields as data, from their one tables
// (core/hud_fields.h, core/config_fields.h): for pqw-hud and for
// docs/hud-layout.md, so display processes need none of our C++.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

enum class FieldType { u8, i8, u16, i16, u32, i32, f64, text, bytes, u8s, u16s, i16s, f64s, pad };

struct LayoutField {
  const char* name;  // the JSON name pqw-hud prints
  size_t offset;
  FieldType type;
  size_t count;        // elements (bytes for text, bytes and pad)
  const char* writer;  // folder of the daemon, or the local process
  const char* meaning;
};

extern const LayoutField kHudFields[];
extern const size_t kHudFieldCount;
// The ConfigRecord's fields in offset order, from core/config_fields.h.
std::vector<LayoutField> config_layout();

// Bytes the field takes in its block.
size_t layout_width(const LayoutField& f);
const char* layout_type_name(FieldType type);

// docs/hud-layout.md: both blocks, every field with offset, type, width,
// meaning and writer; `pqw-hud --layout` prints the same.
std::string layout_markdown();
