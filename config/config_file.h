// The configuration file: reader (inih), RC channel map, writer.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

struct ConfigRecord;

// inih handler: stores one setting into the process-wide ConfigRecord.
// Returns 1 when stored, 0 when rejected (a section, an unknown key).
int config_key_handler(void* user, const char* section, const char* name, const char* value);

// A setting's number: base 10, saturated at the int32 limits as strtol does
// on the Pi (whose long is 32 bits); a text that is no number is 0.
int32_t config_number(const char* value);

// Whether the file carries this text value of the field with the given key
// unchanged: written by config_save and read back, it comes back byte for
// byte. The reader trims blanks, takes " ;" as the start of a comment, drops
// double quotes from quoted fields and reads lines of at most 199
// characters; the writer drops control characters. False with *why (a short
// reason for the log) when it would change, or the key is no text field.
bool config_text_fits(const char* key, const char* value, std::string* why);

// Fills the channel table (HudBlock bytes 954-985) from a map text.
void rc_map_parse(const char* map);

// Rewrites /boot/pelquarinthos-wired.conf from the record (atomically: a
// temporary file renamed over the master), refreshes the /run copy and
// publishes the record to /config_mem.
void config_save();

// Start-up: defaults, then the file "pelquarinthos.conf" in the working
// directory, then /config_mem. Negative when the file cannot be opened.
int32_t config_load();

// Reads a configuration file into the process-wide record with inih's rules.
// Returns -1 when the file cannot be opened, else 0 or the first bad line.
int config_read_file(const char* path);
// The same for a text in memory (tests, fuzzing).
int config_read_text(const char* text, size_t length);

// The exact text config_save writes for a record (CR LF line ends).
std::string config_file_text(const ConfigRecord* rec);
