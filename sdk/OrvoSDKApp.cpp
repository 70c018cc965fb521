#include "sdk/OrvoSDKApp.h"

#include <algorithm>
#include <chrono>
#include <cstring>
#include <thread>

#include "platform/debug/debug_output.h"
#include "platform/net/net.h"
#include "platform/wire/byte_reader.h"

namespace {
// The fixed private address text of the log-on request (the DVR does not act on it).
constexpr const char* kLogOnAddress = "192.168.0.100";
constexpr uint32_t kRefusedUser = 0xF0010001;
constexpr uint32_t kRefusedPassword = 0xF0010003;

void CopyField(char* field, size_t size, const char* text) {
  std::strncpy(field, text ? text : "", size - 1);
  field[size - 1] = 0;
}

void PutBE32(uint8_t* p, uint32_t v) {
  p[0] = uint8_t(v >> 24);
  p[1] = uint8_t(v >> 16);
  p[2] = uint8_t(v >> 8);
  p[3] = uint8_t(v);
}

// Resolves as the SDK does everywhere (a dotted address is never looked up) and gives the
// dotted text: false when the name does not resolve.
bool ResolveText(const char* host, std::string* dotted) {
  try {
    CSockAddr sa;
    CBlockingSocket::ResolveHost(host, 0, &sa);
    char text[32];
    net_format_ipv4(sa.addr_be, text, sizeof text);
    *dotted = text;
    return true;
  } catch (const CBlockingSocketException&) { return false; }
}
}  // namespace

COrvoSDKApp::COrvoSDKApp() { InitWinSock(); }

COrvoSDKApp::~COrvoSDKApp() {
  Terminate();
  CleanupWinSock();
}

COrvoSDKApp& COrvoSDKApp::Instance() {
  // Never destroyed: at process exit the timer and socket services it uses may be gone
  // already; SDK_Terminate is where it stops.
  static COrvoSDKApp* app = new COrvoSDKApp;
  return *app;
}

int COrvoSDKApp::Initialize(SDK_INIT_CALLBACK callback, void* user, uint16_t event_port) {
  debug_outputf("[SDK TRACE]-Initialize() Start..... %d  \n", event_port);
  if (m_bInitialized) Terminate();  // a second Initialize starts afresh, nothing leaks
  Start(1000);
  {
    std::lock_guard<std::mutex> lk(m_tableLock);
    m_nIdCounter = 1000;
  }
  m_nTick = 0;
  m_pCallback = callback;
  m_pUser = user;
  {
    std::lock_guard<std::mutex> lk(m_pendingLock);
    m_pAnswerEvent = std::make_unique<SyncEvent>(false, false);
    m_dwPendingAnswer = 0xF000;
    m_nPendingDvr = -1;
  }
  m_bInitialized = 1;
  if (callback)
    m_eventServer.Start(
        callback, [this](const char* ip) { return FindDvrByAddress(ip); }, event_port);
  debug_output("[SDK TRACE]-Initialize() End..... \n");
  return 1;
}

