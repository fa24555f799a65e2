// The configuration file: the 48 settings, read with inih's rules and
// written back as the CR LF text users edit on any computer.
#include "config/config_file.h"

#include <ini.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <mutex>
#include <unistd.h>
#include <utility>

#include "core/config_fields.h"
#include "core/config_record.h"
#include "core/hud_block.h"
#include "platform/health.h"
#include "platform/paths.h"
#include "platform/shell.h"

namespace {

using K = ConfigKind;

// RC function names by code; the channel table holds the code, 255 for none.
const char* const kRcFunctions[] = {
    "pan",           "tilt",      "record",  "record-shot", "menu",       "ev",
    "zoom",          "focus",     "dutch",   "focus-pan",   "focus-tilt", "digital-zoom",
    "digital-zoom2", "iso",       "shutter", "aperture",    "videomode",  "custom-focus-assistant",
    "center",        "intcamera", "osd",     "orient-lock"};
constexpr int kRcChannels = 32;

std::mutex g_save_mutex;  // one save at a time: they share the temporary file
std::mutex g_map_mutex;   // one map parse at a time: the table is written whole

void key_store(ConfigRecord* rec, const ConfigField& k, const char* value) {
  switch (k.kind) {
    case K::none:
      break;
    case K::flag:
      config_field_set(rec, k, config_number(value) != 0 ? 1 : 0);
      break;
    case K::byte:
    case K::integer:
      config_field_set(rec, k, config_number(value));
      break;
    case K::seconds:
      config_field_set(rec, k,
                       static_cast<int32_t>(static_cast<uint32_t>(config_number(value)) * 1000u));
      break;
    case K::text:
    case K::map:
      cfg_text_set(config_field_text(rec, k), k.slot.size, value);
      break;
    case K::quoted: {
      // Cut to the field first, then drop every double quote wherever it is.
      char tmp[256];
      size_t size = k.slot.size < sizeof tmp ? k.slot.size : sizeof tmp;
      cfg_text_set(tmp, size, value);
      size_t out = 0;
      for (size_t i = 0; tmp[i]; i++)
        if (tmp[i] != '"') tmp[out++] = tmp[i];
      tmp[out] = 0;
      cfg_text_set(config_field_text(rec, k), k.slot.size, tmp);
      break;
    }
  }
}

// ---- inih's line rules, for the one line the reader hands over itself ----

bool is_space(char c) { return isspace(static_cast<unsigned char>(c)) != 0; }

// inih's find_chars_or_comment: the first of `chars`, or a ';' after a blank.
size_t find_chars_or_comment(const std::string& s, size_t from, const char* chars) {
  bool was_space = false;
  size_t i = from;
  while (i < s.size() && !(chars && strchr(chars, s[i])) && !(was_space && s[i] == ';')) {
    was_space = is_space(s[i]);
    i++;
  }
  return i;
}

std::string trimmed(const std::string& s, size_t from, size_t to) {
  while (from < to && is_space(s[from])) from++;
  while (to > from && is_space(s[to - 1])) to--;
  return s.substr(from, to - from);
}

// inih reads lines of at most 199 characters and would take each longer
// piece as a line of its own, so that the tail of a long comment or value
// ("#" + 198 characters + "camera_type=2") became a setting. Here only the
// first 199 characters of a physical line reach inih (a long value is cut
// there, as before) and the rest of the line is skipped. A saved
// rc_input_map may be up to 511 characters, so that one line is taken whole:
// the reader hands inih "rc_input_map=" and keeps the value aside for the
// handler.
struct ReadCtx {
  FILE* file = nullptr;
  std::string chunk;  // current physical line, or a piece of a huge one
  size_t pos = 0;     // next character of chunk to hand over
  bool at_line_start = true;
  int lines = 0;
  bool map_pending = false;
  std::string map_value;
};

bool load_chunk(ReadCtx* c, size_t cap, bool* whole_line) {
  c->chunk.clear();
  c->pos = 0;
  bool started_at_line_start = c->at_line_start;
  int ch;
  while (c->chunk.size() < cap && (ch = getc(c->file)) != EOF) {
    c->chunk.push_back(static_cast<char>(ch));
    if (ch == '\n') break;
  }
  if (c->chunk.empty()) return false;
  bool ended = c->chunk.back() == '\n' || c->chunk.size() < cap;
  *whole_line = started_at_line_start && ended;
  c->at_line_start = ended;
  if (started_at_line_start) c->lines++;
  return true;
}

// When the whole line is an over-long "rc_input_map" setting, its value by
// inih's rules (trimmed, cut at an inline " ;" comment).
bool long_map_value(const ReadCtx* c, size_t piece, std::string* value) {
  const std::string& s = c->chunk;
  if (s.size() <= piece || s.find('\0') != std::string::npos) return false;
  size_t start = 0;
  if (c->lines == 1 && s.compare(0, 3, "\xEF\xBB\xBF") == 0) start = 3;
  if (start >= s.size() || is_space(s[start])) return false;  // maybe a continuation line
  size_t end = s.size();
  while (end > start && is_space(s[end - 1])) end--;
  std::string line = s.substr(0, end);
  size_t sep = find_chars_or_comment(line, start, "=:");
  if (sep >= line.size() || (line[sep] != '=' && line[sep] != ':')) return false;
  if (trimmed(line, start, sep) != "rc_input_map") return false;
  size_t vend = find_chars_or_comment(line, sep + 1, nullptr);
  *value = trimmed(line, sep + 1, vend);
  return true;
}

// Drops what is left of the current physical line, in the chunk and beyond.
void skip_rest_of_line(ReadCtx* c) {
  c->pos = c->chunk.size();
  if (c->at_line_start) return;
  int ch;
  while ((ch = getc(c->file)) != EOF && ch != '\n') {
  }
  c->at_line_start = true;
}

char* read_piece(char* str, int num, void* stream) {
  ReadCtx* c = static_cast<ReadCtx*>(stream);
  if (num < 2) return nullptr;
  size_t piece = static_cast<size_t>(num - 1);
  if (c->pos >= c->chunk.size()) {
    bool whole = false;
    // A multiple of the piece size, so pieces of a huge line fall where
    // fgets would put them.
    if (!load_chunk(c, piece * 330, &whole)) return nullptr;
    std::string value;
    if (whole && long_map_value(c, piece, &value)) {
      c->map_pending = true;
      c->map_value = value;
      c->pos = c->chunk.size();
      snprintf(str, static_cast<size_t>(num), "rc_input_map=\n");
      return str;
    }
  }
  size_t n = 0;
  while (n < piece && c->pos < c->chunk.size()) {
    char ch = c->chunk[c->pos++];
    str[n++] = ch;
    if (ch == '\n') break;
  }
  str[n] = 0;
  if (n == 0 || str[n - 1] != '\n') skip_rest_of_line(c);
  return str;
}

int read_handler(void* user, const char* section, const char* name, const char* value) {
  ReadCtx* c = static_cast<ReadCtx*>(user);
  if (c->map_pending && strcmp(name, "rc_input_map") == 0) {
    c->map_pending = false;
    return config_key_handler(nullptr, section, name, c->map_value.c_str());
  }
  return config_key_handler(nullptr, section, name, value);
}

int read_stream(FILE* f) {
  ReadCtx ctx;
  ctx.file = f;
  return ini_parse_stream(read_piece, &ctx, read_handler, &ctx);
}

// ---- writer ----

void append_text(std::string* out, const char* field, size_t size) {
  char buf[512];
  cfg_text_get(buf, sizeof buf, field, size);
  for (size_t i = 0; buf[i]; i++)
    if (static_cast<unsigned char>(buf[i]) >= 0x20) out->push_back(buf[i]);
}

bool write_all(int fd, const std::string& text) {
  size_t done = 0;
  while (done < text.size()) {
    ssize_t n = write(fd, text.data() + done, text.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    done += static_cast<size_t>(n);
  }
  return true;
}

void fsync_dir(const std::string& file) {
  std::string dir = file.substr(0, file.rfind('/') + 1);
  int fd = open(dir.empty() ? "." : dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return;
  fsync(fd);
  close(fd);
}

// The new text goes to a temporary file beside the master and is renamed
// over it only once it is on the card: a power cut or kill in the middle of
// a save leaves either the old file or the new one, never a truncated one.
bool write_master(const std::string& master, const std::string& text) {
  std::string tmp = master + ".tmp";
  int fd = open(tmp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (fd < 0) return false;
  bool ok = write_all(fd, text) && fsync(fd) == 0;
  ok = (close(fd) == 0) && ok;
  if (!ok || rename(tmp.c_str(), master.c_str()) != 0) {
    unlink(tmp.c_str());
    return false;
  }
  fsync_dir(master);
  return true;
}

}  // namespace

// strtol as on the Pi, whose long is 32 bits: out-of-range numbers saturate
// at the int32 limits rather than wrapping the low word of a 64-bit value.
int32_t config_number(const char* value) {
  long long n = strtoll(value, nullptr, 10);
  if (n > INT32_MAX) return INT32_MAX;
  if (n < INT32_MIN) return INT32_MIN;
  return static_cast<int32_t>(n);
}

int config_key_handler(void*, const char* section, const char* name, const char* value) {
  if (section && *section) return 0;
  if (!name || !value) return 0;
  const ConfigField* k = config_field_by_key(name);
  if (!k) return 0;
  ConfigRecord* rec = config_record();
  key_store(rec, *k, value);
  if (k->kind == K::map) {
    char map[sizeof rec->rc_input_map];
    CFG_TEXT_GET(map, rec->rc_input_map);
    rc_map_parse(map);
  }
  return 1;
}

bool config_text_fits(const char* key, const char* value, std::string* why) {
  const ConfigField* f = key ? config_field_by_key(key) : nullptr;
  if (!f || (f->kind != K::text && f->kind != K::quoted && f->kind != K::map)) {
    *why = "no text setting";
    return false;
  }
  std::string v = value ? value : "";
  // The longest line inih reads whole; the channel map alone is read past it.
  constexpr size_t kLineMax = 199;
  size_t line = strlen(f->key) + 1 + v.size() + (f->kind == K::quoted ? 2 : 0);
  if (v.size() + 1 > f->slot.size) {
    *why = "longer than " + std::to_string(f->slot.size - 1) + " characters";
  } else if (f->kind != K::map && line > kLineMax) {
    *why = "the file's line would be longer than 199 characters";
  } else if (std::any_of(v.begin(), v.end(),
                         [](char c) { return static_cast<unsigned char>(c) < 0x20; })) {
    *why = "a control character";
  } else if (!v.empty() && (is_space(v.front()) || is_space(v.back()))) {
    *why = "a blank at its start or end";
  } else if (find_chars_or_comment(v, 0, nullptr) < v.size()) {
    *why = "a ';' after a blank (the file would take the rest as a comment)";
  } else if (f->kind == K::quoted && v.find('"') != std::string::npos) {
    *why = "a double quote";
  } else {
    return true;
  }
  return false;
}

void rc_map_parse(const char* map) {
  uint8_t* hud = hud_block();
  if (!hud || !map) return;
  std::lock_guard<std::mutex> lock(g_map_mutex);
  char copy[512];
  snprintf(copy, sizeof copy, "%s", map);
  uint8_t table[kRcChannels];
  memset(table, 255, sizeof table);
  const char* entry = copy;
  for (int i = 0; i < kRcChannels; i++) {
    const char* comma = strchr(entry, ',');
    size_t len = comma ? static_cast<size_t>(comma - entry) : strlen(entry);
    for (size_t code = 0; code < sizeof kRcFunctions / sizeof kRcFunctions[0]; code++) {
      if (strlen(kRcFunctions[code]) == len && strncmp(kRcFunctions[code], entry, len) == 0) {
        table[i] = static_cast<uint8_t>(code);
        break;
      }
    }
    if (!comma) break;
    entry = comma + 1;
  }
  hud_write(hud, HUD_RC_MAP, table, sizeof table);
}

int config_read_file(const char* path) {
  FILE* f = fopen(path, "re");
  if (!f) return -1;
  int rc = read_stream(f);
  fclose(f);
  return rc;
}

int config_read_text(const char* text, size_t length) {
  if (length == 0) return 0;
  FILE* f = fmemopen(const_cast<char*>(text), length, "r");
  if (!f) return -1;
  int rc = read_stream(f);
  fclose(f);
  return rc;
}

std::string config_file_text(const ConfigRecord* rec) {
  ConfigRecord* r = const_cast<ConfigRecord*>(rec);
  std::string out = "# Pelquarinthos-wired config file\r\n\r\n";
  for (size_t i = 0; i < kConfigTableSize; i++) {
    const ConfigField& k = kConfigTable[i];
    if (k.kind == K::none) continue;
    for (const char* c : k.comments) {
      if (!c) break;
      out += c;
      out += "\r\n";
    }
    out += k.key;
    out += '=';
    switch (k.kind) {
      case K::none:
        break;
      case K::flag:
      case K::byte:
      case K::integer:
        out += std::to_string(config_field_get(r, k));
        break;
      case K::seconds:
        out += std::to_string(config_field_get(r, k) / 1000);
        break;
      case K::text:
      case K::map:
        append_text(&out, config_field_text(r, k), k.slot.size);
        break;
      case K::quoted:
        out += '"';
        append_text(&out, config_field_text(r, k), k.slot.size);
        out += '"';
        break;
    }
    out += "\r\n\r\n";
  }
  return out;
}

void config_save() {
  std::lock_guard<std::mutex> lock(g_save_mutex);
  health_add(HEALTH_CONFIG_SAVES);
  config_publish();
  std::string boot = root_path("/boot");
  std::string master = root_path("/boot/pelquarinthos-wired.conf");
  shell_run(("mount -o rw,remount " + boot).c_str());
  if (!write_master(master, config_file_text(config_record()))) return;
  shell_run(("umount " + boot).c_str());
  shell_run(("mount " + boot).c_str());
  shell_run(
      ("cat " + master + " | sed 's/\\r$//' > " + root_path("/run/pelquarinthos.conf")).c_str());
}
