#include "sdk/Protocol/DSFProtocol.h"

#include <cstdio>
#include <cstring>
#include <memory>

#include "platform/debug/debug_output.h"
#include "platform/wire/byte_reader.h"

namespace {

// The setup record's items in wire order, for the writer and the reader alike.
struct SetupWriter {
  CByteWriter& w;
  void Fail() {}
  void U8(uint8_t& v) { w.U8(v); }
  void Bool(uint8_t& v) { w.U8(v); }
  void U16(uint16_t& v) { w.U16BE(v); }
  void U32(uint32_t& v) { w.U32BE(v); }
  void Bytes(void* p, size_t n) { w.Bytes(p, n); }
  void Text(char* field, size_t size) {
    const size_t n = strnlen(field, size);
    w.U16BE(uint16_t(n));
    w.Bytes(field, n);
  }
  void Sched(uint8_t& v, int, int) { w.U8(v); }
  void EndMark() { w.U32BE(1234); }
};

struct SetupReader {
  CByteReader& r;
  void Fail() { r.Fail(); }
  void U8(uint8_t& v) { v = r.U8(); }
  void Bool(uint8_t& v) { v = r.Flag(); }
  void U16(uint16_t& v) { v = r.U16BE(); }
  void U32(uint32_t& v) { v = r.U32BE(); }
  void Bytes(void* p, size_t n) { r.Bytes(p, n); }
  void Text(char* field, size_t size) {
    const uint16_t n = r.U16BE();
    r.Text(n, field, size);
  }
  void Sched(uint8_t& v, int day, int hour) {
    v = r.U8();
    debug_outputf("[SDK TRACE]-SCHED[%d][%d] == %d \n", day, hour, v);
  }
  void EndMark() { r.Skip(4); }
};

template <class V>
void VisitSetup(V& v, _SDK_DVRSETUP& s, uint32_t n) {
  v.Bytes(s.abItem2, 6);
  v.U32(s.dwItem3);
  v.Text(s.szItem4, sizeof s.szItem4);
  for (uint32_t& x : s.adwItem5) v.U32(x);
  for (uint32_t& x : s.adwItem5b) v.U32(x);
  v.Bytes(s.abItem6a, 4);
  v.U32(s.dwItem6b);
  v.U32(s.dwItem6c);
  v.Bytes(s.abItem6d, 6);
  for (_SDK_DVRSETUP_CAMERA& c : s.aCamera) {
    v.Bool(c.bUse);
    v.Text(c.szText1, sizeof c.szText1);
    v.Text(c.szText2, sizeof c.szText2);
    v.Text(c.szText3, sizeof c.szText3);
    v.Bytes(c.abValue, 11);
    v.U32(c.dwValue);
  }
  for (_SDK_DVRSETUP_ITEM8& e : s.aItem8) {
    v.Bool(e.bUse);
    v.U32(e.dwValue1);
    v.U32(e.dwValue2);
    v.Text(e.szText, sizeof e.szText);
  }
  for (uint32_t i = 0; i < n; ++i) {
    _SDK_DVRSETUP_CHANNEL& c = s.aChannel[i];
    v.Text(c.szName, sizeof c.szName);
    for (uint32_t& x : c.adwValue1) v.U32(x);
    v.Bool(c.bFlag1);
    for (uint32_t& x : c.adwValue2) v.U32(x);
    for (int d = 0; d < 7; ++d)
      for (int h = 0; h < 24; ++h) v.Sched(c.abSchedule[d][h], d, h);
    v.Bytes(c.abValue3, 24);
    v.U32(c.dwValue4);
    v.Bool(c.bFlag2);
    v.Bool(c.bFlag3);
    v.U32(c.dwValue5);
    v.Bytes(c.abGrid, sizeof c.abGrid);
    for (uint32_t& x : c.adwValue6) v.U32(x);
  }
  v.Bool(s.bItem10);
  for (uint32_t& x : s.adwItem10) v.U32(x);
  for (auto& g : s.abItem11) {
    v.Bool(g[0]);
    v.U8(g[1]);
    v.U8(g[2]);
  }
  v.U8(s.bItem12a);
  v.Text(s.szItem12b, sizeof s.szItem12b);
  v.Bytes(s.abItem12c, sizeof s.abItem12c);
  v.U16(s.wItem12d);
  v.U16(s.wItem12e);
  v.Bool(s.bItem12f);
  v.Text(s.szItem12g, sizeof s.szItem12g);
  v.U16(s.wItem12h);
  for (uint32_t i = 0; i < n; ++i) {
    _SDK_DVRSETUP_ITEM13& e = s.aItem13[i];
    v.Bool(e.bUse);
    v.U32(e.dwValue1);
    v.U32(e.dwValue2);
    v.U16(e.wValue1);
    v.U16(e.wValue2);
  }
  for (uint32_t i = 0; i < n; ++i) {
    _SDK_DVRSETUP_ITEM14& e = s.aItem14[i];
    v.Bool(e.bUse);
    v.U32(e.dwValue1);
    v.U32(e.dwValue2);
  }
  v.Bool(s.bItem15a);
  v.U32(s.dwItem15b);
  v.U32(s.dwItem15c);
  v.Bool(s.bItem15d);
  v.U32(s.dwItem15e);
  v.U32(s.dwItem15f);
  v.U32(s.dwItem15g);
  v.Bool(s.bItem15h);
  v.U32(s.dwItem15i);
  v.U32(s.dwItem15j);
  v.Bool(s.bItem15k);
  v.U32(s.dwItem15l);
  v.U32(s.dwItem15m);
  v.Bool(s.bItem15n);
  for (int i = 0; i < 5; ++i) {
    v.Bytes(s.abItem16a[i], 4);
    v.U32(s.adwItem16b[i]);
    v.Bytes(s.abItem16c[i], 10);
  }
  v.Bool(s.bItem17);
  v.Text(s.szItem17a, sizeof s.szItem17a);
  v.Text(s.szItem17b, sizeof s.szItem17b);
  for (int i = 0; i < 5; ++i) {
    v.Text(s.szItem18[i], sizeof s.szItem18[i]);
    v.Bytes(s.abItem18[i], 10);
  }
  v.EndMark();
}

size_t PackSetup(const _SDK_DVRSETUP& in, uint8_t* out, size_t capacity) {
  // The visitor takes mutable fields; the writer only reads them.
  _SDK_DVRSETUP& s = const_cast<_SDK_DVRSETUP&>(in);
  CByteWriter w(out, capacity);
  SetupWriter v{w};
  const uint32_t n = s.nChannels > 16 ? 16 : s.nChannels;
  w.U32BE(n);
  VisitSetup(v, s, n);
  return w.Ok() ? w.Pos() : 0;
}

size_t ComputeMaxPayload() {
  static _SDK_DVRSETUP full;
  std::memset(&full, 'x', sizeof full);
  full.nChannels = 16;
  std::vector<uint8_t> buf(1 << 16);
  return PackSetup(full, buf.data(), buf.size());
}

// A text of a stream object: u8 length, then the bytes, into a 256-byte field.
void ObjectText(CByteReader& r, char* out) {
  const uint8_t n = r.U8();
  r.Text(n, out, 256);
}

}  // namespace