void COrvoSDKApp::Terminate() {
  debug_output("[SDK TRACE]-Terminate()  Strat....\n");
  m_bInitialized = 0;
  {
    // An alive test under way must not hold the timer (and so this call) for its connect.
    std::lock_guard<std::mutex> lk(m_aliveLock);
    if (m_pAliveSocket) m_pAliveSocket->Close();
  }
  Stop();
  m_nTick = 0;
  {
    std::lock_guard<std::mutex> lk(m_pendingLock);
    if (m_pAnswerEvent) m_pAnswerEvent->Set();
  }
  // A request still waiting returns once released; then nobody uses the event.
  {
    std::lock_guard<std::mutex> lk(m_requestLock);
    std::lock_guard<std::mutex> lk2(m_pendingLock);
    m_pAnswerEvent.reset();
  }
  m_pCallback = nullptr;
  m_eventServer.Stop();
  std::list<std::shared_ptr<CClientSite>> sites;
  {
    std::lock_guard<std::shared_mutex> lk(m_siteLock);
    sites.swap(m_sites);
    m_siteIndex.clear();
  }
  for (auto& s : sites) s->Stop();
  sites.clear();
  {
    // Sessions a Close on another thread is stopping: their threads may still be inside the
    // application's callbacks, which must have ended when this returns. A session whose own
    // thread this is (a callback that terminates) may be waiting for this very thread.
    std::unique_lock<std::mutex> lk(m_closeLock);
    m_closeCv.wait(lk, [this] {
      for (const CClientSite* s : m_closing)
        if (!CClientSite::InsideOwnThread(s)) return false;
      return true;
    });
  }
  FlushDeferred();
  std::map<int, DVR_ENTRY> table;
  {
    std::lock_guard<std::mutex> lk(m_tableLock);
    table.swap(m_table);
  }
  for (auto& [id, e] : table)
    if (e.pObject) e.pObject->cms.Close();
  table.clear();
  debug_output("[SDK TRACE]-Terminate()  End....\n");
}

void COrvoSDKApp::DeferDelete(CClientSite* site) {
  std::lock_guard<std::mutex> lk(m_deferLock);
  m_deferred.push_back(site);
}

void COrvoSDKApp::FlushDeferred() {
  std::vector<CClientSite*> doomed;
  {
    std::lock_guard<std::mutex> lk(m_deferLock);
    doomed.swap(m_deferred);
  }
  for (CClientSite* s : doomed) {
    if (CClientSite::InsideOwnThread(s)) {
      // Its thread is this one (a callback that terminates): destroyed by a later flush.
      std::lock_guard<std::mutex> lk(m_deferLock);
      m_deferred.push_back(s);
    } else {
      delete s;  // joins the session's threads
    }
  }
}

std::vector<std::shared_ptr<CClientSite>> COrvoSDKApp::Sites() {
  std::shared_lock<std::shared_mutex> lk(m_siteLock);
  return {m_sites.begin(), m_sites.end()};
}

void COrvoSDKApp::NotifyApplication(int source, int code, void* data, const char* ip, int channel,
                                    int value) {
  // No lock is held across the call: the callback may close sessions, whose threads may be
  // on their way here. Terminate joins every library thread that could still call.
  SDK_INIT_CALLBACK cb = m_pCallback;
  if (value == -1 || !cb || !m_bInitialized) return;
  if (source == 1)
    debug_outputf("[SDK-TRACE] >> Send Notify Application Message Type(0x%08X) Ch(%d) IP(%s) \n",
                  unsigned(code), channel, ip ? ip : "");
  cb(source, code, data, ip, channel, value);
}

int COrvoSDKApp::FindDvrByAddress(const char* ip) {
  std::lock_guard<std::mutex> lk(m_tableLock);
  for (auto& [id, e] : m_table)
    if (ip && std::strcmp(e.szAddress, ip) == 0) return id;
  return -1;
}

int COrvoSDKApp::LogOnDVR(const char* host, const char* user, const char* password, int port,
                          int logon_flag) {
  uint32_t result = 0;
  CBlockingSocket s;
  try {
    CSockAddr sa;
    CBlockingSocket::ResolveHost(host, uint16_t(port), &sa);
    s.Create();
    s.Connect(sa, m_nIoTimeOut);
    s.SetReceiveTimeOut(kIoTimeOutMs);
    s.SetSendTimeOut(kIoTimeOutMs);
    const size_t nu = std::strlen(user), np = std::strlen(password),
                 na = std::strlen(kLogOnAddress);
    const uint32_t body = uint32_t(nu + np + na + 24);
    std::vector<uint8_t> pkt(12 + body);
    CByteWriter w(pkt.data(), pkt.size());
    w.U32BE(1);
    w.U32BE(0);
    w.U32BE(body);
    w.U16BE(uint16_t(nu + 1));
    w.Bytes(user, nu);
    w.U8(0);
    w.U16BE(uint16_t(np + 1));
    w.Bytes(password, np);
    w.U8(0);
    w.U8(0);
    w.U16BE(uint16_t(na + 1));
    w.Bytes(kLogOnAddress, na);
    w.U8(0);
    w.U32BE(0);
    w.U32BE(0);
    w.U8(0);
    w.U8(0);
    w.U32BE(uint32_t(logon_flag));
    s.Write(pkt.data(), int(pkt.size()));
    uint8_t h[12];
    const int got = s.Read(h, 12);
    CByteReader r(h, 12);
    const uint32_t number = r.U32BE();
    if (got == 12 && number == 0xA0000001) {
      result = r.U32BE();
      if (result != 1) debug_outputf("[SDK TRACE]-Error Num = %d \n", int(result));
    }
  } catch (const CBlockingSocketException&) {
    s.Cleanup();
    return result == kRefusedUser || result == kRefusedPassword ? -2 : -1;
  }
  s.Cleanup();
  if (result == kRefusedUser || result == kRefusedPassword) return -2;
  return result == 1 ? 1 : -1;  // a short or foreign reply is no log-on
}

