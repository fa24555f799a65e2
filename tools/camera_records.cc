#include "tools/camera_records.h"

#include <cmath>

#include "tools/packet_build.h"

namespace {

int16_t clamp16(double v) {
  if (std::isnan(v)) return 0;
  if (v > 32767) return 32767;
  if (v < -32768) return -32768;
  return static_cast<int16_t>(std::lround(v));
}

Packet record(CameraSideState* s, size_t length, LinkFields f) {
  Packet p(length, 0);
  f.sequence = s->sequence++;
  p[4] = f.sender, p[5] = f.receiver;
  link_put_u16(p.data(), 6, f.sequence);
  p[8] = f.type, p[9] = f.set, p[10] = f.id;
  return p;
}

Packet seal(Packet p) {
  link_packet_seal(p.data(), p.size());
  return p;
}

Packet query(CameraSideState* s, size_t length, uint8_t sender, uint8_t receiver, uint8_t type,
             uint8_t set, uint8_t id, uint8_t b11 = 0) {
  Packet p = record(s, length, {sender, receiver, 0, type, set, id});
  p[11] = b11;
  return seal(p);
}

}  // namespace

int16_t camera_pan_raw(double degrees) { return clamp16(degrees * 3260.0 / 350.0); }
int16_t camera_tilt_raw(double degrees) {
  return clamp16(degrees >= 0 ? degrees * 347.0 / 45.0 : degrees * 1293.0 / 135.0);
}
int16_t camera_dutch_raw(double degrees) { return clamp16(-degrees * 490.0 / 60.0); }

Packet camera_telemetry(CameraSideState* s) {
  Packet p = record(s, s->mode == 1 ? 50 : 49, {0x01, 0x00, 0, 0x00, 0x02, 0x80});
  p[11] = s->status;
  p[13] = s->flags13;
  p[15] = s->camera_mode;
  link_put_u32(p.data(), 20, s->shots_left);
  link_put_u32(p.data(), 24, s->record_seconds);
  link_put_u32(p.data(), 28, s->record_left);
  link_put_u16(p.data(), 40, s->battery);
  p[42] = s->b42;
  p[44] = s->b44;
  return seal(p);
}

Packet camera_attitude(CameraSideState* s) {
  Packet p = record(s, 25, {0x04, 0x00, 0, 0x00, 0x04, 0x05});
  link_put_u16(p.data(), 11, static_cast<uint16_t>(camera_tilt_raw(s->tilt)));
  link_put_u16(p.data(), 13, static_cast<uint16_t>(camera_dutch_raw(s->dutch)));
  link_put_u16(p.data(), 15, static_cast<uint16_t>(camera_pan_raw(s->pan)));
  p[17] = s->gimbal_free;
  return seal(p);
}

Packet camera_state_record(CameraSideState* s) {
  size_t length = s->mode == 1 ? 85 : 104;
  Packet p = record(s, length, {0x01, 0x00, 0, 0x00, 0x02, 0x81});
  link_put_u24(p.data(), 13, s->shutter);
  p[16] = s->iso;
  p[17] = s->ev;
  p[21] = s->shot_format;
  p[24] = s->resolution;
  p[25] = s->frame_rate;
  p[34] = s->wb_mode;
  p[35] = s->wb_value;
  const uint8_t* t = s->shot_type;
  p[68] = t[0];
  p[44] = t[1];
  p[46] = t[1];
  p[71] = t[1];
  p[45] = t[2];
  p[47] = t[4];
  p[72] = s->panorama;
  link_put_u16(p.data(), 49, static_cast<uint16_t>(s->aperture));
  p[66] = s->ntsc & 1;
  if (length >= 90) {
    link_put_u16(p.data(), 86, s->timelapse_interval10);
    link_put_u16(p.data(), 88, s->timelapse_duration);
  }
  return seal(p);
}

Packet camera_focus_record(CameraSideState* s) {
  Packet p = record(s, s->mode == 1 ? 53 : 59, {0x01, 0x00, 0, 0x00, 0x02, 0x82});
  p[11] = s->focus_flags;
  link_put_u16(p.data(), 12, s->focus_range);
  link_put_u16(p.data(), 14, s->focus_position);
  link_put_f32(p.data(), 16, s->focus_value);
  link_put_f32(p.data(), 24, s->focus_x);
  link_put_f32(p.data(), 28, s->focus_y);
  p[42] = s->focus_assistants;
  return seal(p);
}

Packet camera_card_record(CameraSideState* s) {
  Packet p = record(s, 22, {0x01, 0x00, 0, 0x00, 0x02, 0x83});
  link_put_u24(p.data(), 14, s->card_free_mb);
  return seal(p);
}

Packet camera_status52_record(CameraSideState* s) {
  Packet p = record(s, 52, {0x01, 0x00, 0, 0x00, 0x02, 0x84});
  p[11] = 1;
  link_put_u16(p.data(), 12, 0x0102);
  link_put_u16(p.data(), 25, 0x0304);
  return seal(p);
}

Packet camera_playback_record(CameraSideState* s) {
  Packet p = record(s, 54, {0x01, 0x00, 0, 0x00, 0x02, 0x85});
  p[11] = s->playback;
  return seal(p);
}

Packet camera_histogram_record(CameraSideState* s) {
  Packet p = record(s, 77, {0x01, 0x00, 0, 0x00, 0x02, 0x86});
  s->histogram_phase++;
  for (int i = 0; i < 64; i++) {
    double v = 60 + 50 * std::sin((i + s->histogram_phase) * 0.2);
    p[11 + i] = static_cast<uint8_t>(v);
  }
  return seal(p);
}

std::vector<Packet> camera_tick_records(CameraSideState* s) {
  return {camera_telemetry(s),       camera_attitude(s),        camera_state_record(s),
          camera_focus_record(s),    camera_card_record(s),     camera_status52_record(s),
          camera_playback_record(s), camera_histogram_record(s)};
}

std::vector<Packet> camera_queries(CameraSideState* s) {
  if (s->mode == 1)
    return {query(s, 14, 0x04, 0x03, 0x20, 0x04, 0x1C, 0x01),
            query(s, 15, 0x01, 0x09, 0x40, 0x09, 0x0E), query(s, 13, 0x01, 0x09, 0x00, 0x00, 0x01),
            query(s, 13, 0x04, 0x09, 0x00, 0x00, 0x02)};
  return {
      query(s, 14, 0x04, 0x09, 0x20, 0x04, 0x1C), query(s, 14, 0x04, 0x09, 0x00, 0x04, 0x28, 0x01),
      query(s, 14, 0x01, 0x07, 0x00, 0x00, 0x50), query(s, 15, 0x01, 0x09, 0x40, 0x09, 0x0E),
      query(s, 13, 0x04, 0x09, 0x00, 0x00, 0x01), query(s, 13, 0x01, 0x09, 0x00, 0x00, 0x01)};
}
