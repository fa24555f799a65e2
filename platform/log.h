// The daemon's log lines: on standard error (log_error ... log_debug) or
// standard output (log_out, log_health), formatted as printf.
//
// On a terminal or a plain pipe the text goes out exactly as given. When the
// stream is the journal (JOURNAL_STREAM names its device and inode, as
// systemd sets it for StandardOutput=journal), every line starts with its
// syslog priority "<N>" and colour escapes are removed, so the journal
// records the priority and not the escape bytes.
#pragma once

#include <cstdarg>
#include <cstddef>
#include <cstdint>
#include <string>

enum class LogLevel : int { kError = 3, kWarning = 4, kInfo = 6, kDebug = 7 };

// Reads JOURNAL_STREAM once and checks it against the two descriptors.
// Logging before it behaves as on a terminal.
void log_init();
bool log_to_journal(int fd);  // 1 or 2

void log_error(const char* fmt, ...) __attribute__((format(printf, 1, 2)));
void log_warning(const char* fmt, ...) __attribute__((format(printf, 1, 2)));
void log_info(const char* fmt, ...) __attribute__((format(printf, 1, 2)));
void log_debug(const char* fmt, ...) __attribute__((format(printf, 1, 2)));
// Standard output, for the lines that have always gone there.
void log_out(LogLevel level, const char* fmt, ...) __attribute__((format(printf, 2, 3)));
// The once-a-second health lines (standard output, debug): in the journal at
// most one a minute, so that they do not drown everything else.
void log_health(const char* fmt, ...) __attribute__((format(printf, 1, 2)));

// The text of fmt and its arguments as every log function writes it: the
// format's own text as it is, and each %s and %c argument with its control
// characters (below 0x20, and 0x7F) escaped as \n, \r, \t or \xNN. Those
// arguments are where text from outside (a viewer's command, a setting, a
// network name) reaches the log, and a newline there would write a line of
// its own. %n is not supported (nothing is stored).
std::string log_vtext(const char* fmt, va_list ap);
std::string log_text(const char* fmt, ...) __attribute__((format(printf, 1, 2)));

// The text as it would be written: "<N>" before each line and no colour
// escapes when journal is true, unchanged otherwise. at_line_start says
// whether the previous text ended its line; it is updated.
void log_format(LogLevel level, bool journal, const char* text, bool* at_line_start, char* out,
                size_t out_size, size_t* out_length);
