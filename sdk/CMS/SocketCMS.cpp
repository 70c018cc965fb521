#include "sdk/CMS/SocketCMS.h"

#include <algorithm>
#include <cstring>

#include "platform/debug/debug_output.h"
#include "platform/sync/thread_name.h"
#include "platform/wire/byte_reader.h"

namespace {
constexpr uint32_t kPassedWithoutFlag = 0xA0070100;
constexpr uint32_t kHeaderOnlyReply = 0xA0040002;

std::string String16(CByteReader& r) { return r.String(r.U16BE()); }

bool ReadHeaderFrom(CByteReader& r, CMS_HEADER* h) {
  h->command = r.U32BE();
  h->flag = r.U32BE();
  h->length = r.U32BE();
  return r.Ok();
}

void CopyText(char* field, size_t size, const std::string& s) {
  std::memcpy(field, s.data(), std::min(size, s.size()));
}
}  // namespace

CCMSPacket::CCMSPacket() : m_buffer(kSize, 0) {}

void CCMSPacket::PutU8(uint8_t v) {
  if (m_nPos + 1 > kSize) {
    m_bFailed = true;
    return;
  }
  m_buffer[m_nPos++] = v;
}

void CCMSPacket::PutU16(uint16_t v) {
  if (m_nPos + 2 > kSize) {
    m_bFailed = true;
    return;
  }
  PutU8(uint8_t(v >> 8));
  PutU8(uint8_t(v));
}

void CCMSPacket::PutU32(uint32_t v) {
  if (m_nPos + 4 > kSize) {
    m_bFailed = true;
    return;
  }
  PutU16(uint16_t(v >> 16));
  PutU16(uint16_t(v));
}

void CCMSPacket::PutString16(const std::string& s) {
  const size_t n = std::min<size_t>(s.size(), 0xFFFE);
  if (m_nPos + 2 + n + 1 > kSize) {
    m_bFailed = true;
    return;
  }
  PutU16(uint16_t(n + 1));
  std::memcpy(&m_buffer[m_nPos], s.data(), n);
  m_nPos += uint32_t(n);
  PutU8(0);
}

void CCMSPacket::PutHeader(uint32_t command, uint32_t flag) {
  m_nPos = 0;
  m_bFailed = false;
  PutU32(command);
  PutU32(flag);
  PutU32(0);
  EndRequest();
}

void CCMSPacket::EndRequest() {
  const uint32_t n = m_nPos - 12;
  m_buffer[8] = uint8_t(n >> 24);
  m_buffer[9] = uint8_t(n >> 16);
  m_buffer[10] = uint8_t(n >> 8);
  m_buffer[11] = uint8_t(n);
}

void CCMSPacket::MakeSystemInfoRequest(const std::string& user) {
  PutHeader(CMS_SYSTEM_INFO_REQ, 0);
  PutString16(user);
  EndRequest();
}

void CCMSPacket::MakeHealthRequest() {
  PutHeader(CMS_HEALTH_REQ, 0);
  EndRequest();
}

void CCMSPacket::MakeStartSearchRequest(uint32_t date, uint32_t time, uint8_t kind, uint8_t divide,
                                        uint16_t channel) {
  PutHeader(CMS_SEARCH_START_REQ, 0);
  PutU32(date);
  PutU32(time);
  PutU8(kind);
  PutU8(divide);
  PutU16(channel);
  PutU32(0);
  PutU32(0);
  EndRequest();
}

void CCMSPacket::MakeSearchStatusRequest() {
  PutHeader(CMS_SEARCH_STATUS_REQ, 0);
  EndRequest();
}

void CCMSPacket::MakeSetSearchStatusRequest(uint8_t status) {
  PutHeader(CMS_SEARCH_SET_REQ, 0);
  PutU8(status);
  PutU8(0);
  PutU8(0);
  PutU8(0);
  EndRequest();
}

int CCMSPacket::ReadHeader(const uint8_t* packet, size_t length, CMS_HEADER* h) {
  CByteReader r(packet, length);
  CMS_HEADER tmp{};
  if (!ReadHeaderFrom(r, &tmp)) return 0;
  *h = tmp;
  return 1;
}

