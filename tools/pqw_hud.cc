// pqw-hud: prints the daemon's HudBlock and its published ConfigRecord as
// JSON, for people writing display processes and for tests.
//
//   pqw-hud [--shm-prefix P] (see kUsage)
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
#include "core/hud_block.h"
#include "core/version.h"

namespace {

enum class HudType { u8, i8, u16, i16, u32, i32, f64, text, bytes, u8s, u16s, i16s, f64s };

struct HudField {
  const char* name;
  size_t offset;
  HudType type;
  size_t width;  // bytes for text/bytes, element count for arrays
};

const HudField kHudFields[] = {
    {"started", HUD_STARTED, HudType::u8, 1},
    {"product", HUD_PRODUCT, HudType::text, 20},
    {"telemetry_valid", HUD_TELEMETRY_VALID, HudType::u8, 1},
    {"telemetry_b44", HUD_TELEMETRY_B44, HudType::u8, 1},
    {"client_count", HUD_CLIENT_COUNT, HudType::u8, 1},
    {"link_up_a", HUD_LINK_UP_A, HudType::u8, 1},
    {"link_up_b", HUD_LINK_UP_B, HudType::u8, 1},
    {"video_connected", HUD_VIDEO_CONNECTED, HudType::u8, 1},
    {"link_status", HUD_LINK_STATUS, HudType::text, 128},
    {"video_status", HUD_VIDEO_STATUS, HudType::text, 19},
    {"version", HUD_VERSION, HudType::text, 20},
    {"osd_enabled", HUD_OSD_ENABLED, HudType::u8, 1},
    {"hud_enabled", HUD_HUD_ENABLED, HudType::u8, 1},
    {"internal_camera_enabled", HUD_INTCAM_ENABLED, HudType::u8, 1},
    {"internal_camera_fullscreen", HUD_INTCAM_FULLSCREEN, HudType::u8, 1},
    {"focus_assistant_enabled", HUD_FOCUS_ASSISTANT, HudType::u8, 1},
    {"gimbal_tilt", HUD_GIMBAL_TILT, HudType::f64, 1},
    {"gimbal_dutch", HUD_GIMBAL_DUTCH, HudType::f64, 1},
    {"gimbal_pan", HUD_GIMBAL_PAN, HudType::f64, 1},
    {"sin_tilt", HUD_SIN_TILT, HudType::f64, 1},
    {"cos_tilt", HUD_COS_TILT, HudType::f64, 1},
    {"sin_dutch", HUD_SIN_DUTCH, HudType::f64, 1},
    {"cos_dutch", HUD_COS_DUTCH, HudType::f64, 1},
    {"sin_pan", HUD_SIN_PAN, HudType::f64, 1},
    {"cos_pan", HUD_COS_PAN, HudType::f64, 1},
    {"tilt_text", HUD_TILT_TEXT, HudType::text, 10},
    {"dutch_text", HUD_DUTCH_TEXT, HudType::text, 10},
    {"pan_text", HUD_PAN_TEXT, HudType::text, 10},
    {"gimbal_writing", HUD_GIMBAL_WRITING, HudType::u8, 1},
    {"focus_point_x", HUD_FOCUS_POINT_X, HudType::f64, 1},
    {"focus_point_y", HUD_FOCUS_POINT_Y, HudType::f64, 1},
    {"rc_state", HUD_RC_STATE, HudType::i8, 1},
    {"rc_show_channels", HUD_RC_SHOW_CHANNELS, HudType::u8, 1},
    {"rc_channels", HUD_RC_CHANNELS, HudType::u16s, 32},
    {"rc_map", HUD_RC_MAP, HudType::u8s, 32},
    {"rc_func_present", HUD_RC_FUNC_PRESENT, HudType::i16s, 32},
    {"rc_func_centred", HUD_RC_FUNC_CENTRED, HudType::f64s, 32},
    {"rc_func_position", HUD_RC_FUNC_POSITION, HudType::f64s, 32},
    {"rc_menu", HUD_RC_MENU, HudType::u8, 1},
    {"mailbox", HUD_MAILBOX, HudType::text, 512},
    {"camera_status", HUD_CAMERA_STATUS, HudType::u8, 1},
    {"telemetry_b42", HUD_TELEMETRY_B42, HudType::u8, 1},
    {"telemetry_b13", HUD_TELEMETRY_B13, HudType::u8, 1},
    {"telemetry_u32_20", HUD_TELEMETRY_U32_20, HudType::u32, 1},
    {"msg22_value", HUD_MSG22_VALUE, HudType::u32, 1},
    {"telemetry_u32_24", HUD_TELEMETRY_U32_24, HudType::u32, 1},
    {"telemetry_u32_28", HUD_TELEMETRY_U32_28, HudType::u32, 1},
    {"telemetry_u16_40", HUD_TELEMETRY_U16_40, HudType::u16, 1},
    {"gimbal_state", HUD_GIMBAL_STATE, HudType::u8, 1},
    {"camera_mode", HUD_CAMERA_MODE, HudType::u8, 1},
    {"camstate_u16_54", HUD_CAMSTATE_U16_54, HudType::u16, 1},
    {"camstate_b16", HUD_CAMSTATE_B16, HudType::u8, 1},
    {"camstate_b24", HUD_CAMSTATE_B24, HudType::u8, 1},
    {"camstate_b25", HUD_CAMSTATE_B25, HudType::u8, 1},
    {"camstate_b34", HUD_CAMSTATE_B34, HudType::u8, 1},
    {"camstate_b35", HUD_CAMSTATE_B35, HudType::u8, 1},
    {"ev_tenths", HUD_EV_TENTHS, HudType::i8, 1},
    {"camstate_b42", HUD_CAMSTATE_B42, HudType::u8, 1},
    {"camstate_u16_38", HUD_CAMSTATE_U16_38, HudType::i16, 1},
    {"camstate_b31", HUD_CAMSTATE_B31, HudType::u8, 1},
    {"camstate_b21", HUD_CAMSTATE_B21, HudType::u8, 1},
    {"camstate_b66_bit0", HUD_CAMSTATE_B66_BIT0, HudType::u8, 1},
    {"camstate_b43", HUD_CAMSTATE_B43, HudType::u8, 1},
    {"camstate_u24_51", HUD_CAMSTATE_U24_51, HudType::u32, 1},
    {"shutter_code", HUD_SHUTTER_CODE, HudType::u32, 1},
    {"aperture", HUD_APERTURE, HudType::f64, 1},
    {"camstate_b23", HUD_CAMSTATE_B23, HudType::u8, 1},
    {"camstate_b67", HUD_CAMSTATE_B67, HudType::u8, 1},
    {"focus_received", HUD_FOCUS_RECEIVED, HudType::u8, 1},
    {"focus_mf_available", HUD_FOCUS_MF_AVAILABLE, HudType::u8, 1},
    {"focus_b11_bit2", HUD_FOCUS_B11_BIT2, HudType::u8, 1},
    {"focus_position", HUD_FOCUS_POSITION, HudType::u8, 1},
    {"focus_value", HUD_FOCUS_VALUE, HudType::f64, 1},
    {"cam_focus_x", HUD_CAM_FOCUS_X, HudType::f64, 1},
    {"cam_focus_y", HUD_CAM_FOCUS_Y, HudType::f64, 1},
    {"focus_b32", HUD_FOCUS_B32, HudType::u8, 1},
    {"continuous_af", HUD_CONTINUOUS_AF, HudType::u8, 1},
    {"record64", HUD_RECORD64, HudType::bytes, 64},
    {"record64_time", HUD_RECORD64_TIME, HudType::u32, 1},
    {"playback_state", HUD_PLAYBACK_STATE, HudType::u8, 1},
    {"msg54_values", HUD_MSG54_VALUES, HudType::u16s, 5},
    {"msg52_u16_25", HUD_MSG52_U16_25, HudType::u16, 1},
    {"msg52_u16_12", HUD_MSG52_U16_12, HudType::u16, 1},
    {"msg52_b11", HUD_MSG52_B11, HudType::u8, 1},
    {"beacon_bit6", HUD_BEACON_BIT6, HudType::u8, 1},
    {"beacon_bit7", HUD_BEACON_BIT7, HudType::u8, 1},
    {"capture_mode", HUD_CAPTURE_MODE, HudType::u8, 1},
    {"capture_submode", HUD_CAPTURE_SUBMODE, HudType::u8, 1},
    {"timelapse_interval", HUD_TIMELAPSE_INTERVAL, HudType::u16, 1},
    {"timelapse_duration", HUD_TIMELAPSE_DURATION, HudType::u16, 1},
    {"shield_closed", HUD_SHIELD_CLOSED, HudType::u32, 1},
    {"time_source_state", HUD_TIME_SOURCE_STATE, HudType::i32, 1},
    {"time_source_value", HUD_TIME_SOURCE_VALUE, HudType::f64, 1},
    {"media_text", HUD_MEDIA_TEXT, HudType::text, 40},
};

const void* map_block(const std::string& name, size_t size) {
  int fd = shm_open(name.c_str(), O_RDONLY, 0);
  if (fd < 0) return nullptr;
  struct stat st;
  if (fstat(fd, &st) != 0 || st.st_size < static_cast<off_t>(size)) {
    close(fd);
    errno = 0;
    return nullptr;
  }
  void* p = mmap(nullptr, size, PROT_READ, MAP_SHARED, fd, 0);
  close(fd);
  return p == MAP_FAILED ? nullptr : p;
}

cJSON* hud_array(const uint8_t* hud, const HudField& f) {
  cJSON* a = cJSON_CreateArray();
  for (size_t i = 0; i < f.width; i++) {
    double v = 0;
    switch (f.type) {
      case HudType::u8s:
      case HudType::bytes:
        v = hud_get_u8(hud, f.offset + i);
        break;
      case HudType::u16s:
        v = hud_get_u16(hud, f.offset + 2 * i);
        break;
      case HudType::i16s:
        v = hud_get_i16(hud, f.offset + 2 * i);
        break;
      default:
        v = hud_get_f64(hud, f.offset + 8 * i);
        break;
    }
    cJSON_AddItemToArray(a, cJSON_CreateNumber(v));
  }
  return a;
}

cJSON* hud_json(const uint8_t* hud) {
  cJSON* o = cJSON_CreateObject();
  for (const HudField& f : kHudFields) {
    switch (f.type) {
      case HudType::u8:
        cJSON_AddNumberToObject(o, f.name, hud_get_u8(hud, f.offset));
        break;
      case HudType::i8:
        cJSON_AddNumberToObject(o, f.name, hud_get_i8(hud, f.offset));
        break;
      case HudType::u16:
        cJSON_AddNumberToObject(o, f.name, hud_get_u16(hud, f.offset));
        break;
      case HudType::i16:
        cJSON_AddNumberToObject(o, f.name, hud_get_i16(hud, f.offset));
        break;
      case HudType::u32:
        cJSON_AddNumberToObject(o, f.name, hud_get_u32(hud, f.offset));
        break;
      case HudType::i32:
        cJSON_AddNumberToObject(o, f.name, hud_get_i32(hud, f.offset));
        break;
      case HudType::f64:
        cJSON_AddNumberToObject(o, f.name, hud_get_f64(hud, f.offset));
        break;
      case HudType::text: {
        char text[513];
        hud_get_text(hud, f.offset, f.width, text, sizeof text);
        cJSON_AddStringToObject(o, f.name, text);
        break;
      }
      default:
        cJSON_AddItemToObject(o, f.name, hud_array(hud, f));
        break;
    }
  }
  return o;
}

cJSON* config_json(const ConfigRecord* rec) {
  cJSON* o = cJSON_CreateObject();
  auto num = [&](const char* name, double v) { cJSON_AddNumberToObject(o, name, v); };
  auto text = [&](const char* name, const char* field, size_t size) {
    char buf[513];
    cfg_text_get(buf, sizeof buf, field, size);
    cJSON_AddStringToObject(o, name, buf);
  };
#define PQW_NUM(f) num(#f, cfg_get(rec->f))
#define PQW_TEXT(f) text(#f, rec->f, sizeof rec->f)
  PQW_NUM(disabled);
  PQW_NUM(camera_type);
  PQW_NUM(device_mode);
  PQW_NUM(cooperative_mode);
  PQW_NUM(hdmi_enabled);
  PQW_NUM(control_enabled);
  PQW_NUM(disable_video_stream);
  PQW_NUM(rc_input_enabled);
  PQW_TEXT(rc_input_mode);
  PQW_TEXT(rc2_input_mode);
  PQW_TEXT(rc_input_map);
  PQW_NUM(rc_input_speed_pan);
  PQW_NUM(rc_input_speed_tilt);
  PQW_NUM(rc_input_speed_dutch);
  PQW_NUM(rc_input_inverse_pan);
  PQW_NUM(rc_input_inverse_tilt);
  PQW_NUM(rc_input_inverse_dutch);
  PQW_NUM(rc_input_abs);
  PQW_NUM(rc_input_exp);
  PQW_NUM(i2c_input_enabled);
  PQW_NUM(i2c_input_speed_pan);
  PQW_NUM(i2c_input_speed_tilt);
  PQW_NUM(i2c_input_speed_dutch);
  PQW_NUM(osd_enabled);
  PQW_NUM(hud_enabled);
  PQW_NUM(internal_camera_enabled);
  PQW_NUM(internal_camera_fullscreen);
  PQW_NUM(focus_assistant_enabled);
  PQW_NUM(osd_border_height);
  PQW_NUM(osd_border_width);
  PQW_NUM(osd_top_offset);
  PQW_NUM(osd_bottom_offset);
  PQW_NUM(video_hflip);
  PQW_NUM(video_vflip);
  PQW_NUM(video_fix);
  PQW_NUM(shield_enabled);
  PQW_NUM(shield_open);
  PQW_NUM(shield_close);
  PQW_NUM(shield_timeout);
  PQW_NUM(apstate);
  PQW_TEXT(ap_iface);
  PQW_TEXT(ap_ssid);
  PQW_TEXT(ap_psk);
  PQW_NUM(ap_mode);
  PQW_NUM(ap_channel);
  PQW_TEXT(ap_country);
  PQW_TEXT(wifi_iface);
  PQW_TEXT(wifi_ssid);
  PQW_TEXT(wifi_psk);
  PQW_TEXT(version);
  PQW_NUM(camera_connected);
#undef PQW_NUM
#undef PQW_TEXT
  return o;
}

const char kUsage[] =
    "usage: pqw-hud [--shm-prefix P]\n"
    "Prints the daemon's HudBlock and its published configuration record as JSON.\n"
    "\n"
    "  --shm-prefix P   the blocks are /Phud_mem and /Pconfig_mem (default: none)\n"
    "  --version        the version\n"
    "  --help           this text\n"
    "\n"
    "A block that does not exist prints as null; the exit status is 1 when the\n"
    "HudBlock is missing. Reading needs root or membership of the blocks' group\n"
    "(pelquarinthos when it exists).\n";

// Names the block and why it could not be read, so that a display developer
// sees at once a wrong prefix or a missing group membership.
const void* map_block_or_say(const std::string& name, size_t size) {
  const void* p = map_block(name, size);
  if (!p)
    fprintf(stderr, "pqw-hud: cannot read shared memory %s: %s\n", name.c_str(),
            errno == 0 ? "shorter than the layout" : strerror(errno));
  return p;
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
  const uint8_t* hud =
      static_cast<const uint8_t*>(map_block_or_say("/" + prefix + "hud_mem", kHudSize));
  const void* cfg = map_block_or_say("/" + prefix + "config_mem", sizeof(ConfigRecord));
  cJSON* root = cJSON_CreateObject();
  cJSON_AddItemToObject(root, "hud", hud ? hud_json(hud) : cJSON_CreateNull());
  cJSON_AddItemToObject(
      root, "config",
      cfg ? config_json(static_cast<const ConfigRecord*>(cfg)) : cJSON_CreateNull());
  char* text = cJSON_Print(root);
  if (text) {
    puts(text);
    cJSON_free(text);
  }
  cJSON_Delete(root);
  return hud ? 0 : 1;
}
