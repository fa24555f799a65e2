// The ConfigRecord's fields as one table: every fact about a setting in one
// row, and everything that handles settings reads it from here:
//
//   - the configuration file reader and writer (config/config_file.cc): the
//     key, how its value is parsed and written, the comment lines above it;
//     the rows are in the order of the file;
//   - the viewers' configuration report (config/config_report.cc): the JSON
//     member, its style and its place in the report;
//   - "updateparam" (config/config_command.cc), for the settings a viewer
//     changes one field at a time: the setting name, how its value is read,
//     the HudBlock byte that mirrors it and which process must read it again;
//   - pqw-hud's JSON, `pqw-hud --layout` and docs/hud-layout.md (core/layout.cc).
//
// Offsets, sizes and types come from the struct itself (core/config_record.h)
// through CONFIG_SLOT, so the table cannot disagree with the layout.
//
// A new setting, end to end: the struct member; one row here (a file key, a
// report member, a setting name, as it needs); docs/hud-layout.md regenerated.
#pragma once

#include <cstddef>
#include <cstdint>

#include "core/config_record.h"

// How the file's value is parsed and written.
enum class ConfigKind : uint8_t {
  none,     // not in the file
  flag,     // any non-zero number is 1
  byte,     // the low 8 bits of the number
  integer,  // 32 bits; out-of-range numbers saturate
  text,     // cut to the field
  quoted,   // written in double quotes; every double quote is dropped on reading
  map,      // the RC channel map: a text, and the HudBlock channel table with it
  seconds,  // the file holds seconds, the record milliseconds
};

// How the report shows a field.
enum class ReportStyle : uint8_t {
  none,    // not reported
  number,  // a JSON number
  text,    // a JSON text, escaped
  iface,   // an interface name as its code, a text: "wlan0" "2", "wifi0" "1", else "0"
};

// How "updateparam" reads the value of a one-field setting.
enum class ParamRule : uint8_t {
  none,     // not changed through a one-field setting
  flag,     // "value" is "1" or "true"
  nonzero,  // number("value") != 0
  number,   // number("value"), the low 8 bits for a byte field
};

enum class ConfigType : uint8_t { u8, i32, text, pad };

// Where a field is in the record; made by CONFIG_SLOT from the member.
struct ConfigSlot {
  const char* member;
  size_t offset;
  size_t size;
  ConfigType type;
  uint8_t ConfigRecord::*u8;   // set for u8
  int32_t ConfigRecord::*i32;  // set for i32
};

struct ConfigField {
  ConfigSlot slot;
  // the file
  const char* key = nullptr;
  ConfigKind kind = ConfigKind::none;
  const char* comments[4] = {};
  // the report
  const char* report = nullptr;
  ReportStyle style = ReportStyle::none;
  int report_pos = 0;  // place in the report, from 1
  // "updateparam"
  const char* param = nullptr;
  ParamRule rule = ParamRule::none;
  int hud = -1;  // HudBlock byte set to the same value before the record, or -1
  // The process that must start again to read the new value ("rcin",
  // "display", ...; "daemon": the daemon itself ends with status 2 and the
  // service starts it again), or nullptr.
  const char* reread_by = nullptr;
  // pqw-hud and the layout document
  const char* writer = "config";
  const char* meaning = "";
};

extern const ConfigField kConfigTable[];
extern const size_t kConfigTableSize;

// Typed access to a row's field in a record (relaxed, like cfg_get/cfg_set).
int32_t config_field_get(const ConfigRecord* rec, const ConfigField& f);  // u8 and i32
void config_field_set(ConfigRecord* rec, const ConfigField& f, int32_t value);
char* config_field_text(ConfigRecord* rec, const ConfigField& f);  // text: f.slot.size bytes

// The row with this file key / report member / setting name, or nullptr.
const ConfigField* config_field_by_key(const char* key);
const ConfigField* config_field_by_param(const char* param);
