// Decodes one datagram that the daemon sends to a viewer into a JSON object
// (one line), for pqw-viewer and the tests.
//
//   42                                   {"reply":"registered"}
//   42 00 00 00 05 00 00 00 00 00 00 00 06 13 02 00 01 06 00
//     {"channel":"data","sequence":5,"length":7,"code":6,"name":"beacon",
//      "flags":{"value":19,"always":1,"apstate":1,"hdmi_enabled":0,
//               "camera_connected":1,"hud_2625_bit0":0,"hud_2626_bit0":0},
//      "clients":2,"byte3":0,"focus_assistant_enabled":1,"rc_state":6,"byte6":0}
//   42 01 00 00 06 00 00 00 00 00 00 00 <n bytes>
//     {"channel":"video","sequence":6,"length":n}
//   42 00 ... 7B ...                     the JSON text as the object "json"
//
// Anything else keeps its bytes in "hex" (the first 64) and is not an error.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

std::string viewer_decode_json(const uint8_t* bytes, size_t length);
