// CDSFSource: the network side of one client session. For one channel of one DVR it logs on
// (log-on thread), keeps a control connection for requests and replies (control thread) and a
// data connection on which the DVR streams the channel (data thread), and runs each DVR setup
// exchange on a short connection of its own. It reports to its session through
// CDSFSourceOwner: every packet received, status codes, and the end of a recording.
//
// Threads: the three worker threads belong to the source and are joined by WaitStop (or the
// destructor). Stop may run on any thread and ends all three promptly: it closes the sockets,
// wakes the control thread's queue wait and releases a thread waiting to deliver. Packets
// reach the owner one at a time (delivery lock); status codes one at a time (status lock);
// both locks are re-entrant, and a thread waiting at either gives up once the source stops.
// While a caller waits for a live frame, the data thread lends the data connection to the
// owner's callers (ReadForOwner): the caller that waits receives and hands out the frames on
// its own thread, so a frame costs one wake-up instead of two; the data thread takes the
// connection back for every other packet, a failure, a silent DVR, the stop, or once no
// caller has read for kCallerIdleMs, a live frame interval (beyond a few frames the DVR would
// wait on a connection nobody reads). One watcher thread for all sources looks for idle lent
// connections; it runs while one is lent and is joined when the last is taken back.
// The owner may call Stop and WaitStop from its callbacks (WaitStop never joins the calling
// thread) but must not destroy the source there.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <optional>
#include <span>
#include <string>
#include <thread>
#include <vector>

#include "platform/sync/sync.h"
#include "sdk/Blocksock.h"

// The framing of one DSF connection, without I/O: a 12-byte header (number, result, payload
// length; big-endian), then its body. Bytes are received straight into the framer (Space,
// then Commit with what arrived), as many as the socket has, so one receive may bring a
// header with its body, or several packets; Next hands each complete packet out in place.
// How much body follows a header is the connection's rule: the whole payload, fewer bytes for
// some results, or none (kNoBody: the header alone, after which the connection ends). A body
// longer than the framer's limit is read past as it arrives and reported as skipped.
// One thread; a packet handed out stays valid until the next Space.
class CDSFFramer {
 public:
  struct Header {
    uint32_t number, result, length;
  };
  static constexpr uint32_t kNoBody = 0xFFFFFFFFu;
  using BodyRule = uint32_t (*)(const Header& h, int state);
  enum Result { NEED_MORE, PACKET, SKIPPED };

  // `max_body`: the largest body handed out whole; `read_ahead`: room beyond one packet.
  CDSFFramer(size_t max_body, size_t read_ahead);
  // Where the next receive goes and how many bytes it may take (never 0).
  uint8_t* Space(size_t* room);
  void Commit(size_t n);
  // The next packet: PACKET with its header, body and body length (body null for kNoBody),
  // SKIPPED with its header once a body past the limit has been read past, or NEED_MORE.
  // `rule` (with `state`, the caller's phase) gives the body length of each new header.
  Result Next(BodyRule rule, int state, Header* h, const uint8_t** body, uint32_t* length);

 private:
  std::vector<uint8_t> m_buffer;
  size_t m_nMaxBody;
  size_t m_nBegin = 0, m_nEnd = 0;
  bool m_bHeader = false;  // m_header read, its body (m_nBody bytes) pending
  Header m_header{};
  uint32_t m_nBody = 0;
  uint64_t m_nSkip = 0;  // bytes still to read past
};

// What the session (CClientSite) receives from its source. Called on the source's threads.
class CDSFSourceOwner {
 public:
  // A reply on the control connection (its number, payload and length) or a packet of the
  // data connection (payload straight from the frame buffer, valid during the call only).
  virtual void OnPacket(uint32_t number, const uint8_t* data, int length) = 0;
  // A status code (CDSFSource::STATUS_*).
  virtual void OnStatus(int code) = 0;
  // The data connection reported the end of the recording (0xF00A0006).
  virtual void OnRecordEnd() = 0;
  // The data connection hands over the packets of one receive (`begins` true) and has handed
  // them all, before it waits for more (false): wake-ups may be held for the end.
  virtual void OnBurst(bool begins) {}
  // A caller waits for a packet: the data thread then lends the connection (live only).
  virtual bool CallerWaiting() { return false; }
  // The connection was lent or given back by a caller: a waiting caller may read it now.
  virtual void OnReaderFree() {}

 protected:
  ~CDSFSourceOwner() = default;
};

class CDSFSource {
 public:
  // Status codes reported to the owner.
  static constexpr int STATUS_DATA_ACCEPTED = 0x1;
  static constexpr int STATUS_REFUSED = 0x4;
  static constexpr int STATUS_SOCKET_FAILED = 0x10;
  static constexpr int STATUS_CONNECT_FAILED = 0x20;
  static constexpr int STATUS_DATA_FAILED = 0x40;
  static constexpr int STATUS_NO_REQUEST = 0x100;
  static constexpr int STATUS_FILE_NOT_FOUND = 0x200;
  static constexpr int STATUS_TIMED_OUT = 0x400;
  static constexpr int STATUS_MAX_CHANNEL = 0x2000;