void CBitArray::Resize(size_t bits) {
  m_buffer.assign((bits + 7) / 8, 0);
  m_nBits = bits;
}

void CBitArray::Load(const uint8_t* data, size_t available) {
  const size_t n = m_buffer.size() < available ? m_buffer.size() : available;
  if (data && n) std::memcpy(m_buffer.data(), data, n);
}

int CBitArray::SetBit(size_t i, int value) {
  if ((value != 0 && value != 1) || i / 8 >= m_buffer.size()) return -1;
  const uint8_t mask = uint8_t(0x80 >> (i % 8));
  if (value)
    m_buffer[i / 8] |= mask;
  else
    m_buffer[i / 8] &= uint8_t(~mask);
  return 0;
}

int CBitArray::GetBit(size_t i, uint8_t* out) const {
  if (i / 8 >= m_buffer.size()) return -1;
  *out = (m_buffer[i / 8] >> (7 - i % 8)) & 1;
  return 0;
}

CDSFProtocol::CDSFProtocol() {
  std::memset(m_abChannelFlags, 0, sizeof m_abChannelFlags);
  ResetSession();
}

size_t CDSFProtocol::MaxPayload() {
  static const size_t n = ComputeMaxPayload();
  return n;
}

int CDSFProtocol::BuildPacket(uint32_t number, uint32_t flag, const void* record, uint8_t* out) {
  int n = 0;
  if (flag == 1 && record) n = PackPayload(number, record, out + 12);
  CByteWriter w(out, 12);
  w.U32BE(number);
  w.U32BE(flag);
  w.U32BE(uint32_t(n));
  return 12 + n;
}

