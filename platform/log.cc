#include "platform/log.h"

#include <atomic>
#include <cstdarg>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>
#include <sys/stat.h>
#include <vector>

#include "platform/clock.h"

namespace {

constexpr int32_t kHealthIntervalMs = 60000;

struct LogStream {
  FILE* file;
  int fd;
  std::atomic<bool> journal{false};
  bool at_line_start = true;
};

struct LogState {
  std::mutex mutex;
  LogStream out{stdout, 1};
  LogStream err{stderr, 2};
  bool health_said = false;
  uint32_t health_last = 0;
};

LogState& log_state() {
  // Never destroyed: threads may still log while exit() runs destructors.
  static LogState* s = new LogState;
  return *s;
}

bool stream_is_journal(const char* env, int fd) {
  if (!env) return false;
  unsigned long long dev = 0, ino = 0;
  if (sscanf(env, "%llu:%llu", &dev, &ino) != 2) return false;
  struct stat st;
  if (fstat(fd, &st) != 0) return false;
  return static_cast<unsigned long long>(st.st_dev) == dev &&
         static_cast<unsigned long long>(st.st_ino) == ino;
}

void escape_append(std::string* out, const char* text, size_t limit) {
  static const char kHex[] = "0123456789abcdef";
  for (size_t i = 0; i < limit && text[i]; i++) {
    unsigned char c = static_cast<unsigned char>(text[i]);
    if (c >= 0x20 && c != 0x7f) {
      out->push_back(static_cast<char>(c));
    } else if (c == '\n') {
      *out += "\\n";
    } else if (c == '\r') {
      *out += "\\r";
    } else if (c == '\t') {
      *out += "\\t";
    } else {
      *out += "\\x";
      out->push_back(kHex[c >> 4]);
      out->push_back(kHex[c & 15]);
    }
  }
}

template <typename T>
void append_formatted(std::string* out, const std::string& directive, T value) {
  char small[128];
  int n = snprintf(small, sizeof small, directive.c_str(), value);
  if (n < 0) return;
  if (static_cast<size_t>(n) < sizeof small) {
    out->append(small, static_cast<size_t>(n));
    return;
  }
  std::string big(static_cast<size_t>(n) + 1, '\0');
  snprintf(big.data(), big.size(), directive.c_str(), value);
  out->append(big.data(), static_cast<size_t>(n));
}

void write_text(LogStream& s, LogLevel level, const char* fmt, va_list ap) {
  std::string text = log_vtext(fmt, ap);
  if (!s.journal.load(std::memory_order_relaxed)) {
    fputs(text.c_str(), s.file);
    return;
  }
  // Worst case: a prefix for every character.
  std::vector<char> out(text.size() * 4 + 8);
  size_t length = 0;
  std::lock_guard<std::mutex> lock(log_state().mutex);
  log_format(level, true, text.c_str(), &s.at_line_start, out.data(), out.size(), &length);
  fwrite(out.data(), 1, length, s.file);
}

}  // namespace