int CCMSPacket::ReadSystemInfo(const uint8_t* packet, size_t length, CMS_SYSTEM_INFO* out) {
  CByteReader r(packet, length);
  CMS_SYSTEM_INFO t{};
  ReadHeaderFrom(r, &t.header);
  t.b1 = r.U8();
  t.d2 = r.U32BE();
  t.d3 = r.U32BE();
  const uint8_t n = r.U8();
  t.b5 = r.U8();
  t.b6 = r.U8();
  t.b7 = r.U8();
  t.d8 = r.U32BE();
  t.b9 = r.U8();
  t.b10 = r.U8();
  t.w11 = r.U16BE();
  for (uint32_t& x : t.ad12) x = r.U32BE();
  r.Bytes(t.ab13, 3);
  r.Bytes(t.ab14, 3);
  t.b15 = r.U8();
  r.Bytes(t.abAddress, sizeof t.abAddress);
  t.w17a = r.U16BE();
  t.w17b = r.U16BE();
  t.s18 = String16(r);
  t.b19 = r.U8();
  t.s20 = String16(r);
  t.w21 = r.U16BE();
  for (uint32_t& x : t.ad22) x = r.U32BE();
  // Room for 16 entries: the others are read past, not kept.
  for (int i = 0; i < n && r.Ok(); ++i) {
    CMS_CHANNEL_ENTRY e;
    e.name = String16(r);
    r.Bytes(e.abValue, 7);
    for (uint32_t& x : e.adwValue) x = r.U32BE();
    if (i < 16) t.aChannel[i] = std::move(e);
  }
  t.nChannels = n > 16 ? 16 : n;
  for (uint32_t& x : t.ad24) x = r.U32BE();
  if (!r.Ok()) return 0;
  *out = std::move(t);
  return 1;
}

int CCMSPacket::ReadHealthInfo(const uint8_t* packet, size_t length, CMS_HEALTH_INFO* out) {
  CByteReader r(packet, length);
  CMS_HEALTH_INFO t{};
  ReadHeaderFrom(r, &t.header);
  for (uint32_t& x : t.ad1) x = r.U32BE();
  for (uint16_t& x : t.aw2) x = r.U16BE();
  for (uint32_t& x : t.ad3) x = r.U32BE();
  if (!r.Ok()) return 0;
  *out = t;
  return 1;
}

int CCMSPacket::ReadSearchStatus(const uint8_t* packet, size_t length, CMS_SEARCH_STATUS* out) {
  CByteReader r(packet, length);
  CMS_SEARCH_STATUS t{};
  ReadHeaderFrom(r, &t.header);
  if (t.header.flag != 1) return 0;
  t.b1 = r.U8();
  t.b2 = r.U8();
  t.w3 = r.U16BE();
  if (!r.Ok()) return 0;
  *out = t;
  return 1;
}

int CCMSPacket::ReadInfoA0070002(const uint8_t* packet, size_t length, CMS_INFO_A0070002* out) {
  CByteReader r(packet, length);
  CMS_INFO_A0070002 t{};
  ReadHeaderFrom(r, &t.header);
  t.b1 = r.U8();
  t.s2 = String16(r);
  t.d3 = r.U32BE();
  t.d4 = r.U32BE();
  t.s5 = String16(r);
  t.s6 = String16(r);
  r.Bytes(t.ab7, 9);
  t.d8 = r.U32BE();
  r.Bytes(t.ab9, 8);
  r.Bytes(t.ab10, sizeof t.ab10);
  const uint8_t n = t.ab7[1];
  for (int i = 0; i < n && r.Ok(); ++i) {
    CMS_INFO_A0070002::Entry e;
    e.text = String16(r);
    r.Bytes(e.ab, 4);
    if (i < 16) t.aEntry[i] = std::move(e);
  }
  t.nEntries = n > 16 ? 16 : n;
  if (!r.Ok()) return 0;
  *out = std::move(t);
  return 1;
}

