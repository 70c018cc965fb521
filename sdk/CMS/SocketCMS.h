// The DVR control connection: CCMSPacket builds the CMS requests and reads their replies into
// records; CSocketCMS is one DVR's long-lived connection to its port + 7, on which one thread
// sends queued requests one at a time and hands each reply to the owner's receive callback.
//
// CMS packet: a 12-byte header of three big-endian u32 (command, flag, body length), then the
// body (big-endian; a string16 is a u16 length L and L bytes: the text and its NUL).
// Every reply reader sits on CByteReader: a body that does not fit is refused whole (result 0)
// and the caller's record stays as it was.
#pragma once

#include <atomic>
#include <cstdint>
#include <deque>
#include <mutex>
#include <string>
#include <vector>

#include "platform/sync/sync.h"
#include "sdk/Blocksock.h"
#include "sdk/OrvoSDK.h"

constexpr uint32_t CMS_SYSTEM_INFO_REQ = 0x7000F;
constexpr uint32_t CMS_HEALTH_REQ = 0x70200;
constexpr uint32_t CMS_SEARCH_START_REQ = 0x70100;
constexpr uint32_t CMS_SEARCH_STATUS_REQ = 0x70101;
constexpr uint32_t CMS_SEARCH_SET_REQ = 0x70102;
constexpr uint32_t CMS_NEVER_SENT_REQ = 0x70108;  // queued by callers but never sent

struct CMS_HEADER {
  uint32_t command, flag, length;
};

struct CMS_CHANNEL_ENTRY {
  std::string name;
  uint8_t abValue[7];
  uint32_t adwValue[4];
};

// 0xA007000F.
struct CMS_SYSTEM_INFO {
  CMS_HEADER header;
  uint8_t b1;
  uint32_t d2, d3;
  uint8_t nChannels;  // entries kept below: at most 16
  uint8_t b5, b6, b7;
  uint32_t d8;
  uint8_t b9, b10;
  uint16_t w11;
  uint32_t ad12[3];
  uint8_t ab13[3], ab14[3];
  uint8_t b15;
  uint8_t abAddress[5][4];
  uint16_t w17a, w17b;
  std::string s18;
  uint8_t b19;
  std::string s20;
  uint16_t w21;
  uint32_t ad22[4];
  CMS_CHANNEL_ENTRY aChannel[16];
  uint32_t ad24[4];
};

// 0xA0070200.
struct CMS_HEALTH_INFO {
  CMS_HEADER header;
  uint32_t ad1[6];
  uint16_t aw2[2];
  uint32_t ad3[4];
};

// 0xA0070101 (read only when the flag word is 1).
struct CMS_SEARCH_STATUS {
  CMS_HEADER header;
  uint8_t b1, b2;
  uint16_t w3;
};

// 0xA0070002.
struct CMS_INFO_A0070002 {
  CMS_HEADER header;
  uint8_t b1;
  std::string s2;
  uint32_t d3, d4;
  std::string s5, s6;
  uint8_t ab7[9];  // ab7[1]: the entry count
  uint32_t d8;
  uint8_t ab9[8];
  uint8_t ab10[5][4];
  uint8_t nEntries;  // entries kept: at most 16
  struct Entry {
    std::string text;
    uint8_t ab[4];
  } aEntry[16];
};

// 0xA0070003.
struct CMS_INFO_A0070003 {
  CMS_HEADER header;
  uint8_t b1, b2;
  uint32_t d3;
  uint8_t ab4[5];
  std::string s5, s6;
  uint32_t ad7[5];
  uint8_t nEntries;  // entries kept: at most 16
  struct Entry {
    uint8_t ab[4];
    uint32_t d1, d2;
    std::string s1, s2;
  } aEntry[16];
};

class CCMSPacket {
 public:
  static constexpr size_t kSize = 262144;

  CCMSPacket();

  // Writing: each put is big-endian and advances the position; a put past the buffer is
  // dropped and marks the packet failed.
  void PutU8(uint8_t v);
  void PutU16(uint16_t v);
  void PutU32(uint32_t v);
  void PutString16(const std::string& s);
  // The three header words; the length word is kept at position - 12.
  void PutHeader(uint32_t command, uint32_t flag);
  void EndRequest();
  const uint8_t* Data() const { return m_buffer.data(); }
  uint32_t Length() const { return m_nPos; }
  bool Ok() const { return !m_bFailed; }

