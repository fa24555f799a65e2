#include "tools/camsim_model.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "link/link_packet.h"

namespace {

constexpr uint8_t kRecording = 0x80;  // status bits 6-7 = 2

std::string fmt(const char* f, double a, double b = 0, double c = 0) {
  char buf[128];
  snprintf(buf, sizeof buf, f, a, b, c);
  return buf;
}

void clamp_angles(CameraSideState* c) {
  c->tilt = std::clamp(c->tilt, -135.0, 45.0);
  c->dutch = std::clamp(c->dutch, -60.0, 60.0);
  c->pan = std::clamp(c->pan, -3500.0, 3500.0);
}

std::string button(CamsimModel* m, const uint8_t* p, size_t n) {
  if (n != 23) return "";
  CameraSideState& c = m->cam;
  uint8_t selector = p[11], code = p[15];
  switch (selector) {
    case 0x0C:
      c.status = static_cast<uint8_t>((c.status & 0x3F) | kRecording);
      c.camera_mode = 1;
      return "record start";
    case 0x04:
      c.status &= 0x3F;
      return "record stop";
    case 0x30:
    case 0x50:
    case 0x90:
    case 0xB0:
    case 0xD0:
    case 0xF0:
      if (c.shots_left) c.shots_left--;
      if (selector == 0xD0 && p[19] == 0xFF) c.flags13 |= 0x10;  // interval or timelapse
      {
        char buf[16];
        snprintf(buf, sizeof buf, "shot %02x", selector);
        return buf;
      }
    case 0x10:
      c.flags13 &= static_cast<uint8_t>(~0x10);
      return "interval stop";
    default:
      break;
  }
  switch (code) {
    case 0x02:
      c.gimbal_free = 0;
      return "gimbal lock";
    case 0x0A:
      c.gimbal_free = 1;
      return "gimbal unlock";
    case 0x01:
      c.pan = c.tilt = c.dutch = 0;
      m->pan_speed = m->tilt_speed = m->dutch_speed = 0;
      return "gimbal centre";
    case 0x10:
      c.pan = 180, c.tilt = 0, c.dutch = 0;
      return "gimbal selfie";
    default:
      break;
  }
  return "button release";
}

std::string camera_set(CamsimModel* m, const uint8_t* p, size_t n) {
  CameraSideState& c = m->cam;
  uint8_t id = p[10];
  // Every payload read below lies inside n - 2 bytes; shorter packets are
  // not what the command should look like and count as unknown.
  auto need = [n](size_t bytes) { return n >= 13 + bytes; };
  switch (id) {
    case 0x10:
      if (!need(1)) break;
      c.camera_mode = p[11];
      return p[11] ? "mode video" : "mode photo";
    case 0x2A:
      if (!need(1)) break;
      c.iso = p[11];
      return fmt("iso code %.0f", p[11]);
    case 0x28:
      if (!need(4)) break;
      c.shutter = link_u24(p, 12);
      return fmt("shutter code %.0f", c.shutter);
    case 0x26:
      if (!need(2)) break;
      c.aperture = static_cast<int16_t>(link_u16(p, 11));
      return fmt("aperture %.2f", c.aperture / 100.0);
    case 0x2E:
      if (!need(1)) break;
      c.ev = p[11];
      return fmt("ev code %.0f", p[11]);
    case 0x2C:
      if (!need(2)) break;
      c.wb_mode = p[11];
      c.wb_value = p[12];
      return fmt("white balance %.0f %.0f", p[11], p[12]);
    case 0x6A:
      if (!need(6)) break;
      memcpy(c.shot_type, p + 11, 6);
      return fmt("shot type %.0f", p[11]);
    case 0x6E:
      if (!need(1)) break;
      c.panorama = p[11];
      return fmt("panorama %.0f", p[11]);
    case 0x6C:
      if (!need(7)) break;
      c.timelapse_interval10 = link_u16(p, 14);
      c.timelapse_duration = link_u16(p, 16);
      return fmt("timelapse %.1f s every, %.0f s", c.timelapse_interval10 / 10.0,
                 c.timelapse_duration);
    case 0x18:
    case 0xAF:
      if (!need(2)) break;
      c.resolution = p[11];
      c.frame_rate = p[12];
      return fmt("video format %.0f %.0f", p[11], p[12]);
    case 0x16:
      if (!need(1)) break;
      c.shot_format = p[11];
      return fmt("shot format %.0f", p[11]);
    case 0x66:
      if (!need(1)) break;
      c.ntsc = p[11] & 1;
      return fmt("video standard %.0f", p[11]);
    case 0x54:
      if (!need(7)) break;
      m->have_date = true;
      m->date[0] = link_u16(p, 11);
      for (int i = 1; i < 6; i++) m->date[i] = p[12 + i];
      return fmt("date %04.0f-%02.0f-%02.0f", m->date[0], m->date[1], m->date[2]);
    case 0x34:
      if (!need(4)) break;
      m->digital_zoom = p[14] - 100;
      return fmt("digital zoom %.0f", m->digital_zoom);
    case 0x30:
      if (!need(8)) break;
      c.focus_x = link_f32(p, 11);
      c.focus_y = link_f32(p, 15);
      return fmt("focus point %.3f %.3f", c.focus_x, c.focus_y);
    case 0x95:
      if (!need(2)) break;
      c.focus_position = link_u16(p, 11);
      return fmt("manual focus %.0f", c.focus_position);
    case 0x24:
      if (!need(1)) break;
      return p[11] ? "focus auto" : "focus manual";
    case 0xFA:
      return "focus continuous";
    default:
      break;
  }
  return "";
}

std::string gimbal_set(CamsimModel* m, const uint8_t* p, size_t n) {
  CameraSideState& c = m->cam;
  if (p[10] == 0x0C && n >= 20) {
    m->pan_speed = link_i16(p, 11) / 10.0;
    m->dutch_speed = link_i16(p, 13) / 10.0;
    m->tilt_speed = link_i16(p, 15) / 10.0;
    return fmt("gimbal speed %.1f %.1f %.1f", m->pan_speed, m->tilt_speed, m->dutch_speed);
  }
  if (p[10] == 0x0A && n >= 23) {
    m->pan_speed = m->tilt_speed = m->dutch_speed = 0;
    c.pan = link_i16(p, 11) / 10.0;
    c.dutch = link_i16(p, 13) / 10.0;
    c.tilt = link_i16(p, 15) / 10.0;
    clamp_angles(&c);
    return fmt("gimbal angles %.1f %.1f %.1f", c.pan, c.tilt, c.dutch);
  }
  return "";
}

}  // namespace