int CCMSPacket::ReadInfoA0070003(const uint8_t* packet, size_t length, CMS_INFO_A0070003* out) {
  CByteReader r(packet, length);
  CMS_INFO_A0070003 t{};
  ReadHeaderFrom(r, &t.header);
  t.b1 = r.U8();
  t.b2 = r.U8();
  t.d3 = r.U32BE();
  r.Bytes(t.ab4, 5);
  t.s5 = String16(r);
  t.s6 = String16(r);
  for (uint32_t& x : t.ad7) x = r.U32BE();
  const uint8_t n = r.U8();
  for (int i = 0; i < n && r.Ok(); ++i) {
    CMS_INFO_A0070003::Entry e;
    r.Bytes(e.ab, 4);
    e.d1 = r.U32BE();
    e.d2 = r.U32BE();
    e.s1 = String16(r);
    e.s2 = String16(r);
    if (i < 16) t.aEntry[i] = std::move(e);
  }
  t.nEntries = n > 16 ? 16 : n;
  if (!r.Ok()) return 0;
  *out = std::move(t);
  return 1;
}

void CMSCopyDvrInfo(CMS_SYSTEM_INFO& info, _SDK_DVR_INFO* out) {
  out->bValue0 = info.b1;
  out->nChannels = info.nChannels;
  out->bValue2 = info.b5;
  out->bValue3 = info.b6;
  out->bValue4 = info.b7;
  out->dwValue8 = info.d8;
  out->bValue12 = info.b9;
  out->bValue13 = info.b10;
  out->wValue14 = info.w11;
  std::memcpy(out->abValue16, info.ab13, 3);
  std::memcpy(out->abValue19, info.ab14, 3);
  out->bValue22 = info.b15;
  std::memcpy(out->abAddress, info.abAddress, sizeof out->abAddress);
  out->wPort44 = info.w17a;
  out->wPort46 = info.w17b;
  CopyText(out->szText48, sizeof out->szText48, info.s18);
  out->bValue80 = info.b19;
  CopyText(out->szText81, sizeof out->szText81, info.s20);
  out->wValue146 = info.w21;
  for (int i = 0; i < info.nChannels && i < 16; ++i) {
    CMS_CHANNEL_ENTRY& e = info.aChannel[i];
    if (e.abValue[3] == 4) e.abValue[3] = 3;
    _SDK_DVR_CHANNEL_INFO& c = out->aChannel[i];
    CopyText(c.szName, sizeof c.szName, e.name);
    std::memcpy(c.abValue, e.abValue, 6);
    c.bValue7 = e.abValue[6];
  }
}

void CMSCopyHealthInfo(const CMS_HEALTH_INFO& info, _SDK_DVR_HEALTH_INFO* out) {
  std::memcpy(out->adwValue, info.ad1, sizeof out->adwValue);
  std::memcpy(out->awValue, info.aw2, sizeof out->awValue);
  out->adwValue2[0] = info.ad3[0];
  out->adwValue2[1] = info.ad3[1];
}

void CMSCopySearchStatus(const CMS_SEARCH_STATUS& status, _SDK_DVR_SEARCH_STATUS* out) {
  out->bValue0 = status.b1;
  out->bValue1 = status.b2;
}

CSocketCMS::~CSocketCMS() {
  if (!m_bClose) Close();
  m_pThread.Join();
}

int CSocketCMS::SetUp(int dvr_id, CMS_RECEIVE_CALLBACK callback, void* user) {
  m_nDvrId = dvr_id;
  m_pCallback = callback;
  m_pUser = user;
  return 1;
}

std::string CSocketCMS::GetLastError() const {
  std::lock_guard<std::mutex> lk(m_errorLock);
  return m_strLastError;
}

void CSocketCMS::SetLastError(const std::string& text) {
  std::lock_guard<std::mutex> lk(m_errorLock);
  m_strLastError = text;
}

void CSocketCMS::StartThread(const char* address, int port) {
  // A thread still running is told to stop and woken before it is joined: idle on an empty
  // queue it would otherwise never end, and the start would hang.
  {
    std::lock_guard<std::mutex> lk(m_socketLock);
    m_bClose = 1;
  }
  m_queueEvent.Set();
  m_socket.Close();
  m_pThread.Join();
  m_bClose = 0;
  m_bStarting = 1;
  m_strAddress = address ? address : "";
  m_nPort = port;
  if (!m_pThread.Start([this] { ReceiveWork(); })) {
    SetLastError("Thread failure");
    m_bStarting = 0;
  }
}

