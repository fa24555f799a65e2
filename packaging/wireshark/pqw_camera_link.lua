-- Wireshark dissector for the Pelquarinthos Wired camera link over SocketCAN.
--
-- The daemon writes CAN id 0x412 and reads 0x413; each exchange is a packet
-- (0x55, length, 0x04, header CRC8, sender, receiver, sequence u16 LE,
-- command type, set, id, payload, CRC16 LE) cut into frames of 8 data bytes.
-- Frames are glued back per CAN id: a frame whose first byte is 0x55 starts a
-- packet, and when its length is in, the packet shows on the frame that
-- completed it, both CRCs checked and the command named. A new start before
-- the last packet was whole marks that one broken.
--
-- Installed where Debian's Wireshark loads global Lua plugins; by hand:
--   tshark -X lua_script:pqw_camera_link.lua -r capture.pcap -V
--   wireshark -X lua_script:pqw_camera_link.lua capture.pcap

local bit = bit32 or bit
local band, bxor, rshift, bor, lshift = bit.band, bit.bxor, bit.rshift, bit.bor, bit.lshift

local ID_DAEMON = 0x412
local ID_CAMERA = 0x413

-- Command set and id -> the name the daemon's code knows it by (the same
-- table as link/link_decode.cc; a test keeps the two equal).
local names_list = {
  {0x00, 0x01, "identify"},
  {0x00, 0x02, "identify (Ambarella)"},
  {0x00, 0x05, "camera setting (23 bytes)"},
  {0x00, 0x0E, "status reply"},
  {0x00, 0x50, "camera query"},
  {0x01, 0x01, "button"},
  {0x02, 0x10, "capture mode"},
  {0x02, 0x12, "camera setting 12"},
  {0x02, 0x16, "shot format"},
  {0x02, 0x18, "video format"},
  {0x02, 0x24, "focus type"},
  {0x02, 0x26, "aperture"},
  {0x02, 0x28, "shutter"},
  {0x02, 0x2A, "ISO"},
  {0x02, 0x2C, "white balance"},
  {0x02, 0x2E, "exposure compensation"},
  {0x02, 0x30, "focus point"},
  {0x02, 0x34, "digital zoom"},
  {0x02, 0x54, "date and time"},
  {0x02, 0x66, "video standard"},
  {0x02, 0x6A, "shot type"},
  {0x02, 0x6C, "timelapse"},
  {0x02, 0x6E, "panorama"},
  {0x02, 0x72, "camera request 72"},
  {0x02, 0x80, "telemetry"},
  {0x02, 0x81, "camera state"},
  {0x02, 0x82, "focus status"},
  {0x02, 0x83, "card"},
  {0x02, 0x84, "status 52"},
  {0x02, 0x85, "playback status"},
  {0x02, 0x86, "histogram"},
  {0x02, 0x95, "manual focus"},
  {0x02, 0xA4, "camera setting A4"},
  {0x02, 0xAF, "video format (short)"},
  {0x02, 0xB8, "zoom move"},
  {0x02, 0xFA, "focus type (alternate)"},
  {0x03, 0x42, "attitude for the flight controller"},
  {0x04, 0x01, "gimbal request 01"},
  {0x04, 0x05, "gimbal attitude"},
  {0x04, 0x08, "gimbal request 08"},
  {0x04, 0x0A, "gimbal angles"},
  {0x04, 0x0C, "gimbal speed"},
  {0x04, 0x1C, "gimbal query"},
  {0x04, 0x28, "gimbal parameters"},
  {0x04, 0x35, "gimbal request 35"},
  {0x07, 0x11, "MAC address"},
  {0x09, 0x0E, "status query"},
  {0x09, 0x51, "flight controller request 51"},
}
local names = {}
for _, n in ipairs(names_list) do names[n[1] * 256 + n[2]] = n[3] end