  static constexpr int kControlBuffer = 8192;  // 12-byte header + 8180 payload bytes
  static constexpr int kFrameBuffer = 65536;   // 12-byte header + 65524 payload bytes
  static constexpr size_t kSetupReplyLimit = 262144;
  // A lent data connection with no caller reading for this long goes back to the data thread:
  // a frame interval at 25 frames a second.
  static constexpr int kCallerIdleMs = 40;
  enum ReadResult { READ_DONE, READ_TIMED_OUT, READ_WOKEN, READ_UNAVAILABLE };

  enum Port {
    PORT_LOGON,
    PORT_LIVE_CONTROL,
    PORT_LIVE_DATA,
    PORT_PLAYBACK_CONTROL,
    PORT_PLAYBACK_DATA,
    PORT_SETUP,
    PORT_COUNT
  };

  CDSFSource();
  ~CDSFSource();
  CDSFSource(const CDSFSource&) = delete;
  CDSFSource& operator=(const CDSFSource&) = delete;

  // Keeps the owner, live flag, base port and open value B; clears the stop flag; sets the
  // ports. Returns 1.
  int Initialize(CDSFSourceOwner* owner, int live, int base_port, uint32_t open_value_b);
  // Keeps the texts and values (a playback range {start, end} makes the source a playback
  // one, none a live one) and starts the log-on thread: 1, or 0 with "Log on thread failure".
  int LogOn(const char* address, const char* user, const char* password, const char* address_again,
            uint8_t channel, const uint32_t* playback_range, uint32_t open_value_a);
  // Closes the log-on socket and starts the control thread (nothing once stopping).
  void StartControl();
  // Keeps the data request value and starts the data thread: 1, or 0 with "D-Thread failure".
  int StartData(uint32_t value);
  // Queues a request for the control thread; its reply sets `answer`. 1 queued; 0 with
  // "Control Socket is invalid" when the control thread does not run or the source failed.
  int SendCommand(const uint8_t* packet, int length, SyncEvent* answer);
  // One setup exchange on the calling thread over a connection of its own; a reply with
  // result 1 goes to the owner's OnPacket. `answer` is set when the exchange ends, whatever
  // its outcome. 1, or 0 with "Control Socket is invalid" when the source failed.
  int SendSetupCommand(const uint8_t* packet, int length, SyncEvent* answer);
  void Stop();
  // On an owner's caller thread: receives the lent live data connection for up to
  // `timeout_ms` and delivers its packets (OnPacket, OnBurst) on this thread until `done()`
  // holds after a receive's packets: READ_DONE; READ_TIMED_OUT; READ_WOKEN (WakeReader);
  // READ_UNAVAILABLE when the connection is not lent now (the data thread or another caller
  // has it; wait for OnReaderFree or a frame) or a packet other than a `number` frame with
  // result 1, or a failure, came (left to the data thread). Never blocks past `timeout_ms`.
  ReadResult ReadForOwner(uint32_t number, int timeout_ms, const std::function<bool()>& done);
  // The connection is lent and free, so ReadForOwner may get it (owner's lock order only).
  bool ReaderFree() const;
  // Ends a ReadForOwner under way with READ_WOKEN (a signal while none runs ends the next).
  void WakeReader() { m_waker.signal(); }
  // Joins the worker threads (never the calling one), empties the send queue (setting the
  // answer events of requests that will not be sent), channel 255, no frame length.
  void WaitStop();
  int GetLastError(std::string* text) const;
  // The text of a DVR result code: its entry in ResultTexts, else "Really unknown error:
  // 0x%.8X". Any thread.
  static std::string GetErrorMessage(uint32_t code);
  struct ResultText {
    uint32_t code;
    const char* text;
  };
  // Every result code with a text of its own (static storage).
  static std::span<const ResultText> ResultTexts();
  // Reports a status code to the owner, one at a time: a code with a bit of 0xF000 only
  // once, and not while stopping (it marks the source failed); others always.
  void ReportStatus(int code);

  // The time-outs of every connection (defaults 60000 ms receive, 25000 ms send and connect)
  // and the first wait for a request after the control log-on (60000 ms).
  void SetTimeOuts(int receive_ms, int send_ms, int first_request_ms);
  uint16_t GetPort(Port which) const { return m_wPort[which]; }
  uint8_t GetChannel() const { return m_nChannel; }
  std::string GetServerAddress() const;
  int IsFailed() const { return m_bFailed; }

  // The session packets the source sends: 0x00000001 log-on, 0x00000002 control log-on,
  // 0x007F0002 data log-on. Writes at most `capacity` bytes: the packet's length, or 0.
  int BuildSessionPacket(uint32_t number, uint8_t* out, size_t capacity) const;
  // The body that follows a header on the log-on (state 0), control (state 1 before the
  // control log-on's reply, 2 after) and data connections (state 0 for its log-on reply, 1
  // after): CDSFFramer rules. A failed result ends log-ons with its header alone; later
  // failed control replies are read past; on the data connection a skipped frame carries
  // one byte and any result but success, skip and end of recording ends it.
  static uint32_t LogOnBody(const CDSFFramer::Header& h, int state);
  static uint32_t ControlBody(const CDSFFramer::Header& h, int state);
  static uint32_t DataBody(const CDSFFramer::Header& h, int state);

