#include "tools/capture_decode.h"

#include <cjson/cJSON.h>

#include <cstdio>
#include <cstring>

#include "link/can_frame.h"
#include "link/link_decode.h"
#include "link/link_packet.h"
#include "tools/packet_build.h"

namespace {

void on_packet(const uint8_t* p, size_t n, void* ctx) {
  CaptureDecoder* d = static_cast<CaptureDecoder*>(ctx);
  DecodeEvent e;
  e.time = d->now;
  e.can_id = d->current_id;
  e.bytes.assign(p, p + n);
  e.expected = n;
  d->events.push_back(std::move(e));
}

void problem(CaptureDecoder* d, DecodeKind kind, uint32_t can_id, DecodeTrack* t) {
  DecodeEvent e;
  e.kind = kind;
  e.time = d->now;
  e.can_id = can_id;
  e.bytes = t->bytes;
  e.expected = t->expected;
  d->events.push_back(std::move(e));
  t->active = false;
}

// Follows packet starts of one direction to name what the reassembly drops.
void track(CaptureDecoder* d, DecodeTrack* t, uint32_t can_id, const CaptureFrame& f) {
  bool from_camera = can_id == kCanIdCamera;
  if (f.len >= 1 && f.data[0] == 0x55) {
    if (t->active) problem(d, DecodeKind::kBroken, can_id, t);
    t->active = true;
    t->start = f.time;
    t->bytes.clear();
    t->expected = f.len >= 2 ? f.data[1] : 0;
  } else if (!t->active) {
    return;
  }
  t->bytes.insert(t->bytes.end(), f.data, f.data + f.len);
  if (t->bytes.size() < 2) return;
  t->expected = t->bytes[1];
  if (from_camera && !can_length_accepted(static_cast<uint8_t>(t->expected))) {
    problem(d, DecodeKind::kLength, can_id, t);
    return;
  }
  if (t->expected < kLinkOverhead) {
    problem(d, DecodeKind::kBroken, can_id, t);
    return;
  }
  if (t->bytes.size() < t->expected) return;
  t->bytes.resize(t->expected);
  if (link_crc16(t->bytes.data(), t->expected) != 0)
    problem(d, DecodeKind::kBadCrc, can_id, t);
  else
    t->active = false;
}

const char* kind_name(DecodeKind k) {
  switch (k) {
    case DecodeKind::kPacket:
      return "packet";
    case DecodeKind::kBadCrc:
      return "bad_crc";
    case DecodeKind::kBroken:
      return "broken";
    case DecodeKind::kLength:
      return "length";
  }
  return "";
}

std::string hex(const std::vector<uint8_t>& b, size_t from, size_t to) {
  std::string s;
  char buf[4];
  for (size_t i = from; i < to && i < b.size(); i++) {
    snprintf(buf, sizeof buf, "%02x", b[i]);
    s += buf;
  }
  return s;
}

struct TextFields {
  std::string out;
};

void text_field(const char* name, double value, void* ctx) {
  char buf[64];
  snprintf(buf, sizeof buf, " %s=%.10g", name, value);
  static_cast<TextFields*>(ctx)->out += buf;
}

void json_field(const char* name, double value, void* ctx) {
  cJSON_AddNumberToObject(static_cast<cJSON*>(ctx), name, value);
}

}  // namespace

void capture_decoder_init(CaptureDecoder* d) {
  *d = CaptureDecoder{};
  can_assembler_reset(&d->from_camera);
  can_assembler_reset(&d->from_daemon);
  // The daemon's packets have lengths the camera-side filter does not know:
  // read them as the simulator does.
  d->from_daemon.any_length = true;
  d->from_daemon.rescan = true;
}

