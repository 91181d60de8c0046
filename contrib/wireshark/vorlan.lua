-- Wireshark dissector for the VORLAN exchange link (call records over TCP port 60010).
--
--   tshark -X lua_script:vorlan.lua -r capture.pcapng -Y vorlan -V
--   wireshark -X lua_script:vorlan.lua capture.pcapng
-- or copy it into the personal Lua plugins folder (Help, About Wireshark, Folders).
--
-- Requests (tool to exchange) have fixed lengths. A status reply is 11 bytes (port-busy: its
-- first 10, and whatever follows up to the next SYN). A data reply has no length: a 10-byte
-- header, records from STX to ETX (every byte between them is record text, SYN included), and
-- at most one last character. Like the tool, the dissector reads each direction as one stream:
-- a frame or record cut by a segment boundary is shown, whole, in the packet that ends it, and
-- a data reply that starts right where a record was left open completes that record.

local PORT = 60010
local SYN, STX, ETX = 0x16, 0x02, 0x03

local p = Proto("vorlan", "VORLAN exchange link")

local f = {
  kind = ProtoField.string("vorlan.kind", "Frame"),
  request = ProtoField.bytes("vorlan.request", "Request", base.SPACE),
  status = ProtoField.bytes("vorlan.status", "Status reply", base.SPACE),
  header = ProtoField.bytes("vorlan.header", "Data reply header", base.SPACE),
  continuation = ProtoField.bool("vorlan.continuation", "Completes the record left open"),
  code = ProtoField.string("vorlan.code", "Code field"),
  device = ProtoField.string("vorlan.device_id", "Device ID"),
  result = ProtoField.string("vorlan.result", "Result"),
  block = ProtoField.uint8("vorlan.block", "Block character", base.HEX),
  check = ProtoField.uint8("vorlan.check", "Check byte", base.HEX),
  check_ok = ProtoField.bool("vorlan.check_ok", "Check byte right"),
  record = ProtoField.bytes("vorlan.record", "Record", base.SPACE),
  record_text = ProtoField.string("vorlan.record.text", "Text"),
  call_type = ProtoField.string("vorlan.record.call_type", "Call type"),
  item = ProtoField.string("vorlan.item", "Data item"),
  item_type = ProtoField.uint8("vorlan.item.type", "Data type"),
  item_length = ProtoField.uint8("vorlan.item.length", "Length"),
  item_data = ProtoField.string("vorlan.item.data", "Data"),
  last = ProtoField.uint8("vorlan.last_char", "Last character", base.HEX),
  text = ProtoField.bytes("vorlan.text", "Text that is no frame", base.SPACE),
}
p.fields = {}
for _, field in pairs(f) do table.insert(p.fields, field) end

local tcp_stream = Field.new("tcp.stream")

local REQUEST = {
  [0x31] = { 10, "data request" },
  [0x35] = { 13, "status monitor request" },
  [0x36] = { 11, "disconnect request" },
  [0x34] = { 12, "data acknowledgement" },
}
local RESULT = {
  ["1"] = "buffer-empty reply",
  ["2"] = "status-OK reply",
  ["3"] = "checksum-error reply",
  ["4"] = "port-busy reply",
}

-- Per direction of each TCP stream: what is carried into the next packet, and where the
-- reader stands. Per packet: what the first pass found in it.
local streams, results = {}, {}
function p.init()
  streams, results = {}, {}
end

-- Complement of the XOR of s[from..to].
local function check_byte(s, from, to)
  local x = 0
  for k = from, to do x = bit32.bxor(x, s:byte(k)) end
  return bit32.band(bit32.bnot(x), 0xFF)
end

-- A two-character number as the tool reads it: blanks ignored, digits from the start, else 0.
local function number(text)
  local digits = text:gsub("[ \t\n]", ""):match("^[+-]?%d+")
  return tonumber(digits or "0") or 0
end