int CDSFProtocol::PackPayload(uint32_t number, const void* record, uint8_t* out) {
  if (!record) {
    debug_outputf("[SDK TRACE]-PackPayload(%x) without a record (DSFProtocol.cpp)\n", number);
    return 0;
  }
  CByteWriter w(out, MaxPayload());
  switch (number) {
    case DSF_LIVE_START: w.U8(static_cast<const DSF_LIVE_REQUEST*>(record)->channel); break;
    case DSF_PLAYBACK_START: {
      const auto* r = static_cast<const DSF_PLAYBACK_REQUEST*>(record);
      const size_t n = strnlen(r->szAddress, sizeof r->szAddress);
      w.U16BE(uint16_t(n));
      w.Bytes(r->szAddress, n);
      w.U32BE(r->dwStart);
      w.U32BE(r->dwEnd);
      w.U8(0);
      w.U8(r->channel);
      w.U8(1);
      break;
    }
    case DSF_STREAM_HOLD: w.U8(static_cast<const DSF_HOLD_REQUEST*>(record)->value); break;
    case DSF_PTZ_MOVE_REQ: {
      const auto* r = static_cast<const DSF_PTZ_MOVE*>(record);
      w.U8(r->channel);
      w.U8(r->code);
      break;
    }
    case DSF_PTZ_FUNCTION_REQ: {
      const auto* r = static_cast<const DSF_PTZ_FUNCTION*>(record);
      w.U8(r->channel);
      w.U8(r->function);
      w.U8(r->valueA);
      w.U8(r->valueB);
      break;
    }
    case DSF_PRESET_SET_REQ: {
      const auto* r = static_cast<const DSF_PRESET_SET*>(record);
      w.U8(r->channel);
      w.U8(r->preset);
      w.U16BE(0);
      break;
    }
    case DSF_PRESET_RUN_REQ: {
      const auto* r = static_cast<const DSF_PRESET_RUN*>(record);
      w.U8(r->channel);
      w.U8(r->preset);
      w.U8(0);
      break;
    }
    case DSF_PTZ_MENU_REQ: {
      const auto* r = static_cast<const DSF_PTZ_MENU*>(record);
      w.U8(r->channel);
      w.U8(r->key);
      break;
    }
    case DSF_PTZ_BYPASS_REQ: {
      const auto* r = static_cast<const DSF_PTZ_BYPASS*>(record);
      w.U8(r->channel);
      w.U8(r->count);
      w.Bytes(r->bytes, r->count);
      break;
    }
    case DSF_RELAY_SET_REQ: {
      const auto* r = static_cast<const DSF_RELAY_SET*>(record);
      w.U8(r->relay);
      w.U8(r->state);
      break;
    }
    case DSF_PLAY_FAST:
    case DSF_PLAY_NORMAL: {
      const auto* r = static_cast<const DSF_PLAY_SPEED*>(record);
      w.U32BE(r->position);
      w.U8(r->direction);
      break;
    }
    case DSF_PLAY_GOTO_REQ: {
      const auto* r = static_cast<const DSF_PLAY_GOTO*>(record);
      w.U32BE(r->date);
      w.U32BE(r->time);
      w.U8(0);
      w.U8(r->value);
      break;
    }
    case DSF_SETUP_SET: {
      const size_t n = PackSetup(*static_cast<const _SDK_DVRSETUP*>(record), out, MaxPayload());
      KeepRecord(number, const_cast<void*>(record));
      return int(n);
    }
    case DSF_STREAM_READY:
    case DSF_RELAY_GET:
    case DSF_PLAY_UPKEEP:
    case DSF_KEEP_ALIVE:
    case DSF_SETUP_GET: break;
    default: debug_outputf("[SDK TRACE]-Unknown protocol2 = %x\n", number); return 0;
  }
  KeepRecord(number, const_cast<void*>(record));
  return w.Ok() ? int(w.Pos()) : 0;
}