bool COrvoSDKApp::WaitControl(DVR_OBJECT& obj) {
  if (!obj.cms.IsConnected() && !obj.cms.IsStarting())
    obj.cms.StartThread(obj.strAddress.c_str(), obj.nPort);
  const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(kControlConnectMs);
  while (!obj.cms.IsConnected() && obj.cms.IsStarting() && m_bInitialized &&
         std::chrono::steady_clock::now() < end)
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  return obj.cms.IsConnected();
}

int COrvoSDKApp::Connect(const char* host, const char* user, const char* password, int port,
                         int logon_flag, _SDK_DVR_INFO* info) {
  if (!m_bInitialized) return -1;
  if (logon_flag < 1) logon_flag = 1;
  if (!*host || !*user) return -1;
  std::string dotted;
  if (!ResolveText(host, &dotted)) return -1;
  const int logon = LogOnDVR(dotted.c_str(), user, password, port, logon_flag);
  if (logon < 0) return logon;

  auto obj = std::make_shared<DVR_OBJECT>();
  int id;
  {
    std::lock_guard<std::mutex> lk(m_tableLock);
    id = m_nIdCounter + 1;
    if (id == 0x7FFFFFFF) id = 1000;
    m_nIdCounter = id;
    DVR_ENTRY e;
    e.nDvrId = id;
    CopyField(e.szAddress, sizeof e.szAddress, dotted.c_str());
    CopyField(e.szUser, sizeof e.szUser, user);
    CopyField(e.szPassword, sizeof e.szPassword, password);
    e.wPort = uint16_t(port);
    e.nBusy = 1;
    e.pObject = obj;
    obj->nDvrId = id;
    obj->strAddress = dotted;
    obj->strUser = user;
    obj->strPassword = password;
    obj->nPort = port;
    obj->nLogOnFlag = logon_flag;
    obj->system.b1 = 0;
    obj->system.d2 = 19700101;
    obj->system.d3 = 4160;
    obj->system.nChannels = 4;
    obj->system.b5 = obj->system.b6 = obj->system.b7 = 4;
    obj->system.d8 = 255;
    obj->cms.SetUp(id, &COrvoSDKApp::OnCMSPacket, this);
    m_table[id] = e;
  }
  CCMSPacket req;
  req.MakeSystemInfoRequest(user);
  if (DvrRequest(id, Request::SystemInfo, req, info) == 1) {
    debug_outputf(
        "[SDK TRACE]-Connect :::::::::::::::::::::::: >>>>>>>>>>>>>>>>>>>>>> DVR ID(%d) \n", id);
    return id;
  }
  // A Disconnect of this id meanwhile took the entry and closes the connection itself.
  bool mine;
  {
    std::lock_guard<std::mutex> lk(m_tableLock);
    mine = m_table.erase(id) == 1;
  }
  if (mine) obj->cms.Close();
  return -1;
}

