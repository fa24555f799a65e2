// Fuzzer helper: inputs that do not start with '{' are an envelope, members
// separated by line feeds; the fuzzer mutates plain lines far more easily
// than JSON, and each target maps short lines to words of its vocabulary.
#pragma once

#include <cjson/cJSON.h>

#include <cstddef>
#include <string>
#include <vector>

// At most max lines of the input; the last takes the rest.
inline std::vector<std::string> fuzz_envelope_lines(const std::string& in, size_t max) {
  std::vector<std::string> parts;
  size_t start = 0;
  while (parts.size() < max) {
    size_t nl = in.find('\n', start);
    parts.push_back(in.substr(start, nl == std::string::npos ? std::string::npos : nl - start));
    if (nl == std::string::npos) break;
    start = nl + 1;
  }
  return parts;
}

// One JSON object: keys[i] holds parts[i] as a string.
inline std::string fuzz_envelope_json(const std::vector<std::string>& parts,
                                      const char* const* keys) {
  cJSON* o = cJSON_CreateObject();
  for (size_t i = 0; i < parts.size(); i++) cJSON_AddStringToObject(o, keys[i], parts[i].c_str());
  char* s = cJSON_PrintUnformatted(o);
  std::string out = s ? s : "";
  cJSON_free(s);
  cJSON_Delete(o);
  return out;
}