  // Whether the DVR's own address from the log-on reply replaces the given one: not for
  // private addresses (behind NAT the given address is the way in), 0.0.0.0, 0.x, 127.x,
  // multicast, broadcast or a text that is no dotted IPv4 address.
  static bool UseOwnAddress(const char* own);

 private:
  struct Item {
    std::vector<uint8_t> bytes;
    SyncEvent* answer;
  };
  // A re-entrant lock whose waiters give up once the source stops.
  class Gate {
   public:
    bool Enter(const std::atomic<int>& stop);
    void Leave();
    void Wake();

   private:
    std::mutex m_lock;
    std::condition_variable m_cv;
    std::thread::id m_owner;
    int m_nDepth = 0;
  };

  void LogOnWork();
  void ControlWork();
  void DataWork();
  void Connect(CBlockingSocket& s, uint16_t port, bool large_receive_buffer);
  bool TakeQueued(Item* item, uint32_t timeout_ms);
  void Deliver(uint32_t number, const uint8_t* data, int length);
  int FailureStatus(const CBlockingSocketException& e, bool connected);
  // Receives into `f` until it has a packet (throws as the socket does).
  static CDSFFramer::Result Receive(CBlockingSocket& s, CDSFFramer& f, CDSFFramer::BodyRule rule,
                                    int state, CDSFFramer::Header* h, const uint8_t** body,
                                    uint32_t* length);
  void SetError(const std::string& text);
  // Data thread: the next packet of its own or handed back by a caller (true), or false after
  // a receive or a lending (call again). Throws as the socket does.
  bool NextDataPacket(CDSFFramer& f, CDSFFramer::Result* got, CDSFFramer::Header* h,
                      const uint8_t** body, uint32_t* length);
  struct LendWatch;
  bool LendToCallers();
  // One receive of the data connection into `f` (its reader's thread); throws as the socket.
  void ReceiveData(CDSFFramer& f);
  void ReclaimReader(int state);

  CDSFSourceOwner* m_pOwner = nullptr;
  WorkerThread m_pLogOnThread, m_pControlThread, m_pDataThread;
  CBlockingSocket m_sockLogOn, m_sockControl, m_sockData, m_sockSetup;
  std::mutex m_setupLock;  // one setup exchange at a time
  std::mutex m_startLock;  // thread starts and socket creation against Stop

  mutable std::mutex m_errorLock;
  std::string m_strLastError;

  uint16_t m_wPort[PORT_COUNT] = {};
  mutable std::mutex m_serverLock;
  std::string m_strServer;  // replaced after log-on by the DVR's own address
  std::string m_strUser, m_strPassword, m_strAddressGiven;
  std::string m_strReply1, m_strReply2;
  uint8_t m_bReplyByte = 0;

  std::atomic<int> m_bLive{1};
  uint32_t m_dwPlaybackStart = 0xFFFFFFFF, m_dwPlaybackEnd = 0xFFFFFFFF;
  std::atomic<uint8_t> m_nChannel{255};
  uint32_t m_dwOpenA = 0xFFFFFFFF, m_dwOpenB = 1;
  uint32_t m_dwDataRequest = 0;

  std::atomic<int> m_nReceiveTimeOut{60000}, m_nSendTimeOut{25000}, m_nFirstRequest{60000};
  std::atomic<int> m_bStop{0}, m_bFailed{0};

  std::mutex m_queueLock;
  std::deque<Item> m_queue;
  SyncEvent m_queueEvent{false, false};

  Gate m_csDeliver, m_csStatus;

  // Who reads the data connection: READER_DATA the data thread, READER_FREE lent and free,
  // READER_CALLER a caller in ReadForOwner, READER_NONE no data loop runs.
  enum { READER_NONE, READER_DATA, READER_FREE, READER_CALLER };
  std::atomic<int> m_nReader{READER_NONE};
  CDSFFramer* m_pDataFramer = nullptr;  // valid while m_nReader is not READER_NONE
  std::atomic<int> m_bReclaim{0};       // the data thread wants the connection back
  std::atomic<int> m_bHanded{0};        // a caller left a packet or a failure to it
  bool m_bReceiveFirst = false;         // data thread: taken back from idle callers
  struct HandedPacket {
    CDSFFramer::Result got;
    CDSFFramer::Header h;
    const uint8_t* body;
    uint32_t length;
  } m_handed{};  // written by the reader before it lets go
  std::optional<CBlockingSocketException> m_handedFailure;
  SyncEvent m_readerEvent{false, false};  // the data thread's wait while it lends
  NetWaker m_waker;
  std::atomic<int64_t> m_nLastCallerRead{0}, m_nLastReceived{0};  // steady ms
  std::atomic<uint32_t> m_nFrameLength{0};
};