std::shared_ptr<DVR_OBJECT> COrvoSDKApp::FindObject(int dvr_id, DVR_ENTRY* copy) {
  std::lock_guard<std::mutex> lk(m_tableLock);
  auto it = m_table.find(dvr_id);
  if (it == m_table.end()) return nullptr;
  if (copy) *copy = it->second;
  return it->second.pObject;
}

int COrvoSDKApp::DvrRequest(int dvr_id, Request kind, const CCMSPacket& packet, void* out) {
  if (dvr_id < 0 || !m_bInitialized) return 0;
  DVR_ENTRY entry;
  std::shared_ptr<DVR_OBJECT> obj = FindObject(dvr_id, &entry);
  if (!obj) return 0;
  static constexpr uint32_t kReply[] = {0xA007000F, 0xA0070200, 0xA0070100, 0xA0070101, 0xA0070102};
  std::lock_guard<std::mutex> serial(m_requestLock);
  bool answered = false;
  if (m_bInitialized && WaitControl(*obj)) {
    SyncEvent* ev;
    {
      std::lock_guard<std::mutex> lk(m_pendingLock);
      ev = m_pAnswerEvent.get();
      m_dwPendingAnswer = 0xF000;
      m_nPendingDvr = dvr_id;
      m_dwPendingReply = kReply[int(kind)];
      if (ev) ev->Reset();
    }
    if (ev) {
      obj->cms.Send(packet.Data(), int(packet.Length()), nullptr);
      ev->Wait(kAnswerWaitMs);
    }
    std::lock_guard<std::mutex> lk(m_pendingLock);
    answered = m_dwPendingAnswer == 0 && m_bInitialized;
    m_nPendingDvr = -1;
    m_dwPendingReply = 0;
    if (answered && out) {
      switch (kind) {
        case Request::SystemInfo:
          CMSCopyDvrInfo(obj->system, static_cast<_SDK_DVR_INFO*>(out));
          break;
        case Request::Health:
          CMSCopyHealthInfo(obj->health, static_cast<_SDK_DVR_HEALTH_INFO*>(out));
          break;
        case Request::SearchStatus:
          CMSCopySearchStatus(obj->search, static_cast<_SDK_DVR_SEARCH_STATUS*>(out));
          break;
        default: break;
      }
    }
  }
  if (answered) return 1;
  NotifyApplication(1, 0x1000, nullptr, entry.szAddress, 0, dvr_id);
  return 0;
}

int COrvoSDKApp::OnCMSPacket(uint32_t command, const uint8_t* packet, int length, void* user,
                             int dvr_id, int extra) {
  if (user) static_cast<COrvoSDKApp*>(user)->OnReply(command, packet, length, dvr_id);
  return 0;
}

void COrvoSDKApp::OnReply(uint32_t command, const uint8_t* packet, int length, int dvr_id) {
  std::shared_ptr<DVR_OBJECT> obj = FindObject(dvr_id, nullptr);
  if (!obj) return;
  const size_t n = size_t(length);
  std::lock_guard<std::mutex> lk(m_pendingLock);
  int ok = 0;
  switch (command) {
    case 0xA007000F: ok = CCMSPacket::ReadSystemInfo(packet, n, &obj->system); break;
    case 0xA0070200: ok = CCMSPacket::ReadHealthInfo(packet, n, &obj->health); break;
    case 0xA0070101: ok = CCMSPacket::ReadSearchStatus(packet, n, &obj->search); break;
    case 0xA0070100:
    case 0xA0070102: ok = CCMSPacket::ReadHeader(packet, n, &obj->a0070100); break;
    case 0xA0070002: ok = CCMSPacket::ReadInfoA0070002(packet, n, &obj->info2); break;
    case 0xA0070003: ok = CCMSPacket::ReadInfoA0070003(packet, n, &obj->info3); break;
    default: return;
  }
  // Only the reply the waiting request expects, from its DVR, answers it.
  if (ok && dvr_id == m_nPendingDvr && command == m_dwPendingReply) {
    m_dwPendingAnswer = 0;
    if (m_pAnswerEvent) m_pAnswerEvent->Set();
  }
}