  // The five requests (flag word 0).
  void MakeSystemInfoRequest(const std::string& user);
  void MakeHealthRequest();
  void MakeStartSearchRequest(uint32_t date, uint32_t time, uint8_t kind, uint8_t divide,
                              uint16_t channel);
  void MakeSearchStatusRequest();
  void MakeSetSearchStatusRequest(uint8_t status);

  // Reading a whole reply packet (header and body): 1 filled, 0 refused.
  static int ReadHeader(const uint8_t* packet, size_t length, CMS_HEADER* h);
  static int ReadSystemInfo(const uint8_t* packet, size_t length, CMS_SYSTEM_INFO* out);
  static int ReadHealthInfo(const uint8_t* packet, size_t length, CMS_HEALTH_INFO* out);
  static int ReadSearchStatus(const uint8_t* packet, size_t length, CMS_SEARCH_STATUS* out);
  static int ReadInfoA0070002(const uint8_t* packet, size_t length, CMS_INFO_A0070002* out);
  static int ReadInfoA0070003(const uint8_t* packet, size_t length, CMS_INFO_A0070003* out);

 private:
  std::vector<uint8_t> m_buffer;
  uint32_t m_nPos = 0;
  bool m_bFailed = false;
};

// The exported records filled from the kept replies. A channel entry whose kind (fourth
// byte) is 4 is delivered as 3, and the kept copy is changed too; texts are copied without
// their NUL, bounded by their fields.
void CMSCopyDvrInfo(CMS_SYSTEM_INFO& info, _SDK_DVR_INFO* out);
void CMSCopyHealthInfo(const CMS_HEALTH_INFO& info, _SDK_DVR_HEALTH_INFO* out);
void CMSCopySearchStatus(const CMS_SEARCH_STATUS& status, _SDK_DVR_SEARCH_STATUS* out);

// Called on the connection's thread, one call at a time, with the reply packet (header and
// body) and its length; extra is always -1.
using CMS_RECEIVE_CALLBACK = int (*)(uint32_t command, const uint8_t* packet, int length,
                                     void* user, int dvr_id, int extra);

// One DVR's control connection. Threads: the application's threads call Send, StartThread and
// Close; the connection's own thread alone reads and writes the socket and calls the callback
// (never while a close is under way). Close joins the thread, so it must not be called from
// the callback.
class CSocketCMS {
 public:
  // A reply (header and body) must fit: a longer one, of any command, ends the connection.
  static constexpr size_t kReceiveBuffer = 16384;
  static constexpr int kDefaultTimeOut = 30000;

  CSocketCMS() = default;
  ~CSocketCMS();
  CSocketCMS(const CSocketCMS&) = delete;
  CSocketCMS& operator=(const CSocketCMS&) = delete;

  int SetUp(int dvr_id, CMS_RECEIVE_CALLBACK callback, void* user);
  // (Re)starts the thread that connects to port + 7 of `address`; one still running is
  // stopped first.
  void StartThread(const char* address, int port);
  // Queues a copy of the packet; `event` (may be null) is set once its reply was handled.
  // Without a thread the packet is dropped with "Control Socket is invalid".
  void Send(const uint8_t* packet, int length, SyncEvent* event);
  void Close();
  // The receive and send time-out, and the connect limit (default 30000 ms).
  void SetTimeOut(int ms) { m_nTimeOut = ms; }

  int IsConnected() const { return m_bConnected; }
  int IsStarting() const { return m_bStarting; }
  std::string GetLastError() const;

 private:
  struct Item {
    std::vector<uint8_t> bytes;
    SyncEvent* event;
  };
  void ReceiveWork();
  void SetLastError(const std::string& text);

  WorkerThread m_pThread;
  CBlockingSocket m_socket;
  std::mutex m_socketLock;  // a close never misses a socket being created
  std::string m_strAddress;
  int m_nPort = 0;
  int m_nDvrId = -1;
  std::atomic<int> m_bClose{0};
  std::atomic<int> m_bConnected{0};
  std::atomic<int> m_bStarting{0};
  std::vector<uint8_t> m_receiveBuffer = std::vector<uint8_t>(kReceiveBuffer);
  std::mutex m_queueLock;
  std::deque<Item> m_queue;
  SyncEvent m_queueEvent{false, false};
  std::atomic<int> m_nTimeOut{kDefaultTimeOut};
  CMS_RECEIVE_CALLBACK m_pCallback = nullptr;
  void* m_pUser = nullptr;
  mutable std::mutex m_errorLock;
  std::string m_strLastError;
  CriticalSection m_csCallback;
};
