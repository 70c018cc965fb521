#include "sdk/DSFSource.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <system_error>
#include <thread>

#include "platform/debug/debug_output.h"
#include "platform/net/net.h"
#include "platform/sync/thread_name.h"
#include "platform/wire/byte_reader.h"

namespace {
constexpr uint32_t kLogOn = 0x00000001;
constexpr uint32_t kControlLogOn = 0x00000002;
constexpr uint32_t kDataLogOn = 0x007F0002;
constexpr uint32_t kFileNotFound = 0xF00A0001;
constexpr uint32_t kMaxChannel = 0xF00B0003;
constexpr uint32_t kUnregistered = 0xF0010001;
constexpr uint32_t kSkipFrame = 0xF0030003;
constexpr uint32_t kRecordEnd = 0xF00A0006;

constexpr CDSFSource::ResultText kResultTexts[] = {
    {0x00000000, "Server Response failure"},
    {0xF0000001, "Server Out of memory"},
    {0xF0010001, "Unregistered User"},
    {0xF0010002, "Alredy registerd User"},
    {0xF0010003, "You have a wrong password"},
    {0xF0010004, "You must change your password"},
    {0xF0020001, "Not allowed to certify"},
    {0xF0020002, "You don't have a power to manage it."},
    {0xF0020003, "You don't have a power to manage camera"},
    {0xF0030001, "No Camera"},
    {0xF0030002, "Requested channel is not being recorded"},
    {0xF0030003, "Frame Skip"},
    {0xF0090001, "Requested function is not properly set up on remote DVR"},
    {0xF0090002, "Requested function is not used."},
    {0xF00A0001, "Requested file was not found"},
    {0xF00A0002, "File was corrupted. (File Error in Server)"},
    {0xF00A0003, "Requested file was corrupted (Wrong Format)"},
    {0xF00A0004, "Requested file is being recorded. Try another file"},
    {0xF00B0001, "Version is different"},
    {0xF00B0002,
     "Requested function is already used by another user.\n Retry at least 10 second later."},
    {0xF00B0003, "Maximum channel is exceeded"},
    {0xF00B0004, "Lock TimeOut"},
    {0xF00E0001, "The Server is not exist."},
    {0xF00E0002, "The server is not exist."},
    {0xF00E0003, "The server is not responding."},
    {0xF00F0001, "Unknown protocol number"},
    {0xF00F0002, "Data Line is not connected."},
    {0xF00F0003, "An invalid parameter"},
    {0xF00F0004, "Not supported function"},
    {0xF00F00FF, "Server Internal Error"},
    {0xF00FEEEE, "Server will reboot soon"},
    {0xF00FFFFF, "Unknown error"},
};

using Header = CDSFFramer::Header;

constexpr int WSAETIMEDOUT = 10060;

int64_t SteadyMs() {
  return std::chrono::duration_cast<std::chrono::milliseconds>(
             std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

Header ParseHeader(const uint8_t* p) {
  CByteReader r(p, 12);
  Header h;
  h.number = r.U32BE();
  h.result = r.U32BE();
  h.length = r.U32BE();
  return h;
}

bool IsStreamReply(uint32_t number) {
  return number == 0xA0020001 || number == 0xA0020003 || number == 0xA0020006;
}

// A session text: u16 length + 1, then the text and its NUL.
void PutText(CByteWriter& w, const std::string& s) {
  const size_t n = s.size() < 0xFFFE ? s.size() : 0xFFFE;
  w.U16BE(uint16_t(n + 1));
  w.Bytes(s.data(), n);
  w.U8(0);
}
}  // namespace

CDSFFramer::CDSFFramer(size_t max_body, size_t read_ahead)
    : m_buffer(12 + max_body + (read_ahead ? read_ahead : 1)), m_nMaxBody(max_body) {}

uint8_t* CDSFFramer::Space(size_t* room) {
  if (m_nBegin == m_nEnd) {
    m_nBegin = m_nEnd = 0;
  } else if (m_nBegin > m_buffer.size() - 12 - m_nMaxBody) {
    // The packet under way might not fit behind: move what is left to the front (at most
    // one packet, once per read-ahead's worth of bytes).
    std::memmove(m_buffer.data(), m_buffer.data() + m_nBegin, m_nEnd - m_nBegin);
    m_nEnd -= m_nBegin;
    m_nBegin = 0;
  }
  *room = m_buffer.size() - m_nEnd;
  return m_buffer.data() + m_nEnd;
}

void CDSFFramer::Commit(size_t n) { m_nEnd += std::min(n, m_buffer.size() - m_nEnd); }

CDSFFramer::Result CDSFFramer::Next(BodyRule rule, int state, Header* h, const uint8_t** body,
                                    uint32_t* length) {
  for (;;) {
    if (m_nSkip > 0) {
      const size_t n = size_t(std::min<uint64_t>(m_nSkip, m_nEnd - m_nBegin));
      m_nBegin += n;
      m_nSkip -= n;
      if (m_nSkip > 0) return NEED_MORE;
      *h = m_header;
      *body = nullptr;
      *length = 0;
      return SKIPPED;
    }
    if (!m_bHeader) {
      if (m_nEnd - m_nBegin < 12) return NEED_MORE;
      m_header = ParseHeader(m_buffer.data() + m_nBegin);
      m_nBegin += 12;
      m_nBody = rule(m_header, state);
      if (m_nBody == kNoBody) {
        *h = m_header;
        *body = nullptr;
        *length = 0;
        return PACKET;
      }
      if (m_nBody > m_nMaxBody) {
        m_nSkip = m_nBody;
        continue;
      }
      m_bHeader = true;
    }
    if (m_nEnd - m_nBegin < m_nBody) return NEED_MORE;
    m_bHeader = false;
    *h = m_header;
    *body = m_buffer.data() + m_nBegin;
    *length = m_nBody;
    m_nBegin += m_nBody;
    return PACKET;
  }
}

bool CDSFSource::Gate::Enter(const std::atomic<int>& stop) {
  std::unique_lock<std::mutex> lk(m_lock);
  const auto self = std::this_thread::get_id();
  if (m_nDepth > 0 && m_owner == self) {
    ++m_nDepth;
    return true;
  }
  m_cv.wait(lk, [&] { return m_nDepth == 0 || stop; });
  if (m_nDepth != 0) return false;
  m_owner = self;
  m_nDepth = 1;
  return true;
}

void CDSFSource::Gate::Leave() {
  std::lock_guard<std::mutex> lk(m_lock);
  if (--m_nDepth == 0) {
    m_owner = std::thread::id();
    m_cv.notify_all();
  }
}

void CDSFSource::Gate::Wake() {
  std::lock_guard<std::mutex> lk(m_lock);
  m_cv.notify_all();
}

CDSFSource::CDSFSource() = default;

CDSFSource::~CDSFSource() {
  Stop();
  WaitStop();
}

std::span<const CDSFSource::ResultText> CDSFSource::ResultTexts() { return kResultTexts; }

std::string CDSFSource::GetErrorMessage(uint32_t code) {
  for (const ResultText& t : kResultTexts)
    if (t.code == code) return t.text;
  char buf[40];
  std::snprintf(buf, sizeof buf, "Really unknown error: 0x%.8X", code);
  return buf;
}

int CDSFSource::Initialize(CDSFSourceOwner* owner, int live, int base_port, uint32_t open_value_b) {
  m_pOwner = owner;
  m_bLive = live ? 1 : 0;
  m_dwOpenB = open_value_b;
  m_bStop = 0;
  const int b = base_port;
  if (b == 0) {
    m_wPort[PORT_LOGON] = 7000;
    m_wPort[PORT_LIVE_CONTROL] = 8000;
    m_wPort[PORT_LIVE_DATA] = 8001;
    m_wPort[PORT_PLAYBACK_CONTROL] = 9000;
    m_wPort[PORT_PLAYBACK_DATA] = 9001;
    m_wPort[PORT_SETUP] = 7007;  // the log-on port + 7, as for every other base
  } else {
    m_wPort[PORT_LOGON] = uint16_t(b);
    m_wPort[PORT_LIVE_CONTROL] = uint16_t(b + 3);
    m_wPort[PORT_LIVE_DATA] = uint16_t(b + 4);
    m_wPort[PORT_PLAYBACK_CONTROL] = uint16_t(b + 1);
    m_wPort[PORT_PLAYBACK_DATA] = uint16_t(b + 2);
    m_wPort[PORT_SETUP] = uint16_t(b + 7);
  }
  return 1;
}

void CDSFSource::SetTimeOuts(int receive_ms, int send_ms, int first_request_ms) {
  m_nReceiveTimeOut = receive_ms;
  m_nSendTimeOut = send_ms;
  m_nFirstRequest = first_request_ms;
}

std::string CDSFSource::GetServerAddress() const {
  std::lock_guard<std::mutex> lk(m_serverLock);
  return m_strServer;
}

void CDSFSource::SetError(const std::string& text) {
  std::lock_guard<std::mutex> lk(m_errorLock);
  m_strLastError = text;
}

int CDSFSource::GetLastError(std::string* text) const {
  std::lock_guard<std::mutex> lk(m_errorLock);
  if (text) *text = m_strLastError;
  return 1;
}

int CDSFSource::LogOn(const char* address, const char* user, const char* password,
                      const char* address_again, uint8_t channel, const uint32_t* playback_range,
                      uint32_t open_value_a) {
  {
    std::lock_guard<std::mutex> lk(m_serverLock);
    m_strServer = address ? address : "";
  }
  m_strUser = user ? user : "";
  m_strPassword = password ? password : "";
  m_strAddressGiven = address_again ? address_again : "";
  m_nChannel = channel;
  m_dwOpenA = open_value_a;
  if (playback_range) {
    m_dwPlaybackStart = playback_range[0];
    m_dwPlaybackEnd = playback_range[1];
    m_bLive = 0;
  } else {
    m_dwPlaybackStart = m_dwPlaybackEnd = 0xFFFFFFFF;
    m_bLive = 1;
  }
  std::lock_guard<std::mutex> lk(m_startLock);
  if (m_bStop || !m_pLogOnThread.Start([this] { LogOnWork(); })) {
    SetError("Log on thread failure");
    return 0;
  }
  return 1;
}

int CDSFSource::BuildSessionPacket(uint32_t number, uint8_t* out, size_t capacity) const {
  CByteWriter w(out, capacity);
  w.U32BE(number);
  w.U32BE(0);
  w.U32BE(0);
  switch (number) {
    case kLogOn:
      PutText(w, m_strUser);
      PutText(w, m_strPassword);
      w.U8(0);
      PutText(w, m_strAddressGiven);
      w.U32BE(m_dwPlaybackStart);
      w.U32BE(m_dwPlaybackEnd);
      w.U8(uint8_t(m_dwOpenA));
      w.U8(m_nChannel);
      w.U32BE(m_dwOpenB);
      break;
    case kControlLogOn:
      w.U8(1);
      w.U8(2);
      w.U8(0);
      PutText(w, m_strUser);
      PutText(w, m_strReply1);
      PutText(w, m_strReply2);
      w.U8(0);
      PutText(w, m_strAddressGiven);
      break;
    case kDataLogOn: w.U32BE(m_dwDataRequest); break;
    default: return 0;
  }
  if (!w.Ok()) return 0;
  const uint32_t n = uint32_t(w.Pos() - 12);
  CByteWriter len(out + 8, 4);
  len.U32BE(n);
  return int(w.Pos());
}

bool CDSFSource::UseOwnAddress(const char* own) {
  if (!own || !*own || std::strcmp(own, "0.0.0.0") == 0) return false;
  if (std::strncmp(own, "10.", 3) == 0 || std::strncmp(own, "192.168.", 8) == 0) return false;
  if (std::strncmp(own, "172.", 4) == 0) {
    const int second = std::atoi(own + 4);
    if (second >= 16 && second <= 31) return false;
  }
  uint32_t addr = 0;
  if (net_parse_ipv4(own, &addr) != 0) return false;
  const uint8_t first = uint8_t(addr & 0xFF);  // network order: first octet lowest in memory
  return first != 0 && first != 127 && first < 224;
}

void CDSFSource::Connect(CBlockingSocket& s, uint16_t port, bool large_receive_buffer) {
  CSockAddr sa;
  CBlockingSocket::ResolveHost(GetServerAddress().c_str(), port, &sa);
  {
    std::lock_guard<std::mutex> lk(m_startLock);
    if (m_bStop) throw CBlockingSocketException("Create", 10004);
    s.Create();
  }
  if (large_receive_buffer) {
    const int size = kFrameBuffer;
    s.SetOption(NET_SOL_SOCKET, NET_SO_RCVBUF, &size, sizeof size);
  }
  s.Connect(sa, m_nSendTimeOut);
  s.SetReceiveTimeOut(m_nReceiveTimeOut);
  s.SetSendTimeOut(m_nSendTimeOut);
}

CDSFFramer::Result CDSFSource::Receive(CBlockingSocket& s, CDSFFramer& f, CDSFFramer::BodyRule rule,
                                       int state, CDSFFramer::Header* h, const uint8_t** body,
                                       uint32_t* length) {
  for (;;) {
    const CDSFFramer::Result r = f.Next(rule, state, h, body, length);
    if (r != CDSFFramer::NEED_MORE) return r;
    size_t room;
    uint8_t* at = f.Space(&room);
    f.Commit(size_t(s.ReceiveAll(at, int(room))));
  }
}

uint32_t CDSFSource::LogOnBody(const CDSFFramer::Header& h, int) {
  return h.result == 1 ? h.length : CDSFFramer::kNoBody;
}

uint32_t CDSFSource::ControlBody(const CDSFFramer::Header& h, int state) {
  return h.result == 1 || state == 2 ? h.length : CDSFFramer::kNoBody;
}

uint32_t CDSFSource::DataBody(const CDSFFramer::Header& h, int state) {
  if (h.result == 1) return h.length;
  if (state == 1 && h.result == kSkipFrame) return 1;
  if (state == 1 && h.result == kRecordEnd) return h.length;
  return CDSFFramer::kNoBody;
}

void CDSFSource::Deliver(uint32_t number, const uint8_t* data, int length) {
  if (m_bStop || !m_csDeliver.Enter(m_bStop)) return;
  if (m_pOwner && !m_bStop) m_pOwner->OnPacket(number, data, length);
  m_csDeliver.Leave();
}

void CDSFSource::ReportStatus(int code) {
  if (!m_csStatus.Enter(m_bStop)) return;
  bool report = true;
  if (code & 0xF000) {
    if (m_bFailed || m_bStop)
      report = false;
    else
      m_bFailed = 1;
  }
  if (report && m_pOwner) m_pOwner->OnStatus(code);
  m_csStatus.Leave();
}

int CDSFSource::FailureStatus(const CBlockingSocketException& e, bool connected) {
  const std::string text = e.GetErrorMessage();
  SetError(text);
  if (connected) debug_output(text.c_str());
  if (text.rfind("TimeOut", 0) == 0) return STATUS_TIMED_OUT;
  return connected ? STATUS_SOCKET_FAILED : STATUS_CONNECT_FAILED;
}

void CDSFSource::LogOnWork() {
  set_current_thread_name("sdk logon");
  bool connected = false;
  int status = 0;
  try {
    Connect(m_sockLogOn, m_wPort[PORT_LOGON], false);
    connected = true;
    std::vector<uint8_t> pkt(12 + 4 * 65540);
    const int n = BuildSessionPacket(kLogOn, pkt.data(), pkt.size());
    m_sockLogOn.Write(pkt.data(), n);
    CDSFFramer f(kControlBuffer - 12, 0);
    Header h;
    const uint8_t* body;
    uint32_t length;
    const CDSFFramer::Result got = Receive(m_sockLogOn, f, LogOnBody, 0, &h, &body, &length);
    if (h.result == 1) {
      // A reply past the buffer, or one whose texts do not fit it, is refused whole.
      bool ok = got == CDSFFramer::PACKET;
      std::string own;
      if (ok) {
        CByteReader r(body, length);
        std::string t1 = r.String(r.U16BE());
        std::string t2 = r.String(r.U16BE());
        const uint8_t b = r.U8();
        own = r.String(r.U16BE());
        ok = r.Ok();
        if (ok) {
          m_strReply1 = std::move(t1);
          m_strReply2 = std::move(t2);
          m_bReplyByte = b;
        }
      }
      if (!ok) {
        SetError(GetErrorMessage(0));
        status = STATUS_REFUSED;
      } else {
        if (UseOwnAddress(own.c_str())) {
          std::lock_guard<std::mutex> lk(m_serverLock);
          m_strServer = own;
        }
        StartControl();
        return;
      }
    } else {
      SetError(GetErrorMessage(h.result));
      status = h.result == kFileNotFound ? STATUS_FILE_NOT_FOUND : STATUS_REFUSED;
      if (h.result == kUnregistered)
        debug_output("[SDK TRACE]-등록되지 않은 사용자 또는 사용할 수 없는 DVR 입니다.");
    }
  } catch (const CBlockingSocketException& e) { status = FailureStatus(e, connected); }
  if (!m_bStop && status) ReportStatus(status);
}

void CDSFSource::StartControl() {
  m_sockLogOn.Close();
  std::lock_guard<std::mutex> lk(m_startLock);
  if (m_bStop) return;
  if (!m_pControlThread.Start([this] { ControlWork(); })) SetError("Control thread failure");
}

int CDSFSource::StartData(uint32_t value) {
  m_dwDataRequest = value;
  std::lock_guard<std::mutex> lk(m_startLock);
  if (m_bStop || !m_pDataThread.Start([this] { DataWork(); })) {
    SetError("D-Thread failure");
    return 0;
  }
  return 1;
}

bool CDSFSource::TakeQueued(Item* item, uint32_t timeout_ms) {
  for (;;) {
    {
      std::lock_guard<std::mutex> lk(m_queueLock);
      if (!m_queue.empty()) {
        *item = std::move(m_queue.front());
        m_queue.pop_front();
        return true;
      }
    }
    if (m_bStop) return false;
    if (!m_queueEvent.Wait(timeout_ms)) {
      std::lock_guard<std::mutex> lk(m_queueLock);
      if (m_queue.empty()) return false;
    }
  }
}

int CDSFSource::SendCommand(const uint8_t* packet, int length, SyncEvent* answer) {
  if (!m_pControlThread.Running() || m_bFailed || m_bStop || !packet || length <= 0) {
    SetError("Control Socket is invalid");
    return 0;
  }
  bool was_empty;
  {
    std::lock_guard<std::mutex> lk(m_queueLock);
    was_empty = m_queue.empty();
    m_queue.push_back(Item{std::vector<uint8_t>(packet, packet + length), answer});
  }
  if (was_empty) m_queueEvent.Set();
  return 1;
}

void CDSFSource::ControlWork() {
  set_current_thread_name("sdk control");
  bool connected = false;
  int status = 0;
  Item item{{}, nullptr};
  try {
    Connect(m_sockControl, m_wPort[m_bLive ? PORT_LIVE_CONTROL : PORT_PLAYBACK_CONTROL], false);
    connected = true;
    std::vector<uint8_t> pkt(12 + 4 * 65540);
    const int n = BuildSessionPacket(kControlLogOn, pkt.data(), pkt.size());
    m_sockControl.Write(pkt.data(), n);
    CDSFFramer f(kControlBuffer - 12, kControlBuffer);
    bool first = true;
    bool logged_on = false;
    while (!m_bStop) {
      if (logged_on) {
        if (!TakeQueued(&item, first ? uint32_t(m_nFirstRequest) : SYNC_INFINITE)) {
          if (!m_bStop) {
            SetError("dll internal error!!");
            status = STATUS_NO_REQUEST;
          }
          break;
        }
        first = false;
        m_sockControl.Write(item.bytes.data(), int(item.bytes.size()));
      }
      Header h;
      const uint8_t* body;
      uint32_t length;
      // A reply past the buffer is read past and not handed on; so is a failed one's body.
      const CDSFFramer::Result got =
          Receive(m_sockControl, f, ControlBody, logged_on ? 2 : 1, &h, &body, &length);
      if (h.result == 1) {
        if (got == CDSFFramer::PACKET && !m_bStop) Deliver(h.number, body, int(length));
      } else {
        SetError(GetErrorMessage(h.result));
        if (!logged_on) {
          status = h.result == kFileNotFound ? STATUS_FILE_NOT_FOUND
                   : h.result == kMaxChannel ? STATUS_MAX_CHANNEL
                                             : STATUS_REFUSED;
          break;
        }
        if (IsStreamReply(h.number)) {
          status = h.result == kFileNotFound ? STATUS_FILE_NOT_FOUND : STATUS_REFUSED;
          break;
        }
      }
      if (logged_on && item.answer) item.answer->Set();
      item.answer = nullptr;
      logged_on = true;
    }
  } catch (const CBlockingSocketException& e) { status = FailureStatus(e, connected); }
  // The request in flight gets no reply: its waiter is released rather than left hanging.
  if (item.answer) item.answer->Set();
  if (!m_bStop && status) ReportStatus(status);
}

void CDSFSource::DataWork() {
  set_current_thread_name("sdk data");
  bool connected = false;
  int status = 0;
  try {
    Connect(m_sockData, m_wPort[m_bLive ? PORT_LIVE_DATA : PORT_PLAYBACK_DATA], true);
    connected = true;
    uint8_t pkt[16];
    const int n = BuildSessionPacket(kDataLogOn, pkt, sizeof pkt);
    m_sockData.Write(pkt, n);
    // One receive takes whatever has arrived: a header with its frame, or several frames.
    CDSFFramer f(kFrameBuffer - 12, kFrameBuffer);
    Header h;
    const uint8_t* body;
    uint32_t length;
    Receive(m_sockData, f, DataBody, 0, &h, &body, &length);
    if (h.result != 1) {
      SetError(GetErrorMessage(h.result));
      status = STATUS_REFUSED;
    } else {
      ReportStatus(STATUS_DATA_ACCEPTED);
    }
    // Whatever ends the loop, the owner hears that no packet is on its way, and the framer
    // is the data thread's again before it goes.
    struct BurstEnd {
      CDSFSourceOwner* owner;
      ~BurstEnd() {
        if (owner) owner->OnBurst(false);
      }
    } burst_end{m_pOwner};
    struct ReaderEnd {
      CDSFSource* source;
      ~ReaderEnd() {
        source->ReclaimReader(READER_NONE);
        source->m_pDataFramer = nullptr;
      }
    } reader_end{this};
    m_pDataFramer = &f;
    m_nLastReceived = SteadyMs();
    m_bReceiveFirst = false;
    m_nReader = READER_DATA;
    while (!m_bStop && status == 0) {
      CDSFFramer::Result got;
      if (!NextDataPacket(f, &got, &h, &body, &length)) continue;
      if (h.result == 1) {
        // A frame past the buffer has been read past and is dropped.
        if (got != CDSFFramer::PACKET || length == 0) continue;
        m_nFrameLength = length;
        if (!m_bStop) Deliver(h.number, body, int(length));
      } else if (h.result == kSkipFrame) {
        debug_output("[SDK TRACE]-Skip Frame\n");
      } else if (h.result == kRecordEnd) {
        if (!m_bStop && m_pOwner) m_pOwner->OnRecordEnd();
      } else {
        SetError(GetErrorMessage(h.result));
        status = STATUS_DATA_FAILED;
      }
    }
  } catch (const CBlockingSocketException& e) { status = FailureStatus(e, connected); }
  if (!m_bStop && status) ReportStatus(status);
}

bool CDSFSource::NextDataPacket(CDSFFramer& f, CDSFFramer::Result* got, Header* h,
                                const uint8_t** body, uint32_t* length) {
  if (m_bHanded) {
    // What a caller could not deliver: its failure, or a packet it left in the framer.
    m_bHanded = 0;
    if (m_handedFailure) {
      const CBlockingSocketException e = *m_handedFailure;
      m_handedFailure.reset();
      throw e;
    }
    *got = m_handed.got;
    *h = m_handed.h;
    *body = m_handed.body;
    *length = m_handed.length;
    return true;
  }
  *got = f.Next(DataBody, 1, h, body, length);
  if (*got != CDSFFramer::NEED_MORE) return true;
  if (m_pOwner) m_pOwner->OnBurst(false);
  // Taken back from callers that stopped reading, it receives before it lends again: one that
  // is still counted as waiting gets the frames handed over.
  if (m_bLive && m_pOwner && !m_bReceiveFirst && m_pOwner->CallerWaiting()) {
    m_bReceiveFirst = LendToCallers();
    return false;
  }
  m_bReceiveFirst = false;
  ReceiveData(f);
  if (m_pOwner) m_pOwner->OnBurst(true);
  return false;
}

void CDSFSource::ReceiveData(CDSFFramer& f) {
  size_t room;
  uint8_t* at = f.Space(&room);
  f.Commit(size_t(m_sockData.ReceiveAll(at, int(room))));
  m_nLastReceived = SteadyMs();
}

// One thread watches every lent data connection and wakes the data thread of one that no
// caller has read for kCallerIdleMs. The data threads themselves then sleep while callers
// read: a timed look of their own each frame interval would cost as much as the frames.
// It runs while a connection is lent; the data thread that takes the last one back joins it.
struct CDSFSource::LendWatch {
  std::mutex lock;
  std::condition_variable cv;
  std::vector<CDSFSource*> sources;  // lent now
  std::thread thread;
  uint64_t generation = 0;  // a thread runs while the count is the one it started at

  static LendWatch& Get() {
    static LendWatch* watch = new LendWatch;  // never destroyed: data threads may outlive statics
    return *watch;
  }
  // False when the watcher cannot run (no thread): the caller then looks for itself.
  bool Add(CDSFSource* s) {
    std::lock_guard<std::mutex> lk(lock);
    if (!thread.joinable()) {
      try {
        thread = std::thread([this, g = ++generation] { Run(g); });
      } catch (const std::system_error&) { return false; }
    }
    sources.push_back(s);
    return true;
  }
  // Once it returns the watcher does not touch `s` again.
  void Remove(CDSFSource* s) {
    std::thread done;
    {
      std::lock_guard<std::mutex> lk(lock);
      sources.erase(std::find(sources.begin(), sources.end(), s));
      if (sources.empty()) {
        ++generation;
        done = std::move(thread);
      }
    }
    if (done.joinable()) {
      cv.notify_all();
      done.join();
    }
  }
  void Run(uint64_t mine) {
    set_current_thread_name("sdk watcher");
    std::unique_lock<std::mutex> lk(lock);
    while (generation == mine) {
      const int64_t now = SteadyMs();
      int64_t next = now + kCallerIdleMs;  // a reading caller is looked at again then
      for (CDSFSource* s : sources) {
        if (s->m_nReader.load(std::memory_order_acquire) != READER_FREE) continue;
        const int64_t due = s->m_nLastCallerRead + kCallerIdleMs;
        if (due <= now)
          s->m_readerEvent.Set();  // it takes the connection back and leaves
        else
          next = std::min(next, due);
      }
      cv.wait_for(lk, std::chrono::milliseconds(std::max<int64_t>(next - now, 1)));
    }
  }
};

// Parks the data thread while callers read; returns with the connection its own again, true
// when it took it back from idle callers. Once no caller has read for kCallerIdleMs (a live
// frame interval; the watcher wakes it) it takes the connection back: a 64 KiB receive buffer
// holds only a few frames, past which the DVR would be held back.
bool CDSFSource::LendToCallers() {
  m_nLastCallerRead = SteadyMs();  // the caller that waits is on its way
  m_nReader.store(READER_FREE, std::memory_order_release);
  struct Watched {
    CDSFSource* source;
    bool on = LendWatch::Get().Add(source);
    ~Watched() {
      if (on) LendWatch::Get().Remove(source);
    }
  } watched{this};
  m_pOwner->OnReaderFree();
  for (;;) {
    const int limit = m_nReceiveTimeOut;
    int64_t now = SteadyMs();
    // A silent DVR is noticed as soon as the data thread's own receive would.
    int64_t wait = watched.on ? int64_t(SYNC_INFINITE) : kCallerIdleMs;
    if (limit > 0) wait = std::clamp<int64_t>(m_nLastReceived + limit - now, 1, wait);
    m_readerEvent.Wait(uint32_t(wait));
    if (m_bStop || m_bHanded) break;
    now = SteadyMs();
    if (limit > 0 && now - m_nLastReceived >= limit) {
      ReclaimReader(READER_DATA);
      throw CBlockingSocketException("TimeOut", WSAETIMEDOUT);
    }
    int free = READER_FREE;
    if (now - m_nLastCallerRead >= kCallerIdleMs &&
        m_nReader.compare_exchange_strong(free, READER_DATA, std::memory_order_acq_rel))
      return true;
  }
  ReclaimReader(READER_DATA);
  return false;
}

// Takes the connection back from the callers (a reading one gives it up at once) and leaves
// it in `state`.
void CDSFSource::ReclaimReader(int state) {
  m_bReclaim = 1;
  m_waker.signal();
  for (;;) {
    int now = m_nReader.load(std::memory_order_acquire);
    if (now != READER_CALLER &&
        m_nReader.compare_exchange_strong(now, state, std::memory_order_acq_rel))
      break;
    m_readerEvent.Wait(20);
  }
  m_bReclaim = 0;
}

bool CDSFSource::ReaderFree() const {
  return m_nReader.load(std::memory_order_acquire) == READER_FREE && !m_bHanded && !m_bReclaim;
}

CDSFSource::ReadResult CDSFSource::ReadForOwner(uint32_t number, int timeout_ms,
                                                const std::function<bool()>& done) {
  int free = READER_FREE;
  if (m_bStop || m_bReclaim || m_bHanded ||
      !m_nReader.compare_exchange_strong(free, READER_CALLER, std::memory_order_acq_rel))
    return READ_UNAVAILABLE;
  ReadResult result = READ_TIMED_OUT;
  bool burst = false;
  CDSFFramer& f = *m_pDataFramer;
  const int64_t end = SteadyMs() + std::max(timeout_ms, 0);
  m_nLastCallerRead = SteadyMs();
  try {
    // Re-checked once the connection is ours: the data thread may have wanted it meanwhile.
    while (!m_bStop && !m_bReclaim && !m_bHanded) {
      Header h;
      const uint8_t* body;
      uint32_t length;
      const CDSFFramer::Result got = f.Next(DataBody, 1, &h, &body, &length);
      if (got == CDSFFramer::PACKET && h.result == 1 && h.number == number && length > 0) {
        m_nFrameLength = length;
        Deliver(h.number, body, int(length));
        continue;
      }
      if (got != CDSFFramer::NEED_MORE) {
        m_handed = {got, h, body, length};  // stays in the framer for the data thread
        m_bHanded = 1;
        break;
      }
      if (burst) {
        m_pOwner->OnBurst(false);
        burst = false;
      }
      if (done()) {
        result = READ_DONE;
        break;
      }
      const int64_t left = end - SteadyMs();
      const int w = left > 0 ? m_sockData.WaitReadable(int(left), &m_waker) : 0;
      if (w != 1) {
        result = w == 2 ? READ_WOKEN : READ_TIMED_OUT;
        break;
      }
      ReceiveData(f);
      m_nLastCallerRead = m_nLastReceived.load();
      m_pOwner->OnBurst(true);
      burst = true;
    }
  } catch (const CBlockingSocketException& e) {
    m_handedFailure = e;  // the data thread reports it as its own receive would
    m_bHanded = 1;
  }
  if (burst) m_pOwner->OnBurst(false);
  if (m_bHanded || m_bReclaim || m_bStop) result = READ_UNAVAILABLE;
  m_nLastCallerRead = SteadyMs();  // it read up to now: the idle time starts here
  m_nReader.store(READER_FREE, std::memory_order_release);
  if (result == READ_UNAVAILABLE) m_readerEvent.Set();
  m_pOwner->OnReaderFree();  // another caller may wait to read
  return result;
}

int CDSFSource::SendSetupCommand(const uint8_t* packet, int length, SyncEvent* answer) {
  if (m_bFailed) {
    SetError("Control Socket is invalid");
    return 0;
  }
  std::lock_guard<std::mutex> serial(m_setupLock);
  try {
    Connect(m_sockSetup, m_wPort[PORT_SETUP], false);
    m_sockSetup.Write(packet, length);
    uint8_t hdr[12];
    if (m_sockSetup.Read(hdr, 12) == 12) {
      const Header h = ParseHeader(hdr);
      if (h.result == 1) {
        if (h.length <= kSetupReplyLimit) {
          std::vector<uint8_t> body(h.length ? h.length : 1);
          if (h.length == 0 || m_sockSetup.Read(body.data(), int(h.length)) == int(h.length))
            Deliver(h.number, body.data(), int(h.length));
        }
      } else {
        (void)GetErrorMessage(h.result);
      }
    }
  } catch (const CBlockingSocketException&) {}
  m_sockSetup.Close();
  if (answer) answer->Set();
  return 1;
}

void CDSFSource::Stop() {
  {
    std::lock_guard<std::mutex> lk(m_startLock);
    if (m_bStop) return;
    m_bStop = 1;
  }
  m_queueEvent.Set();
  m_csDeliver.Wake();
  m_csStatus.Wake();
  m_sockLogOn.Close();
  m_sockControl.Close();
  m_sockData.Close();
  m_sockSetup.Close();
  m_queueEvent.Set();
  m_readerEvent.Set();
  m_waker.signal();
  m_pLogOnThread.RaisePriority();
  m_pControlThread.RaisePriority();
  m_pDataThread.RaisePriority();
}

void CDSFSource::WaitStop() {
  m_pLogOnThread.Join();
  m_pControlThread.Join();
  m_pDataThread.Join();
  std::deque<Item> dropped;
  {
    std::lock_guard<std::mutex> lk(m_queueLock);
    dropped.swap(m_queue);
  }
  for (Item& i : dropped)
    if (i.answer) i.answer->Set();
  m_nChannel = 255;
  m_nFrameLength = 0;
}