int COrvoSDKApp::Disconnect(int dvr_id) {
  if (dvr_id < 0) return -1;
  debug_outputf("[SDK TRACE]-Disconnect(DVR ID = %d) Start....OK\n", dvr_id);
  std::shared_ptr<DVR_OBJECT> obj;
  {
    std::lock_guard<std::mutex> lk(m_tableLock);
    if (m_table.empty()) {
      debug_outputf("[SDK TRACE]-Disconnect(DVR ID = %d) End....OK\n", dvr_id);
      return 0;
    }
    auto it = m_table.find(dvr_id);
    if (it == m_table.end()) return -1;
    obj = it->second.pObject;
    m_table.erase(it);
  }
  // Its requests are serialised: none is using the connection once we hold the lock.
  {
    std::lock_guard<std::mutex> serial(m_requestLock);
    if (obj) obj->cms.Close();
  }
  for (auto& s : Sites())
    if (s->DvrId() == dvr_id) Close(s.get());
  debug_outputf("[SDK TRACE]-Disconnect(DVR ID = %d) End....Ok\n", dvr_id);
  return 1;
}

std::shared_ptr<CClientSite> COrvoSDKApp::Open(int dvr_id, int channel,
                                               const SITE_OPEN_PARAM& param,
                                               SDK_OPEN_CALLBACK callback, int channel2, int live,
                                               void* user) {
  if (dvr_id < 0 || !m_bInitialized) return nullptr;
  DVR_ENTRY e;
  if (!FindObject(dvr_id, &e)) return nullptr;
  // A session is destroyed by its last holder; when that is one of the session's own
  // threads (a callback closed it), the next timer tick destroys it instead.
  std::shared_ptr<CClientSite> site(new CClientSite(this), [this](CClientSite* s) {
    if (CClientSite::InsideOwnThread(s))
      DeferDelete(s);
    else
      delete s;
  });
  {
    // Listed first: the stream may start (and its callback run) before Start returns.
    std::lock_guard<std::shared_mutex> lk(m_siteLock);
    m_sites.push_back(site);
    m_siteIndex[site.get()] = site;
  }
  if (!site->Start(e.szAddress, channel, e.szUser, e.szPassword, e.wPort, param, callback, channel2,
                   live, user)) {
    Close(site.get());
    return nullptr;
  }
  // The password stays out of the trace.
  debug_outputf("[SDK TRACE] -Open Info >>> Channe(%d), UserID(%s), Pwd(%s), Prt(%d) \n", channel,
                e.szUser, "****", int(e.wPort));
  return site;
}

std::shared_ptr<CClientSite> COrvoSDKApp::FindSite(void* handle) {
  if (!m_bInitialized || !handle) return nullptr;
  // Shared: every GetPacket of every session looks its session up here.
  std::shared_lock<std::shared_mutex> lk(m_siteLock);
  auto it = m_siteIndex.find(handle);
  return it == m_siteIndex.end() ? nullptr : it->second;
}

int COrvoSDKApp::Close(void* handle) {
  std::shared_ptr<CClientSite> site;
  {
    // Unlisted and marked closing in one step: Terminate sees the session in one or the other.
    std::lock_guard<std::shared_mutex> lk(m_siteLock);
    for (auto it = m_sites.begin(); it != m_sites.end(); ++it)
      if (it->get() == handle) {
        site = *it;
        m_sites.erase(it);
        m_siteIndex.erase(handle);
        std::lock_guard<std::mutex> lk2(m_closeLock);
        m_closing.push_back(site.get());
        break;
      }
  }
  if (!site) return 0;
  debug_outputf("[SDK TRACE]-Close(%s) Channel(%d) Start..... \n", site->Address().c_str(),
                site->Channel());
  site->Stop();
  debug_outputf("[SDK TRACE] -Close(%s) Channel(%d) End..... \n", site->Address().c_str(),
                site->Channel());
  // Let go first: as the last holder this destroys the session (joining its threads) or, on
  // one of its own threads, defers that to a flush, which a Terminate waiting here then runs.
  const CClientSite* key = site.get();
  site.reset();
  {
    std::lock_guard<std::mutex> lk(m_closeLock);
    m_closing.erase(std::find(m_closing.begin(), m_closing.end(), key));
  }
  m_closeCv.notify_all();
  return 1;
}

