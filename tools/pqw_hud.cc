// pqw-hud: prints the daemon's HudBlock and its published ConfigRecord as
// JSON, for people writing display processes and for tests.
//
//   pqw-hud [--shm-prefix P]
//   pqw-hud --layout          both blocks' layout (docs/hud-layout.md)
//
// {"hud": {"started": 2, "product": "Pelquarinthos Wired", ...},
//  "config": {"disabled": 0, ..., "version": "0.14.11", ...}}
// A block that does not exist prints as null; the exit status is 1 when the
// HudBlock is missing.
#include <cjson/cJSON.h>

#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <string>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include "core/config_record.h"
#include "core/hud_block.h"
#include "core/layout.h"
#include "platform/shm.h"

namespace {

const void* map_block(const std::string& name, size_t size) {
  return shm_map_ro(name.c_str(), size);
}

cJSON* field_array(const uint8_t* block, const LayoutField& f) {
  cJSON* a = cJSON_CreateArray();
  for (size_t i = 0; i < f.count; i++) {
    double v = 0;
    switch (f.type) {
      case FieldType::u16s:
        v = hud_get_u16(block, f.offset + 2 * i);
        break;
      case FieldType::i16s:
        v = hud_get_i16(block, f.offset + 2 * i);
        break;
      case FieldType::f64s:
        v = hud_get_f64(block, f.offset + 8 * i);
        break;
      default:
        v = hud_get_u8(block, f.offset + i);
        break;
    }
    cJSON_AddItemToArray(a, cJSON_CreateNumber(v));
  }
  return a;
}

// Both blocks are read the same way, by offset, through the HudBlock's
// byte-wise helpers (the ConfigRecord's numbers are little-endian too).
cJSON* block_json(const uint8_t* block, const LayoutField* fields, size_t n) {
  cJSON* o = cJSON_CreateObject();
  for (size_t i = 0; i < n; i++) {
    const LayoutField& f = fields[i];
    switch (f.type) {
      case FieldType::pad:
        break;
      case FieldType::u8:
        cJSON_AddNumberToObject(o, f.name, hud_get_u8(block, f.offset));
        break;
      case FieldType::i8:
        cJSON_AddNumberToObject(o, f.name, hud_get_i8(block, f.offset));
        break;
      case FieldType::u16:
        cJSON_AddNumberToObject(o, f.name, hud_get_u16(block, f.offset));
        break;
      case FieldType::i16:
        cJSON_AddNumberToObject(o, f.name, hud_get_i16(block, f.offset));
        break;
      case FieldType::u32:
        cJSON_AddNumberToObject(o, f.name, hud_get_u32(block, f.offset));
        break;
      case FieldType::i32:
        cJSON_AddNumberToObject(o, f.name, hud_get_i32(block, f.offset));
        break;
      case FieldType::f64:
        cJSON_AddNumberToObject(o, f.name, hud_get_f64(block, f.offset));
        break;
      case FieldType::text: {
        char text[513];
        hud_get_text(block, f.offset, f.count, text, sizeof text);
        cJSON_AddStringToObject(o, f.name, text);
        break;
      }
      default:
        cJSON_AddItemToObject(o, f.name, field_array(block, f));
        break;
    }
  }
  return o;
}

}  // namespace

int main(int argc, char** argv) {
  std::string prefix;
  for (int i = 1; i < argc; i++) {
    std::string a = argv[i];
    if (a == "--shm-prefix" && i + 1 < argc) {
      prefix = argv[++i];
    } else if (a.rfind("--shm-prefix=", 0) == 0) {
      prefix = a.substr(13);
    } else if (a == "--layout") {
      fputs(layout_markdown().c_str(), stdout);
      return 0;
    } else {
      fprintf(stderr, "usage: pqw-hud [--shm-prefix P] | --layout\n");
      return 2;
    }
  }
  const uint8_t* hud = static_cast<const uint8_t*>(map_block("/" + prefix + "hud_mem", kHudSize));
  const void* cfg = map_block("/" + prefix + "config_mem", sizeof(ConfigRecord));
  cJSON* root = cJSON_CreateObject();
  cJSON_AddItemToObject(root, "hud",
                        hud ? block_json(hud, kHudFields, kHudFieldCount) : cJSON_CreateNull());
  cJSON_AddItemToObject(
      root, "config",
      cfg ? block_json(static_cast<const uint8_t*>(cfg), kConfigFields, kConfigFieldCount)
          : cJSON_CreateNull());
  char* text = cJSON_Print(root);
  if (text) {
    puts(text);
    cJSON_free(text);
  }
  cJSON_Delete(root);
  return hud ? 0 : 1;
}
