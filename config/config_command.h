// Configuration and system commands from viewers and the HUD mailbox.
//
// One JSON object of string members ("cmd", "name", "param", "value",
// "value2" to "value12"); a member that is missing or not a string reads as
// "". For example:
//
//   {"cmd":"configrequest"}
//       -> the configuration report
//   {"cmd":"wlan","param":"scan","value":"2"}
//       -> {"cmd":"wlanscan","param":"2","value":"Home,Office"}
//   {"cmd":"updateparam","name":"osd_borders","value":"300","value2":"4"}
//       -> osd_border_width 44, osd_border_height 4, save, "killall -q display hud"
//   {"cmd":"restart"}
//       -> app_exit(3)
#pragma once

#include <cstddef>

// Runs one command text (NUL-terminated; length is not needed). Texts that are
// not JSON objects and unknown commands do nothing. "restart" and the
// "device_mode", "coop_mode" and "ctrl_enabled" settings end the process
// through app_exit (3, 2, 2, 2) and return right after it.
void config_command_handle(const char* text, size_t length);

// tvservice mode of an "hdmimode" name: group 0 CEA, 1 DMT, and the CEA-861
// VIC or VESA DMT id. Unknown names give {0, 0}, the same as "default".
//   "1280x720@50p CEA"  -> {0, 19}
//   "1920x1080@60p DMT" -> {1, 82}
struct HdmiMode {
  int group;
  int code;
};
HdmiMode hdmi_mode_lookup(const char* name);