void CDSFProtocol::KeepRecord(uint32_t number, void* record) {
  std::lock_guard<std::mutex> lk(m_recordLock);
  m_records[number] = record;
}

void CDSFProtocol::ForgetRecord(uint32_t number) {
  std::lock_guard<std::mutex> lk(m_recordLock);
  m_records.erase(number);
}

void* CDSFProtocol::KeptRecord(uint32_t number) const {
  std::lock_guard<std::mutex> lk(m_recordLock);
  auto it = m_records.find(number);
  return it == m_records.end() ? nullptr : it->second;
}

int CDSFProtocol::ParseKeptReply(uint32_t reply_number, uint32_t request_number,
                                 const uint8_t* payload, size_t length) {
  std::lock_guard<std::mutex> lk(m_recordLock);
  auto it = m_records.find(request_number);
  if (it == m_records.end() || !it->second) return 0;
  return ParseReply(reply_number, payload, length, it->second);
}

int CDSFProtocol::ReadString16(const uint8_t* data, size_t available, std::string* text) {
  CByteReader r(data, available);
  const uint16_t n = r.U16BE();
  const uint8_t* p = r.Take(n);
  if (!r.Ok()) return -1;
  if (text) text->assign(reinterpret_cast<const char*>(p), n);
  return int(r.Pos());
}

void CDSFProtocol::UnpackBits(uint8_t* out, size_t n, const uint8_t* data) {
  for (size_t i = 0; i < n; ++i) out[i] = (data[i / 8] >> (7 - i % 8)) & 1;
}

int CDSFProtocol::ParseReply(uint32_t number, const uint8_t* payload, size_t length, void* record) {
  if (!record) return 0;
  CByteReader r(payload, length);
  switch (number) {
    case DSF_STREAM_OBJECT:
    case DSF_STREAM_FRAME: {
      if (length < 1 || !payload) return 0;
      auto* out = static_cast<DSF_STREAM_DATA*>(record);
      out->channel = payload[0];
      out->length = uint32_t(length - 1);
      out->data = payload + 1;
      return 1;
    }
    case 0xA0020001: {
      auto* out = static_cast<DSF_STREAM_BLOCK*>(record);
      out->length = uint32_t(length);
      out->data = payload;
      return 1;
    }
    case 0xA0020003: {
      if (length < 4 || !payload) return 0;
      auto* out = static_cast<DSF_STREAM_BLOCK*>(record);
      out->length = uint32_t(length - 4);
      out->data = payload + 4;
      return 1;
    }
    case DSF_CHANNEL_INFO_REPLY:
      return ParseChannelInfo(payload, length, static_cast<DSF_CHANNEL_INFO*>(record));
    case 0xA0031000: {
      DSF_RELAY_STATE tmp{};
      tmp.count = r.U8();
      r.Bytes(tmp.state, tmp.count);
      if (!r.Ok()) return 0;
      *static_cast<DSF_RELAY_STATE*>(record) = tmp;
      return 1;
    }
    case 0xA0060005:
    case 0xA0060007:
    case 0xA0060009: {
      const uint32_t v = r.U32BE();
      if (!r.Ok()) return 0;
      *static_cast<uint32_t*>(record) = v;
      if (number == 0xA0060009) m_dwGotoResult = v;
      return 1;
    }
    case 0xA0080001: {
      auto tmp = std::make_unique<_SDK_DVRSETUP>();
      std::memset(tmp.get(), 0, sizeof *tmp);
      SetupReader v{r};
      tmp->nChannels = r.U32BE();
      if (tmp->nChannels > 16) return 0;
      VisitSetup(v, *tmp, tmp->nChannels);
      if (!r.Ok()) return 0;
      std::memcpy(record, tmp.get(), sizeof *tmp);
      return 1;
    }
    case DSF_EVENT_SENSOR: {
      DSF_SENSOR_EVENT tmp{};
      tmp.a = r.U32BE();
      tmp.b = r.U8();
      const uint8_t* bits = r.Take(4);
      tmp.c = r.U32BE();
      if (!r.Ok()) return 0;
      UnpackBits(tmp.flags, 32, bits);
      *static_cast<DSF_SENSOR_EVENT*>(record) = tmp;
      return 1;
    }
    case DSF_EVENT_SHUTDOWN: {
      DSF_SHUTDOWN_EVENT tmp{};
      tmp.a = r.U32BE();
      tmp.b = r.U32BE();
      if (!r.Ok()) return 0;
      *static_cast<DSF_SHUTDOWN_EVENT*>(record) = tmp;
      return 1;
    }
    default: return 0;
  }
}