void CSocketCMS::Send(const uint8_t* packet, int length, SyncEvent* event) {
  if (!m_pThread.Exists() || !packet || length <= 0) {
    SetLastError("Control Socket is invalid");
    return;
  }
  {
    std::lock_guard<std::mutex> lk(m_queueLock);
    m_queue.push_back(Item{std::vector<uint8_t>(packet, packet + length), event});
  }
  m_queueEvent.Set();
}

void CSocketCMS::ReceiveWork() {
  set_current_thread_name("sdk requests");
  if (m_bClose) return;
  try {
    CSockAddr sa;
    CBlockingSocket::ResolveHost(m_strAddress.c_str(), uint16_t(m_nPort + 7), &sa);
    {
      std::lock_guard<std::mutex> lk(m_socketLock);
      if (m_bClose) {
        m_bStarting = 0;
        return;
      }
      m_socket.Create();
    }
    m_socket.Connect(sa, m_nTimeOut);
    m_socket.SetReceiveTimeOut(m_nTimeOut);
    m_socket.SetSendTimeOut(m_nTimeOut);
    m_bStarting = 0;
    m_bConnected = 1;
    uint8_t* buf = m_receiveBuffer.data();
    while (!m_bClose) {
      Item item;
      bool have = false;
      while (!have) {
        {
          std::lock_guard<std::mutex> lk(m_queueLock);
          if (!m_queue.empty()) {
            item = std::move(m_queue.front());
            m_queue.pop_front();
            have = true;
          }
        }
        if (have || m_bClose) break;
        m_queueEvent.Wait();
      }
      if (!have) break;
      CMS_HEADER sent{};
      CCMSPacket::ReadHeader(item.bytes.data(), item.bytes.size(), &sent);
      if (sent.command == CMS_NEVER_SENT_REQ) continue;
      m_socket.Write(item.bytes.data(), int(item.bytes.size()));
      if (m_socket.Read(buf, 12) < 12) break;
      CMS_HEADER h{};
      CCMSPacket::ReadHeader(buf, 12, &h);
      // Every reply's body is checked against the buffer before it is read, whatever its
      // command or flag word: one that does not fit ends the connection (the next request
      // starts a new one). A body that fits is always read, so the next reply starts in step.
      if (h.length > kReceiveBuffer - 12) {
        SetLastError("reply too long");
        debug_outputf("[SDK TRACE]-CMS reply 0x%08X of %u bytes dropped\n", h.command, h.length);
        break;
      }
      if (h.length > 0 && m_socket.Read(buf + 12, int(h.length)) < int(h.length)) break;
      // A header-only reply is never passed on; of the failed replies only a search start.
      const bool pass =
          h.flag == 1 ? h.command != kHeaderOnlyReply : h.command == kPassedWithoutFlag;
      if (pass && !m_bClose) {
        std::lock_guard<CriticalSection> lk(m_csCallback);
        if (m_pCallback)
          m_pCallback(h.command, buf, h.flag == 1 ? int(h.length + 12) : 12, m_pUser, m_nDvrId, -1);
      }
      if (item.event) item.event->Set();
    }
  } catch (const CBlockingSocketException& e) {
    SetLastError(e.GetErrorMessage());
    debug_output("[SDK TRACE]-Exception in Magic Socket \n");
    m_bStarting = 0;
  }
  m_bConnected = 0;
  m_socket.Close();
}

void CSocketCMS::Close() {
  m_bStarting = 0;
  bool closed;
  {
    std::lock_guard<std::mutex> lk(m_socketLock);
    closed = m_bClose.exchange(1);
  }
  if (closed) {
    debug_output("[SDK TRACE]-CSocketCMS::Close() returned by m_bClose(TRUE)\n");
    return;
  }
  m_queueEvent.Set();
  m_socket.Close();
  m_pThread.Join();
}
