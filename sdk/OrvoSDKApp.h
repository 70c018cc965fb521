// COrvoSDKApp: OrvoSDK's one application object, a process-wide object behind every export. It
// owns the DVR table (one entry per connected DVR, keyed by DVR id), the open sessions, the
// event server and the application callback; it runs the log-on exchange of SDK_Connect, the
// DVR-level requests on each DVR's control connection, the recording-information requests on
// connections of their own, and a 1000 ms timer: session upkeep every tick, the DVR alive test
// every 20th.
//
// Threads and locks: m_tableLock guards the DVR table and the id counter, m_siteLock the
// session list; neither is held across network I/O or a callback. m_requestLock serialises
// the DVR-level requests with their 7000 ms answer wait (they share one answer event); a
// reply wakes the waiter only when it is the expected reply of the waiting DVR. Sessions are
// held by shared pointers: an export, the upkeep and the alive test hold one while they use
// a session, so SDK_Close (which unlists and stops it) never frees it under them; the last
// holder destroys it, or, when that is one of the session's own threads, the next tick.
// Terminate returns once every session is stopped, those a Close on another thread is
// stopping too, so no library thread calls the application after it; called on a session's
// own thread (a callback, which the callbacks' contract forbids) it does not wait for that
// session, whose Stop may be waiting for the caller.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <list>
#include <map>
#include <memory>
#include <mutex>
#include <shared_mutex>
#include <string>
#include <unordered_map>
#include <vector>

#include "platform/sync/sync.h"
#include "sdk/CMS/SocketCMS.h"
#include "sdk/ClientSite.h"
#include "sdk/EventServer.h"
#include "sdk/MultimediaTimer.h"
#include "sdk/OrvoSDK.h"

// One connected DVR's object: its control connection and the last reply of each CMS kind.
struct DVR_OBJECT {
  int nDvrId = 0;
  int32_t nValue1 = -1;
  std::string strAddress, strUser, strPassword, strFourth;
  int nPort = 9010;
  int32_t nValue2 = 10000;
  int nLogOnFlag = 1;
  CSocketCMS cms;
  CMS_HEADER a0070002{}, a0070003{}, a0070100{};
  CMS_INFO_A0070002 info2{};
  CMS_INFO_A0070003 info3{};
  CMS_SYSTEM_INFO system{};
  CMS_HEALTH_INFO health{};
  CMS_SEARCH_STATUS search{};
};

struct DVR_ENTRY {
  int nDvrId = 0;
  char szAddress[260] = {};
  char szUser[260] = {};
  char szPassword[260] = {};
  uint16_t wPort = 0;
  int nBusy = 0;
  std::shared_ptr<DVR_OBJECT> pObject;
};

class COrvoSDKApp : public CMultimediaTimer {
 public:
  static constexpr uint32_t kAnswerWaitMs = 7000;
  static constexpr int kAliveTicks = 20;
  static constexpr int kIoTimeOutMs = 4000;       // log-on, recording and alive-test I/O
  static constexpr int kControlConnectMs = 7000;  // Connect's wait for its control connection
  static constexpr size_t kRecordReplyLimit = 8192;

  COrvoSDKApp();
  ~COrvoSDKApp() override;
  COrvoSDKApp(const COrvoSDKApp&) = delete;
  COrvoSDKApp& operator=(const COrvoSDKApp&) = delete;

  // The process-wide object.
  static COrvoSDKApp& Instance();

  int Initialize(SDK_INIT_CALLBACK callback, void* user, uint16_t event_port);
  void Terminate();
  int IsInitialized() const { return m_bInitialized; }

  int Connect(const char* host, const char* user, const char* password, int port, int logon_flag,
              _SDK_DVR_INFO* info);
  // 1 accepted, -2 refused (0xF0010001, 0xF0010003), -1 unreachable, short or foreign reply.
  int LogOnDVR(const char* host, const char* user, const char* password, int port, int logon_flag);
  int Disconnect(int dvr_id);