std::string camsim_apply(CamsimModel* m, const uint8_t* p, size_t n) {
  std::string effect;
  if (n < 13) {
    effect = "";
  } else if (p[8] & 0x80) {
    m->replies++;
    effect = "reply";
  } else if (p[9] == 0x01 && p[10] == 0x01) {
    effect = button(m, p, n);
  } else if (p[9] == 0x02) {
    effect = camera_set(m, p, n);
  } else if (p[9] == 0x04) {
    effect = gimbal_set(m, p, n);
  } else if (p[9] == 0x07 && p[10] == 0x11 && n >= 19) {
    m->have_mac = true;
    memcpy(m->mac, p + 11, 6);
    char buf[32];
    snprintf(buf, sizeof buf, "mac %02x:%02x:%02x:%02x:%02x:%02x", p[11], p[12], p[13], p[14],
             p[15], p[16]);
    effect = buf;
  }
  if (effect.empty()) m->unknown++;
  return effect;
}

void camsim_tick(CamsimModel* m) {
  CameraSideState& c = m->cam;
  m->ticks++;
  c.pan += m->pan_speed / 10;
  c.tilt += m->tilt_speed / 10;
  c.dutch += m->dutch_speed / 10;
  clamp_angles(&c);
  if ((c.status >> 6) == 2 && m->ticks % 10 == 0) {
    c.record_seconds++;
    if (c.record_left) c.record_left--;
  }
}

std::string camsim_state_json(const CamsimModel& m) {
  const CameraSideState& c = m.cam;
  char date[48] = "null", mac[32] = "null";
  if (m.have_date)
    snprintf(date, sizeof date, "\"%04d-%02d-%02d %02d:%02d:%02d\"", m.date[0], m.date[1],
             m.date[2], m.date[3], m.date[4], m.date[5]);
  if (m.have_mac)
    snprintf(mac, sizeof mac, "\"%02x:%02x:%02x:%02x:%02x:%02x\"", m.mac[0], m.mac[1], m.mac[2],
             m.mac[3], m.mac[4], m.mac[5]);
  char buf[1024];
  snprintf(buf, sizeof buf,
           "{\"mode\":\"%s\",\"recording\":%s,\"status\":%u,\"camera_mode\":%u,"
           "\"pan\":%.1f,\"tilt\":%.1f,\"dutch\":%.1f,\"gimbal_free\":%u,"
           "\"iso\":%u,\"shutter\":%u,\"aperture\":%d,\"ev\":%u,\"wb\":[%u,%u],"
           "\"shot_type\":%u,\"panorama\":%u,\"timelapse\":[%u,%u],\"video\":[%u,%u],"
           "\"shot_format\":%u,\"ntsc\":%u,\"shots_left\":%u,\"record_seconds\":%u,"
           "\"digital_zoom\":%d,\"date\":%s,\"mac\":%s,\"replies\":%u,\"unknown\":%u}",
           c.mode == 1 ? "inspire" : "osmo", (c.status >> 6) == 2 ? "true" : "false", c.status,
           c.camera_mode, c.pan, c.tilt, c.dutch, c.gimbal_free, c.iso, c.shutter, c.aperture, c.ev,
           c.wb_mode, c.wb_value, c.shot_type[0], c.panorama, c.timelapse_interval10,
           c.timelapse_duration, c.resolution, c.frame_rate, c.shot_format, c.ntsc, c.shots_left,
           c.record_seconds, m.digital_zoom, date, mac, m.replies, m.unknown);
  return buf;
}