int CDSFProtocol::ParseChannelInfo(const uint8_t* payload, size_t length, DSF_CHANNEL_INFO* info) {
  CByteReader r(payload, length);
  DSF_CHANNEL_INFO tmp{};
  uint8_t flag3[32] = {0};
  tmp.dwDataRequest = r.U32BE();
  tmp.nChannels = r.U16BE();
  if (tmp.nChannels > 32) return 0;
  for (auto& field : tmp.abFlags) {
    const uint8_t* bits = r.Take(4);
    if (bits) UnpackBits(field, tmp.nChannels, bits);
  }
  if (tmp.nChannels == 0) {
    r.Skip(32 * 12);
  } else {
    for (int i = 0; i < 16; ++i) {
      DSF_CHANNEL_ENTRY& e = tmp.aEntry[i];
      e.p = r.U32BE();
      e.q = r.U32BE();
      e.r = r.U8();
      e.s = r.U8();
      e.t = r.U8();
      e.u = r.U8();
      flag3[i] = uint8_t(e.p);
    }
    r.Skip(16 * 12);
  }
  std::vector<std::string> names;
  if (tmp.nChannels == 0) {
    r.Skip(32);
  } else {
    for (int ch = 0; ch < 16 && r.Ok(); ++ch) {
      const uint8_t m = r.U8();
      tmp.abPresetCount[ch] = m;
      for (int j = 0; j < m && r.Ok(); ++j) {
        const uint16_t n = r.U16BE();
        std::string name = r.String(n);
        if (n < 1 || n > 83 || name.empty()) {
          char buf[24];
          std::snprintf(buf, sizeof buf, "Preset-%d", j + 1);
          name = buf;
        }
        names.push_back(std::move(name));
      }
    }
    r.Skip(16);
  }
  if (!r.Ok()) return 0;
  tmp.wPresetField = 0;
  *info = tmp;
  std::memcpy(m_abChannelFlags[0], tmp.abFlags[0], 32);
  std::memcpy(m_abChannelFlags[1], tmp.abFlags[2], 32);
  if (tmp.nChannels != 0) std::memcpy(m_abChannelFlags[2], flag3, 32);
  m_presetNames.insert(m_presetNames.end(), names.begin(), names.end());
  m_strCurrentPreset.clear();
  return 1;
}

size_t CDSFProtocol::MotionCellCount() const {
  return size_t(m_video.width >> 4) * size_t(m_video.height >> 4);
}