  std::shared_ptr<CClientSite> Open(int dvr_id, int channel, const SITE_OPEN_PARAM& param,
                                    SDK_OPEN_CALLBACK callback, int channel2, int live, void* user);
  // 1 closed, 0 not in the list.
  int Close(void* handle);
  std::shared_ptr<CClientSite> FindSite(void* handle);

  int GetDVRSystemInfo(int dvr_id, _SDK_DVR_INFO* info);
  int GetDVRHealthInfo(int dvr_id, _SDK_DVR_HEALTH_INFO* health);
  int StartRemoteSearch(int dvr_id, int date, int time, char kind, char divide, int channel);
  int GetSearchStatus(int dvr_id, _SDK_DVR_SEARCH_STATUS* status);
  int SetSearchStatus(int dvr_id, int status);
  int GetDayOfMonthlyRecord(int dvr_id, int value, int year, int month, unsigned long* days);
  int GetRecordInfo(int dvr_id, int channel, int date, _SDK_REC_TIMETABLE* table);
  int GetRecordInfoAllChannel(int dvr_id, int channel_count, int date,
                              _SDK_REC_TIMETABLE_EX* table);

  void NotifyApplication(int source, int code, void* data, const char* ip, int channel, int value);
  // The DVR id whose address is `ip`, or -1.
  int FindDvrByAddress(const char* ip);
  static int OnCMSPacket(uint32_t command, const uint8_t* packet, int length, void* user,
                         int dvr_id, int extra);

  void OnTimer() override;
  // The alive test's connect limit (tests shorten it).
  void SetIoTimeOut(int ms) { m_nIoTimeOut = ms; }
  // Sessions whose last holder was one of their own threads: destroyed on the next tick.
  void DeferDelete(CClientSite* site);

 private:
  enum class Request { SystemInfo, Health, SearchStart, SearchStatus, SearchSet };
  int DvrRequest(int dvr_id, Request kind, const CCMSPacket& packet, void* out);
  void OnReply(uint32_t command, const uint8_t* packet, int length, int dvr_id);
  bool WaitControl(DVR_OBJECT& obj);
  int RecordRequest(int dvr_id, uint32_t number, uint32_t date, uint32_t value, uint32_t reply,
                    std::vector<uint8_t>* body);
  void AliveTest();
  void FlushDeferred();
  std::shared_ptr<DVR_OBJECT> FindObject(int dvr_id, DVR_ENTRY* copy);
  std::vector<std::shared_ptr<CClientSite>> Sites();

  std::atomic<int> m_bInitialized{0};
  std::atomic<SDK_INIT_CALLBACK> m_pCallback{nullptr};
  void* m_pUser = nullptr;
  std::mutex m_aliveLock;
  CBlockingSocket* m_pAliveSocket = nullptr;  // the alive test's connect, closed by Terminate

  std::shared_mutex m_siteLock;  // shared by the look-ups
  std::list<std::shared_ptr<CClientSite>> m_sites;
  // The same sessions by handle: every export looks its handle up, GetPacket once a frame.
  std::unordered_map<const void*, std::shared_ptr<CClientSite>> m_siteIndex;
  // Sessions a Close has unlisted and is stopping (compared only): Terminate waits for them.
  std::mutex m_closeLock;  // after m_siteLock
  std::condition_variable m_closeCv;
  std::vector<const CClientSite*> m_closing;
  std::mutex m_deferLock;
  std::vector<CClientSite*> m_deferred;

  std::mutex m_tableLock;
  std::map<int, DVR_ENTRY> m_table;
  int m_nIdCounter = 1000;

  std::mutex m_requestLock;
  std::mutex m_pendingLock;
  uint32_t m_dwPendingAnswer = 0xF000;
  int m_nPendingDvr = -1;
  uint32_t m_dwPendingReply = 0;
  void* m_pPendingOut = nullptr;
  std::unique_ptr<SyncEvent> m_pAnswerEvent;

  CEventServer m_eventServer;
  std::atomic<int> m_nTick{0};
  std::atomic<int> m_nIoTimeOut{kIoTimeOutMs};
};