int COrvoSDKApp::GetDVRSystemInfo(int dvr_id, _SDK_DVR_INFO* info) {
  DVR_ENTRY e;
  if (!FindObject(dvr_id, &e)) return 0;
  CCMSPacket req;
  req.MakeSystemInfoRequest(e.szUser);
  return DvrRequest(dvr_id, Request::SystemInfo, req, info);
}

int COrvoSDKApp::GetDVRHealthInfo(int dvr_id, _SDK_DVR_HEALTH_INFO* health) {
  CCMSPacket req;
  req.MakeHealthRequest();
  return DvrRequest(dvr_id, Request::Health, req, health);
}

int COrvoSDKApp::StartRemoteSearch(int dvr_id, int date, int time, char kind, char divide,
                                   int channel) {
  CCMSPacket req;
  req.MakeStartSearchRequest(uint32_t(date), uint32_t(time), uint8_t(kind), uint8_t(divide),
                             uint16_t(channel));
  return DvrRequest(dvr_id, Request::SearchStart, req, nullptr);
}

int COrvoSDKApp::GetSearchStatus(int dvr_id, _SDK_DVR_SEARCH_STATUS* status) {
  CCMSPacket req;
  req.MakeSearchStatusRequest();
  return DvrRequest(dvr_id, Request::SearchStatus, req, status);
}

int COrvoSDKApp::SetSearchStatus(int dvr_id, int status) {
  CCMSPacket req;
  req.MakeSetSearchStatusRequest(uint8_t(status));
  return DvrRequest(dvr_id, Request::SearchSet, req, nullptr);
}

int COrvoSDKApp::RecordRequest(int dvr_id, uint32_t number, uint32_t date, uint32_t value,
                               uint32_t reply, std::vector<uint8_t>* body) {
  DVR_ENTRY e;
  if (!m_bInitialized || !FindObject(dvr_id, &e) || !e.szAddress[0]) return 0;
  CBlockingSocket s;
  try {
    CSockAddr sa;
    CBlockingSocket::ResolveHost(e.szAddress, uint16_t(e.wPort + 7), &sa);
    s.Create();
    s.Connect(sa, m_nIoTimeOut);
    s.SetReceiveTimeOut(m_nIoTimeOut);
    s.SetSendTimeOut(m_nIoTimeOut);
    uint8_t pkt[20];
    PutBE32(pkt, number);
    PutBE32(pkt + 4, 0);
    PutBE32(pkt + 8, number == 0x00040006 ? 12 : 8);
    PutBE32(pkt + 12, date);
    PutBE32(pkt + 16, value);
    s.Write(pkt, sizeof pkt);
    uint8_t h[12];
    if (s.Read(h, 12) < 12) throw CBlockingSocketException("Receive", 10060);
    CByteReader r(h, 12);
    const uint32_t got = r.U32BE(), flag = r.U32BE(), length = r.U32BE();
    const uint32_t room = reply == 0xA0040006 ? 12 : uint32_t(kRecordReplyLimit);
    if (got != reply || flag != 1 || length > room) {
      s.Cleanup();
      return 0;
    }
    body->assign(length, 0);
    if (length && s.Read(body->data(), int(length)) < int(length)) {
      s.Cleanup();
      return 0;
    }
  } catch (const CBlockingSocketException&) {
    debug_output("[SDK TRACE]-Exception in control socket Thread\n");
    s.Cleanup();
    return 0;
  }
  s.Cleanup();
  return 1;
}