std::string log_vtext(const char* fmt, va_list ap) {
  std::string out;
  va_list args;
  va_copy(args, ap);
  for (const char* p = fmt; p && *p;) {
    if (*p != '%') {
      out.push_back(*p++);
      continue;
    }
    // One conversion: flags, width, precision, length, then the letter.
    const char* start = p++;
    if (*p == '%') {
      out.push_back('%');
      p++;
      continue;
    }
    int width = 0, precision = -1;
    bool has_width = false;
    std::string directive = "%";
    while (*p && strchr("-+ #0'", *p)) directive.push_back(*p++);
    if (*p == '*') {
      width = va_arg(args, int);
      has_width = true;
      p++;
    } else {
      while (*p >= '0' && *p <= '9') directive.push_back(*p++);
    }
    if (has_width) directive += std::to_string(width);
    if (*p == '.') {
      p++;
      precision = 0;
      if (*p == '*') {
        precision = va_arg(args, int);
        p++;
      } else {
        while (*p >= '0' && *p <= '9') precision = precision * 10 + (*p++ - '0');
      }
    }
    std::string length;
    while (*p && strchr("hlLqjzt", *p)) length.push_back(*p++);
    char conv = *p ? *p++ : 0;
    std::string number_spec = directive + (precision >= 0 ? "." + std::to_string(precision) : "");
    switch (conv) {
      case 's': {
        const char* arg = va_arg(args, const char*);
        std::string escaped;
        escape_append(&escaped, arg ? arg : "(null)",
                      precision >= 0 ? static_cast<size_t>(precision) : SIZE_MAX);
        append_formatted(&out, directive + "s", escaped.c_str());
        break;
      }
      case 'c': {
        char c[2] = {static_cast<char>(va_arg(args, int)), 0};
        std::string escaped;
        if (c[0] == 0) escaped = "\\x00";
        escape_append(&escaped, c, 1);
        append_formatted(&out, directive + "s", escaped.c_str());
        break;
      }
      case 'd':
      case 'i':
      case 'u':
      case 'x':
      case 'X':
      case 'o': {
        std::string full = number_spec + length + conv;
        if (length == "ll" || length == "q" || length == "L")
          append_formatted(&out, full, va_arg(args, long long));
        else if (length == "l")
          append_formatted(&out, full, va_arg(args, long));
        else if (length == "z")
          append_formatted(&out, full, va_arg(args, size_t));
        else if (length == "j")
          append_formatted(&out, full, va_arg(args, intmax_t));
        else if (length == "t")
          append_formatted(&out, full, va_arg(args, ptrdiff_t));
        else
          append_formatted(&out, full, va_arg(args, int));  // h, hh promote to int
        break;
      }
      case 'f':
      case 'F':
      case 'e':
      case 'E':
      case 'g':
      case 'G':
      case 'a':
      case 'A':
        if (length == "L")
          append_formatted(&out, number_spec + "L" + conv, va_arg(args, long double));
        else
          append_formatted(&out, number_spec + conv, va_arg(args, double));
        break;
      case 'p':
        append_formatted(&out, directive + "p", va_arg(args, void*));
        break;
      default:
        // Not a conversion this formatter knows (the compiler checks every
        // format): the text as written, and nothing more of the arguments.
        out.append(start, static_cast<size_t>(p - start));
        va_end(args);
        for (; *p; p++) out.push_back(*p);
        return out;
    }
  }
  va_end(args);
  return out;
}

std::string log_text(const char* fmt, ...) {
  va_list ap;
  va_start(ap, fmt);
  std::string text = log_vtext(fmt, ap);
  va_end(ap);
  return text;
}

void log_init() {
  LogState& s = log_state();
  const char* env = getenv("JOURNAL_STREAM");
  s.out.journal.store(stream_is_journal(env, 1));
  s.err.journal.store(stream_is_journal(env, 2));
}

bool log_to_journal(int fd) { return (fd == 1 ? log_state().out : log_state().err).journal.load(); }

void log_format(LogLevel level, bool journal, const char* text, bool* at_line_start, char* out,
                size_t out_size, size_t* out_length) {
  size_t n = 0;
  auto put = [&](char c) {
    if (n + 1 < out_size) out[n++] = c;
  };
  for (const char* p = text; *p; p++) {
    if (journal && *p == '\033' && p[1] == '[') {
      // A colour escape: ESC [ parameters, ending with a letter.
      const char* q = p + 2;
      while (*q && !((*q >= 'A' && *q <= 'Z') || (*q >= 'a' && *q <= 'z'))) q++;
      if (!*q) break;
      p = q;
      continue;
    }
    if (journal && *at_line_start) {
      put('<');
      put(static_cast<char>('0' + static_cast<int>(level)));
      put('>');
    }
    put(*p);
    *at_line_start = *p == '\n';
  }
  if (out_size > 0) out[n] = '\0';
  *out_length = n;
}

#define PQW_LOG_BODY(stream, level)               \
  va_list ap;                                     \
  va_start(ap, fmt);                              \
  write_text(log_state().stream, level, fmt, ap); \
  va_end(ap)

void log_error(const char* fmt, ...) { PQW_LOG_BODY(err, LogLevel::kError); }
void log_warning(const char* fmt, ...) { PQW_LOG_BODY(err, LogLevel::kWarning); }
void log_info(const char* fmt, ...) { PQW_LOG_BODY(err, LogLevel::kInfo); }
void log_debug(const char* fmt, ...) { PQW_LOG_BODY(err, LogLevel::kDebug); }

void log_out(LogLevel level, const char* fmt, ...) { PQW_LOG_BODY(out, level); }

void log_health(const char* fmt, ...) {
  LogState& s = log_state();
  if (s.out.journal.load()) {
    std::lock_guard<std::mutex> lock(s.mutex);
    uint32_t now = time_ms();
    if (s.health_said && time_age(now, s.health_last) < kHealthIntervalMs) return;
    s.health_said = true;
    s.health_last = now;
  }
  PQW_LOG_BODY(out, LogLevel::kDebug);
}
