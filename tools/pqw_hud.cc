// pqw-hud: prints the daemon's HudBlock and its published ConfigRecord as
// JSON, for people writing display processes and for tests.
//
//   pqw-hud [--shm-prefix P] | --layout (see kUsage)
//   pqw-hud --stats [--root DIR] [--shm-prefix P]   the daemon's health counters
//
// {"hud": {"started": 2, "product": "Pelquarinthos Wired", ...},
//  "config": {"disabled": 0, ..., "version": "0.14.11", ...}}
// A block that does not exist prints as null; the exit status is 1 when the
// HudBlock is missing.
#include <cjson/cJSON.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <string>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include "core/config_record.h"
#include "core/health_file.h"
#include "core/hud_block.h"
#include "core/layout.h"
#include "core/version.h"
#include "platform/shm.h"

namespace {

const char kUsage[] =
    "usage: pqw-hud [--shm-prefix P] | --layout | --stats [--root DIR]\n"
    "Prints the daemon's HudBlock and its published configuration record as JSON.\n"
    "\n"
    "  --shm-prefix P   the blocks are /Phud_mem and /Pconfig_mem (default: none)\n"
    "  --layout         both blocks' layout as Markdown (docs/hud-layout.md)\n"
    "  --stats          the daemon's health counters (JSON, replaced once a second)\n"
    "  --root DIR       with --stats: the daemon's --root\n"
    "  --version        the version\n"
    "  --help           this text\n"
    "\n"
    "A block that does not exist prints as null; the exit status is 1 when the\n"
    "HudBlock is missing. Reading needs root or membership of the blocks' group\n"
    "(pelquarinthos when it exists).\n";

// Names the block and why it could not be read, so that a display developer
// sees at once a wrong prefix or a missing group membership.
const void* map_block(const std::string& name, size_t size) {
  errno = 0;  // still 0 after a failure: the block exists but is too short
  const void* p = shm_map_ro(name.c_str(), size);
  if (!p)
    fprintf(stderr, "pqw-hud: cannot read shared memory %s: %s\n", name.c_str(),
            errno == 0 ? "shorter than the layout" : strerror(errno));
  return p;
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

// The counters file as the daemon last wrote it.
int print_stats(const std::string& root, const std::string& prefix) {
  std::string path = health_file_path(root, prefix);
  FILE* f = fopen(path.c_str(), "re");
  if (!f) {
    fprintf(stderr, "pqw-hud: no counters at %s (is the daemon running?)\n", path.c_str());
    return 1;
  }
  char buffer[4096];
  size_t n;
  while ((n = fread(buffer, 1, sizeof buffer, f)) > 0) fwrite(buffer, 1, n, stdout);
  fclose(f);
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  std::string prefix;
  std::string run_root;
  bool stats = false;
  for (int i = 1; i < argc; i++) {
    std::string a = argv[i];
    if (a == "--stats") {
      stats = true;
    } else if (a == "--root" && i + 1 < argc) {
      run_root = argv[++i];
    } else if (a == "--shm-prefix" && i + 1 < argc) {
      prefix = argv[++i];
    } else if (a.rfind("--shm-prefix=", 0) == 0) {
      prefix = a.substr(13);
    } else if (a == "--layout") {
      fputs(layout_markdown().c_str(), stdout);
      return 0;
    } else if (a == "--help" || a == "-h") {
      fputs(kUsage, stdout);
      return 0;
    } else if (a == "--version") {
      printf("pqw-hud %d.%d.%d\n", kVersionMajor, kVersionMinor, kVersionPatch);
      return 0;
    } else {
      fprintf(stderr, "pqw-hud: unknown argument %s\n%s", a.c_str(), kUsage);
      return 2;
    }
  }
  if (stats) return print_stats(run_root, prefix);
  const uint8_t* hud = static_cast<const uint8_t*>(map_block("/" + prefix + "hud_mem", kHudSize));
  const void* cfg = map_block("/" + prefix + "config_mem", sizeof(ConfigRecord));
  std::vector<LayoutField> config = config_layout();
  cJSON* root = cJSON_CreateObject();
  cJSON_AddItemToObject(root, "hud",
                        hud ? block_json(hud, kHudFields, kHudFieldCount) : cJSON_CreateNull());
  cJSON_AddItemToObject(
      root, "config",
      cfg ? block_json(static_cast<const uint8_t*>(cfg), config.data(), config.size())
          : cJSON_CreateNull());
  char* text = cJSON_Print(root);
  if (text) {
    puts(text);
    cJSON_free(text);
  }
  cJSON_Delete(root);
  return hud ? 0 : 1;
}
