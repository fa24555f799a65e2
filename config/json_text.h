// JSON string escaping for the texts that go to viewers.
//
// SSIDs, passwords, the RC map and scanned network names may hold `"` or `\`;
// copied raw they would end the JSON string early and the viewer's parser
// would reject the whole reply. Escaped, a viewer decodes exactly the stored
// bytes: bytes of 0x80 and above (UTF-8) pass through unchanged.
//
//   abc        -> abc
//   a"b\c      -> a\"b\\c
//   tab 0x09   -> \u0009
#pragma once

#include <cstddef>
#include <string>

// Appends `text` (NUL-terminated; nullptr counts as empty) escaped as the
// inside of a JSON string.
void json_escape_append(std::string& out, const char* text);
void json_escape_append(std::string& out, const char* text, size_t length);