void capture_decoder_frame(CaptureDecoder* d, const CaptureFrame& f) {
  d->frames++;
  if (f.extended || f.remote || f.error || (f.can_id != kCanIdCamera && f.can_id != kCanIdDaemon)) {
    d->other_frames++;
    return;
  }
  d->link_frames++;
  d->now = f.time;
  d->current_id = f.can_id;
  bool from_camera = f.can_id == kCanIdCamera;
  track(d, &d->track[from_camera ? 0 : 1], f.can_id, f);
  // The reassembly takes classic frames; a CAN FD frame goes in 8 bytes at a
  // time. An empty frame goes in too: its scan may deliver a packet waiting.
  CanAssembler* a = from_camera ? &d->from_camera : &d->from_daemon;
  size_t off = 0;
  do {
    uint8_t n = static_cast<uint8_t>(f.len - off > 8 ? 8 : f.len - off);
    if (can_assembler_accept(a, f.data + off, n))
      can_assembler_push(a, f.data + off, n, on_packet, d);
    off += 8;
  } while (off < f.len);
}

void capture_decoder_finish(CaptureDecoder* d) {
  for (int i = 0; i < 2; i++)
    if (d->track[i].active)
      problem(d, DecodeKind::kBroken, i == 0 ? kCanIdCamera : kCanIdDaemon, &d->track[i]);
}

std::string decode_event_text(const DecodeEvent& e, double t0) {
  char head[160];
  bool in = e.can_id == kCanIdCamera;
  int n = snprintf(head, sizeof head, "%10.6f %03x %s", e.time - t0, e.can_id,
                   in ? "camera->daemon" : "daemon->camera");
  std::string s(head, static_cast<size_t>(n));
  const std::vector<uint8_t>& b = e.bytes;
  if (b.size() >= kLinkHeaderSize) {
    const char* name = link_command_name(b[9], b[10]);
    snprintf(head, sizeof head, " %02x->%02x seq %u type %02x set %02x id %02x %s (%zu)", b[4],
             b[5], static_cast<unsigned>(link_u16(b.data(), 6)), b[8], b[9], b[10],
             name ? name : "unknown", e.expected);
    s += head;
  }
  if (e.kind == DecodeKind::kPacket) {
    TextFields t;
    if (in) link_describe_fields(b.data(), b.size(), text_field, &t);
    s += t.out;
    if (t.out.empty() && b.size() > kLinkOverhead)
      s += " payload=" + hex(b, kLinkHeaderSize, b.size() - 2);
  } else if (e.kind == DecodeKind::kBadCrc) {
    s += " BAD CRC16";
  } else if (e.kind == DecodeKind::kBroken) {
    snprintf(head, sizeof head, " BROKEN: %zu of %zu bytes before the next start", b.size(),
             e.expected);
    s += head;
  } else {
    snprintf(head, sizeof head, " DROPPED: length %zu not accepted", e.expected);
    s += head;
  }
  return s;
}

std::string decode_event_json(const DecodeEvent& e) {
  cJSON* o = cJSON_CreateObject();
  cJSON_AddNumberToObject(o, "time", e.time);
  cJSON_AddStringToObject(o, "kind", kind_name(e.kind));
  cJSON_AddNumberToObject(o, "can_id", e.can_id);
  cJSON_AddStringToObject(o, "direction", e.can_id == kCanIdCamera ? "in" : "out");
  cJSON_AddNumberToObject(o, "length", static_cast<double>(e.expected));
  const std::vector<uint8_t>& b = e.bytes;
  if (b.size() >= kLinkHeaderSize) {
    cJSON_AddNumberToObject(o, "sender", b[4]);
    cJSON_AddNumberToObject(o, "receiver", b[5]);
    cJSON_AddNumberToObject(o, "sequence", link_u16(b.data(), 6));
    cJSON_AddNumberToObject(o, "type", b[8]);
    cJSON_AddNumberToObject(o, "set", b[9]);
    cJSON_AddNumberToObject(o, "id", b[10]);
    const char* name = link_command_name(b[9], b[10]);
    if (name) cJSON_AddStringToObject(o, "name", name);
  }
  if (e.kind == DecodeKind::kPacket && e.can_id == kCanIdCamera) {
    cJSON* fields = cJSON_AddObjectToObject(o, "fields");
    link_describe_fields(b.data(), b.size(), json_field, fields);
  }
  cJSON_AddStringToObject(o, "bytes", hex(b, 0, b.size()).c_str());
  char* text = cJSON_PrintUnformatted(o);
  std::string s = text ? text : "{}";
  cJSON_free(text);
  cJSON_Delete(o);
  return s;
}