local function shown(record)
  local names = { [STX] = "<STX>", [ETX] = "<ETX>", [SYN] = "<SYN>", [13] = "<CR>", [10] = "<LF>" }
  return (record:gsub(".", function(c)
    local b = c:byte()
    if names[b] then return names[b] end
    if b < 0x20 then return string.format("<%02X>", b) end
    return c
  end))
end

local function text_until_syn(s, i, items)
  local j = s:find("\22", i + 1, true) or (#s + 1)
  items[#items + 1] = { kind = "text", from = i, len = j - i }
  return j
end

local function parse_requests(s, items)
  local i = 1
  while i <= #s do
    if s:byte(i) ~= SYN then
      i = text_until_syn(s, i, items)
    elseif i == #s then
      return s:sub(i)
    else
      local r = REQUEST[s:byte(i + 1)]
      if not r then
        i = text_until_syn(s, i, items)
      elseif i + r[1] - 1 > #s then
        return s:sub(i)
      else
        items[#items + 1] = { kind = "request", from = i, len = r[1] }
        i = i + r[1]
      end
    end
  end
  return ""
end

-- Reads the exchange's bytes from st.mode on; returns what to carry into the next packet.
-- `boundary` is where this packet's own bytes start in s.
local function parse_replies(s, st, boundary, items)
  local i = 1
  while i <= #s do
    local c = s:byte(i)
    if st.mode == "record" then
      local prefix, from = nil, i + 1
      -- Where the record was left open: the packet's start, or a header cut short there before.
      local at = boundary
      if st.cont and i == 1 then at = 1 + st.cont end
      st.cont = nil
      if i < at and at <= #s and s:byte(at) == SYN then
        if at - i == 1 then
          -- A lone STX closed the reply before; a new frame starts.
          items[#items + 1] = { kind = "last", from = i, len = 1 }
          i, st.mode = at, "idle"
          goto continue
        end
        if at == #s or s:byte(at + 1) == 0x32 then
          if at + 9 > #s then
            st.cont = at - i
            return s:sub(i)
          end
          items[#items + 1] = { kind = "header", from = at, len = 10, continuation = true }
          prefix, from = s:sub(i, at - 1), at + 10
        end
      end
      local e = s:find("\3", from, true)
      if not e then
        return prefix and (prefix .. s:sub(from)) or s:sub(i)
      end
      items[#items + 1] = { kind = "record", from = i, len = e - i + 1,
                            bytes = prefix and (prefix .. s:sub(from, e)) }
      i, st.mode = e + 1, "between"
    elseif st.mode == "between" then
      if c == STX then
        st.mode = "record"
      elseif c == SYN then
        st.mode = "idle"
      else
        items[#items + 1] = { kind = "last", from = i, len = 1 }
        i, st.mode = i + 1, "idle"
      end
    elseif st.mode == "skip" then
      local j = s:find("\22", i, true) or (#s + 1)
      if j > i then items[#items + 1] = { kind = "text", from = i, len = j - i, ignored = true } end
      i = j
      if j <= #s then st.mode = "idle" end
    elseif c ~= SYN then
      i = text_until_syn(s, i, items)
    elseif i == #s then
      return s:sub(i)
    else
      local t = s:byte(i + 1)
      if t == 0x32 then
        if i + 9 > #s then return s:sub(i) end
        items[#items + 1] = { kind = "header", from = i, len = 10 }
        i, st.mode = i + 10, "between"
      elseif t == 0x33 then
        if i + 9 > #s then return s:sub(i) end
        if s:byte(i + 10 - 1) == 0x34 then
          items[#items + 1] = { kind = "status", from = i, len = 10 }
          i, st.mode = i + 10, "skip"
        elseif i + 10 > #s then
          return s:sub(i)
        else
          items[#items + 1] = { kind = "status", from = i, len = 11 }
          i = i + 11
        end
      else
        i = text_until_syn(s, i, items)
      end
    end
    ::continue::
  end
  return ""
end

local function add_check(t, tvb, s, at, len)
  local right = check_byte(s, at + 1, at + len - 2) == s:byte(at + len - 1)
  t:add(f.check, tvb(at + len - 2, 1))
  local item = t:add(f.check_ok, right)
  item:set_generated()
  if not right then item:add_expert_info(PI_CHECKSUM, PI_WARN, "Check byte wrong") end
  return right
end

local function add_record(tree, tvb, item)
  local range = item.bytes and ByteArray.new(item.bytes, true):tvb("Record")()
    or tvb(item.from - 1, item.len)
  local r = range:raw()
  local t = tree:add(f.record, range)
  t:add(f.record_text, shown(r)):set_generated()
  if #r >= 6 then t:add(f.call_type, range(3, 2)) end
  local at = 6
  while at + 3 < #r do
    local dtype, n = number(r:sub(at, at + 1)), number(r:sub(at + 2, at + 3))
    local len = math.min(n, #r - 1 - (at + 3))
    if len < 0 then break end
    local it = t:add(f.item, range(at - 1, 4 + len), string.format("type %d: %s", dtype, r:sub(at + 4, at + 3 + len)))
    it:add(f.item_type, range(at - 1, 2), dtype)
    it:add(f.item_length, range(at + 1, 2), n)
    if len > 0 then it:add(f.item_data, range(at + 3, len)) end
    at = at + 4 + len
  end
  return "record"
end

function p.dissector(tvb, pinfo, tree)
  pinfo.cols.protocol = "VORLAN"
  local server = pinfo.src_port == PORT
  local r = results[pinfo.number]
  if not r then
    local key = tostring(tcp_stream().value) .. (server and ">" or "<")
    local st = streams[key] or { mode = "idle", carry = "" }
    local s = st.carry .. tvb:raw()
    local items = {}
    if server then
      st.carry = parse_replies(s, st, #st.carry + 1, items)
    else
      st.carry = parse_requests(s, items)
    end
    streams[key] = st
    r = { s = s, carried = #s - tvb:len(), items = items }
    results[pinfo.number] = r
  end
  local data = tvb
  if r.carried > 0 then data = ByteArray.new(r.s, true):tvb("VORLAN stream") end
  local s = r.s
  local root = tree:add(p, data())
  local info = {}
  for _, item in ipairs(r.items) do
    local at, len = item.from - 1, item.len
    local name
    if item.kind == "request" then
      name = REQUEST[s:byte(item.from + 1)][2]
      local t = root:add(f.request, data(at, len)):set_text(name)
      t:add(f.kind, name):set_generated()
      t:add(f.code, data(at + 2, 6))
      t:add(f.device, data(at + 8, 1))
      if s:byte(item.from + 1) == 0x34 then t:add(f.block, data(at + 9, 1)) end
      add_check(t, data, s, item.from, len)
    elseif item.kind == "status" then
      name = RESULT[s:sub(item.from + 9, item.from + 9)] or "status reply"
      local t = root:add(f.status, data(at, len)):set_text(name)
      t:add(f.kind, name):set_generated()
      t:add(f.code, data(at + 2, 6))
      t:add(f.device, data(at + 8, 1))
      t:add(f.result, data(at + 9, 1))
      if len == 11 and not add_check(t, data, s, item.from, len) then name = name .. " [check byte wrong]" end
    elseif item.kind == "header" then
      name = item.continuation and "data reply completing a record" or "data reply"
      local t = root:add(f.header, data(at, len)):set_text(name)
      t:add(f.kind, name):set_generated()
      t:add(f.block, data(at + 9, 1))
      if item.continuation then t:add(f.continuation, true):set_generated() end
    elseif item.kind == "record" then
      name = add_record(root, data, item)
    elseif item.kind == "last" then
      name = "last character"
      root:add(f.last, data(at, 1))
    else
      name = item.ignored and "ignored" or "text that is no frame"
      root:add(f.text, data(at, len))
    end
    if info[#info] ~= name then info[#info + 1] = name end
  end
  if #r.items == 0 then info[1] = "part of a frame" end
  pinfo.cols.info = table.concat(info, ", ")
  return tvb:len()
end

DissectorTable.get("tcp.port"):add(PORT, p)