int CDSFProtocol::ParseStreamHeader(const uint8_t* block, size_t length) {
  m_video.track = 0xFF;
  m_audio.track = 0xFF;
  if (!block) return 0;
  const uint8_t* p = block;
  if (length >= 3 && std::memcmp(p, "VQZ", 3) == 0) {
    if (length < 32) {
      debug_output("[SDK TRACE]-Error, Unknown Object\n");
      return 0;
    }
    p += 32;
    length -= 32;
  }
  size_t done = 0;
  while (done < length) {
    const size_t left = length - done;
    CByteReader r(p + done, left);
    const uint32_t type = r.U32LE();
    const uint32_t size = r.U32LE();
    size_t step = 0;
    bool ok = r.Ok() && (type & 0xFFFF) == 0;
    if (ok) {
      switch (type) {
        case DSF_STREAM_HEADER_TYPE:
        case DSF_VIDEO_TYPE:
        case DSF_AUDIO_TYPE:
        case DSF_INFO_A_TYPE:
        case DSF_INFO_B_TYPE:
          step = size;
          ok = size >= 8 && size <= left && ReadHeaderObject(type, p + done, size) == type;
          break;
        case DSF_MARK_TYPE:
        case DSF_MARK_END_TYPE:
          step = 8;
          m_mark.type = type;
          m_mark.value = size;
          break;
        default: ok = false;
      }
    }
    if (!ok) {
      debug_output("[SDK TRACE]-Error, Unknown Object\n");
      return 0;
    }
    done += step;
  }
  m_pLastHeaderBlock = block;
  return 1;
}

uint32_t CDSFProtocol::ParseObject(const uint8_t* object, size_t length) {
  CByteReader r(object, length);
  const uint32_t word = r.U32LE();
  if (!r.Ok()) return DSF_UNKNOWN_KIND;
  if (word & 0xFFFF) return ReadFrameObject(object, length);
  switch (word) {
    case DSF_STREAM_HEADER_TYPE:
    case DSF_VIDEO_TYPE:
    case DSF_AUDIO_TYPE:
    case DSF_INFO_A_TYPE:
    case DSF_INFO_B_TYPE: {
      const uint32_t size = r.U32LE();
      if (!r.Ok() || size < 8 || size > length) return DSF_UNKNOWN_KIND;
      return ReadHeaderObject(word, object, size);
    }
    case DSF_MARK_TYPE:
    case DSF_MARK_END_TYPE: {
      const uint32_t value = r.U32LE();
      if (!r.Ok()) return DSF_UNKNOWN_KIND;
      m_mark.type = word;
      m_mark.value = value;
      return word;
    }
    default: return DSF_UNKNOWN_KIND;
  }
}

uint32_t CDSFProtocol::ReadHeaderObject(uint32_t type, const uint8_t* object, size_t length) {
  CByteReader r(object, length);
  switch (type) {
    case DSF_STREAM_HEADER_TYPE: {
      DSF_STREAM_HEADER_OBJECT o{};
      o.type = r.U32LE();
      o.size = r.U32LE();
      o.b8 = r.U8();
      o.d9 = r.U32LE();
      o.d13 = r.U32LE();
      o.w17 = r.U16LE();
      o.year = r.U16LE();
      o.month = r.U8();
      o.day = r.U8();
      o.hour = r.U8();
      o.minute = r.U8();
      o.second = r.U8();
      const uint8_t b26 = r.U8();
      o.dateValue = b26 & 0x0F;
      o.flag = b26 >> 7;
      o.w27 = r.U16LE();
      o.b29 = r.U8();
      o.d30 = r.U32LE();
      o.d34 = r.U32LE();
      o.d38 = r.U32LE();
      o.b42 = r.U8();
      o.b43 = r.U8();
      o.w44 = r.U16LE();
      o.b46 = r.U8();
      ObjectText(r, o.text1);
      ObjectText(r, o.text2);
      if (!r.Ok()) return DSF_UNKNOWN_KIND;
      m_header = o;
      return type;
    }
    case DSF_VIDEO_TYPE: {
      DSF_VIDEO_OBJECT o{};
      o.type = r.U32LE();
      o.size = r.U32LE();
      r.Bytes(o.codec, 16);
      o.track = r.U8();
      o.b25 = r.U8();
      o.width = r.U16LE();
      o.height = r.U16LE();
      o.b30 = r.U8();
      o.b31 = r.U8();
      o.b32 = r.U8();
      o.motionBits = r.U16LE();
      const size_t cells = size_t(o.width >> 4) * size_t(o.height >> 4);
      if (o.motionBits > cells) return DSF_UNKNOWN_KIND;
      const size_t bytes = (o.motionBits + 7u) / 8u;
      const uint8_t* bits = r.Take(bytes);
      ObjectText(r, o.text1);
      ObjectText(r, o.text2);
      if (!r.Ok()) return DSF_UNKNOWN_KIND;
      m_motionCells.assign(cells, 0);
      if (o.motionBits) {
        m_bits.Resize(o.motionBits);
        m_bits.Load(bits, bytes);
        for (size_t i = 0; i < o.motionBits; ++i) m_bits.GetBit(i, &m_motionCells[i]);
      }
      o.motionCells = m_motionCells.data();
      m_video = o;
      return type;
    }
    case DSF_AUDIO_TYPE: {
      DSF_AUDIO_OBJECT o{};
      o.type = r.U32LE();
      o.size = r.U32LE();
      r.Bytes(o.codec, 16);
      o.track = r.U8();
      o.samplesPerSecond = r.U16LE();
      o.b27 = r.U8();
      o.setupValue = r.U8();
      o.w29 = r.U16LE();
      ObjectText(r, o.text);
      if (!r.Ok()) return DSF_UNKNOWN_KIND;
      m_audio = o;
      return type;
    }
    case DSF_INFO_A_TYPE:
    case DSF_INFO_B_TYPE: {
      DSF_INFO_OBJECT o{};
      o.type = r.U32LE();
      o.size = r.U32LE();
      o.value = r.U32LE();
      ObjectText(r, o.text);
      if (!r.Ok()) return DSF_UNKNOWN_KIND;
      if (type == DSF_INFO_A_TYPE) {
        m_infoA = o;
        m_bInfoA = true;
      } else {
        m_infoB = o;
      }
      return type;
    }
    default: return DSF_UNKNOWN_KIND;
  }
}