-- Lengths of camera packets the daemon keeps; others it drops whole.
local accepted = {}
for _, l in ipairs({13, 14, 15, 19, 22, 25, 49, 50, 52, 53, 54, 59, 77, 85, 104}) do
  accepted[l] = true
end

local function crc8(bytes, n)
  local v = 0x77
  for i = 0, n - 1 do
    v = bxor(v, bytes:get_index(i))
    for _ = 1, 8 do
      if band(v, 1) ~= 0 then v = bxor(rshift(v, 1), 0x8C) else v = rshift(v, 1) end
    end
  end
  return v
end

local crc16_table = {}
for i = 0, 255 do
  local v = i
  for _ = 1, 8 do
    if band(v, 1) ~= 0 then v = bxor(rshift(v, 1), 0x8408) else v = rshift(v, 1) end
  end
  crc16_table[i] = v
end

local function crc16(bytes, n)
  local v = 0x3692
  for i = 0, n - 1 do
    v = bxor(crc16_table[band(bxor(v, bytes:get_index(i)), 0xFF)], rshift(v, 8))
  end
  return v
end

local proto = Proto("pqwlink", "Pelquarinthos camera link")
local f = proto.fields
f.direction = ProtoField.string("pqwlink.direction", "Direction")
f.fragment = ProtoField.string("pqwlink.fragment", "Frame")
f.start = ProtoField.uint8("pqwlink.start", "Start", base.HEX)
f.length = ProtoField.uint8("pqwlink.length", "Length", base.DEC)
f.version = ProtoField.uint8("pqwlink.version", "Version/length high", base.HEX)
f.hcrc = ProtoField.uint8("pqwlink.header_crc", "Header CRC8", base.HEX)
f.hcrc_ok = ProtoField.bool("pqwlink.header_crc_ok", "Header CRC8 good")
f.sender = ProtoField.uint8("pqwlink.sender", "Sender", base.HEX)
f.receiver = ProtoField.uint8("pqwlink.receiver", "Receiver", base.HEX)
f.seq = ProtoField.uint16("pqwlink.sequence", "Sequence", base.DEC)
f.ctype = ProtoField.uint8("pqwlink.type", "Command type", base.HEX)
f.cset = ProtoField.uint8("pqwlink.set", "Command set", base.HEX)
f.cid = ProtoField.uint8("pqwlink.id", "Command id", base.HEX)
f.name = ProtoField.string("pqwlink.name", "Command")
f.payload = ProtoField.bytes("pqwlink.payload", "Payload")
f.crc = ProtoField.uint16("pqwlink.crc16", "CRC16", base.HEX)
f.crc_ok = ProtoField.bool("pqwlink.crc16_ok", "CRC16 good")
f.problem = ProtoField.string("pqwlink.problem", "Problem")

local e_crc = ProtoExpert.new("pqwlink.bad_crc", "CRC does not check out", expert.group.CHECKSUM,
                              expert.severity.ERROR)
local e_broken = ProtoExpert.new("pqwlink.broken", "Packet broken off", expert.group.MALFORMED,
                                 expert.severity.WARN)
proto.experts = {e_crc, e_broken}

-- Per CAN id, the packet being glued; per frame number, what the first pass
-- found there (packets are whole on the frame that completed them).
local glue = {}
local found = {}

function proto.init()
  glue = {}
  found = {}
end

local function first_pass(number, can_id, data)
  local g = glue[can_id]
  local note = {}
  if data:len() >= 1 and data:get_index(0) == 0x55 then
    if g and g.bytes:len() < g.expected then
      note.broken = string.format("packet of %d bytes from frame %d broken off after %d bytes",
                                  g.expected, g.first, g.bytes:len())
    end
    g = {bytes = ByteArray.new(), expected = 0, first = number, frames = 0}
    glue[can_id] = g
  end
  if not g or g.done then
    note.stray = true
    return note
  end
  g.bytes:append(data)
  g.frames = g.frames + 1
  note.first = g.first
  note.index = g.frames
  if g.bytes:len() >= 2 then g.expected = g.bytes:get_index(1) end
  if can_id == ID_CAMERA and g.bytes:len() >= 2 and not accepted[g.expected] then
    note.dropped = string.format("length %d: the daemon drops this packet", g.expected)
    g.done = true
  elseif g.expected >= 13 and g.bytes:len() >= g.expected then
    note.packet = g.bytes:subset(0, g.expected)
    g.done = true
  end
  return note