int COrvoSDKApp::GetDayOfMonthlyRecord(int dvr_id, int value, int year, int month,
                                       unsigned long* days) {
  if (month < 1 || month > 12 || year < 1970 || year > 2038) return 0;
  std::vector<uint8_t> body;
  const uint32_t date = uint32_t(year * 10000 + month * 100 + 1);
  if (!RecordRequest(dvr_id, 0x00040006, date, uint32_t(value), 0xA0040006, &body)) return 0;
  if (body.size() < 4) return 0;  // a reply shorter than its mask fills nothing
  CByteReader r(body.data(), body.size());
  *days = r.U32BE();
  return 1;
}

int COrvoSDKApp::GetRecordInfo(int dvr_id, int channel, int date, _SDK_REC_TIMETABLE* table) {
  if (channel < 0 || channel > 15) return 0;
  std::vector<uint8_t> body;
  if (!RecordRequest(dvr_id, 0x00040004, uint32_t(date), 1u << channel, 0xA0040004, &body))
    return 0;
  if (body.size() < sizeof table->abSlot) return 0;
  std::memcpy(table->abSlot, body.data(), sizeof table->abSlot);
  return 1;
}

int COrvoSDKApp::GetRecordInfoAllChannel(int dvr_id, int channel_count, int date,
                                         _SDK_REC_TIMETABLE_EX* table) {
  if (channel_count < 0 || channel_count > 16) return 0;
  const uint32_t mask = channel_count == 0 ? 0 : uint32_t((uint64_t(1) << channel_count) - 1);
  std::vector<uint8_t> body;
  if (!RecordRequest(dvr_id, 0x00040004, uint32_t(date), mask, 0xA0040004, &body)) return 0;
  if (body.size() < size_t(channel_count) * 240) return 0;
  for (int c = 0; c < 16; ++c) {
    if (c < channel_count)
      std::memcpy(table->aChannel[c].abSlot, body.data() + c * 240, 240);
    else
      std::memset(table->aChannel[c].abSlot, 0, 240);
  }
  return 1;
}

void COrvoSDKApp::OnTimer() {
  FlushDeferred();
  if (!m_bInitialized) return;
  if (++m_nTick >= kAliveTicks) {
    m_nTick = 0;
    AliveTest();
  }
  for (auto& s : Sites()) {
    if (!m_bInitialized) break;
    s->OnTimer();
  }
}

void COrvoSDKApp::AliveTest() {
  std::vector<DVR_ENTRY> entries;
  {
    std::lock_guard<std::mutex> lk(m_tableLock);
    for (auto& [id, e] : m_table)
      if (e.nDvrId == id) entries.push_back(e);
  }
  for (const DVR_ENTRY& e : entries) {
    if (!m_bInitialized) return;
    bool alive = false;
    if (e.szAddress[0]) {
      for (int attempt = 0; attempt < 2 && !alive && m_bInitialized; ++attempt) {
        CBlockingSocket s;
        try {
          CSockAddr sa;
          CBlockingSocket::ResolveHost(e.szAddress, uint16_t(e.wPort + 7), &sa);
          {
            std::lock_guard<std::mutex> lk(m_aliveLock);
            if (!m_bInitialized) break;
            s.Create();
            m_pAliveSocket = &s;
          }
          s.Connect(sa, m_nIoTimeOut);
          alive = true;
        } catch (const CBlockingSocketException&) {
          debug_output("[SDK TRACE]-Exception in alive check socket Thread\n");
        }
        std::lock_guard<std::mutex> lk(m_aliveLock);
        m_pAliveSocket = nullptr;
        s.Cleanup();
      }
      debug_outputf("[SDK TRACE]- Alive Check IP (%s)  = is Alive ? %d \n", e.szAddress,
                    alive ? 1 : 0);
    }
    if (!alive && m_bInitialized) {
      for (auto& s : Sites())
        if (s->DvrId() == e.nDvrId) s->ReleaseFrameWait();
      NotifyApplication(1, 0x1000, nullptr, e.szAddress, 0, e.nDvrId);
    }
  }
}