uint32_t CDSFProtocol::ReadFrameObject(const uint8_t* object, size_t length) {
  CByteReader head(object, length);
  const uint16_t total = head.U16LE();
  if (!head.Ok() || total > length) return DSF_UNKNOWN_KIND;
  CByteReader r(object, total);
  DSF_FRAME_OBJECT o{};
  o.length = r.U16LE();
  o.flags = r.U8();
  o.key = (o.flags >> 7) & 1;
  o.extension = (o.flags >> 6) & 1;
  o.flagC = (o.flags >> 5) & 1;
  o.kind = o.flags & 0x0F;
  o.timeOffset = r.U32LE();
  if (o.extension) {
    const uint8_t pi = r.U8();
    o.parts = pi >> 4;
    o.partIndex = pi & 0x0F;
    o.wholeSize = r.U32LE();
  }
  o.motionPresent = r.U8();
  const uint8_t* bits = nullptr;
  if (o.motionPresent) {
    o.m1 = r.U8();
    o.m2 = r.U8();
    o.motionBits = r.U16LE();
    if (o.motionBits > MotionCellCount()) return DSF_UNKNOWN_KIND;
    bits = r.Take((o.motionBits + 7u) / 8u);
    ObjectText(r, o.text1);
  }
  ObjectText(r, o.text2);
  if (!r.Ok()) return DSF_UNKNOWN_KIND;
  o.headerLength = uint32_t(r.Pos());
  o.dataLength = total - o.headerLength;
  o.data = (o.dataLength > 0 || o.kind == 2) ? object + o.headerLength : nullptr;
  if (o.motionBits) {
    m_bits.Resize(o.motionBits);
    m_bits.Load(bits, (o.motionBits + 7u) / 8u);
    for (size_t i = 0; i < o.motionBits; ++i) m_bits.GetBit(i, &m_motionCells[i]);
  }
  m_frame = o;
  return DSF_FRAME_KIND;
}

void CDSFProtocol::ResetSession() {
  std::memset(&m_header, 0, sizeof m_header);
  std::memset(&m_video, 0, sizeof m_video);
  std::memset(&m_audio, 0, sizeof m_audio);
  std::memset(&m_infoA, 0, sizeof m_infoA);
  std::memset(&m_infoB, 0, sizeof m_infoB);
  std::memset(&m_mark, 0, sizeof m_mark);
  std::memset(&m_frame, 0, sizeof m_frame);
  m_motionCells.clear();
  m_motionCells.shrink_to_fit();
  m_bits.Free();
  m_bInfoA = false;
  m_pLastHeaderBlock = nullptr;
}