end

local function show_packet(bytes, tree, pinfo, can_id)
  local tvb = bytes:tvb("Camera link packet")
  local n = bytes:len()
  local t = tree:add(proto, tvb(), "Camera link packet")
  t:add(f.start, tvb(0, 1))
  t:add(f.length, tvb(1, 1))
  t:add(f.version, tvb(2, 1))
  local hc = t:add(f.hcrc, tvb(3, 1))
  local hok = crc8(bytes, 3) == bytes:get_index(3)
  t:add(f.hcrc_ok, hok)
  if not hok then hc:add_proto_expert_info(e_crc, "Header CRC8 does not check out") end
  t:add(f.sender, tvb(4, 1))
  t:add(f.receiver, tvb(5, 1))
  t:add_le(f.seq, tvb(6, 2))
  t:add(f.ctype, tvb(8, 1))
  t:add(f.cset, tvb(9, 1))
  t:add(f.cid, tvb(10, 1))
  local set, id = bytes:get_index(9), bytes:get_index(10)
  local name = names[set * 256 + id] or "unknown"
  t:add(f.name, name)
  if n > 13 then t:add(f.payload, tvb(11, n - 13)) end
  local c = t:add_le(f.crc, tvb(n - 2, 2))
  local ok = crc16(bytes, n) == 0
  t:add(f.crc_ok, ok)
  if not ok then c:add_proto_expert_info(e_crc, "CRC16 does not check out") end
  pinfo.cols.protocol = "PQWLINK"
  pinfo.cols.info = string.format("%s %02x->%02x seq %d set %02x id %02x %s (%d)%s",
                                  can_id == ID_CAMERA and "camera->daemon" or "daemon->camera",
                                  bytes:get_index(4), bytes:get_index(5),
                                  bytes:get_index(6) + 256 * bytes:get_index(7), set, id, name, n,
                                  ok and "" or " [BAD CRC16]")
end

function proto.dissector(tvb, pinfo, tree)
  local can_id = pinfo.match_uint
  if can_id ~= ID_DAEMON and can_id ~= ID_CAMERA then return 0 end
  local len = tvb:len()
  local data = len > 0 and tvb:bytes() or ByteArray.new()
  if not pinfo.visited and not found[pinfo.number] then
    found[pinfo.number] = first_pass(pinfo.number, can_id, data)
  end
  local note = found[pinfo.number] or {}
  local t = tree:add(proto, tvb(), "Camera link frame")
  t:add(f.direction, can_id == ID_CAMERA and "camera->daemon" or "daemon->camera")
  pinfo.cols.protocol = "PQWLINK"
  if note.broken then
    t:add(f.problem, note.broken):add_proto_expert_info(e_broken, note.broken)
  end
  if note.stray then
    t:add(f.fragment, "not part of a packet")
  elseif note.first then
    t:add(f.fragment, string.format("%d of the packet from frame %d", note.index, note.first))
    pinfo.cols.info = string.format("fragment %d of frame %d", note.index, note.first)
  end
  if note.dropped then
    t:add(f.problem, note.dropped):add_proto_expert_info(e_broken, note.dropped)
    pinfo.cols.info = note.dropped
  end
  if note.packet then show_packet(note.packet, tree, pinfo, can_id) end
  return len
end

local can_table = DissectorTable.get("can.id")
can_table:add(ID_DAEMON, proto)
can_table:add(ID_CAMERA, proto)
