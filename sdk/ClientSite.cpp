#include "sdk/ClientSite.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>

#include "platform/debug/debug_output.h"
#include "sdk/OrvoSDKApp.h"
#include "platform/wire/byte_reader.h"

namespace {
constexpr uint32_t kStreamHeaderLive = 0xA0020001;
constexpr uint32_t kStreamHeaderPlayback = 0xA0020003;

// The session whose thread this is (source, notify): a session closed from its own callback
// is not destroyed on that thread.
thread_local const CClientSite* t_pInside = nullptr;

class InsideGuard {
 public:
  explicit InsideGuard(const CClientSite* s) : m_pOld(t_pInside) { t_pInside = s; }
  ~InsideGuard() { t_pInside = m_pOld; }

 private:
  const CClientSite* m_pOld;
};

// Days since 1970-01-01 of a civil date, and back (proleptic Gregorian).
int64_t DaysFromCivil(int64_t y, unsigned m, unsigned d) {
  y -= m <= 2;
  const int64_t era = (y >= 0 ? y : y - 399) / 400;
  const unsigned yoe = unsigned(y - era * 400);
  const unsigned doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
  const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + int64_t(doe) - 719468;
}

void CivilFromDays(int64_t z, int* y, int* m, int* d) {
  z += 719468;
  const int64_t era = (z >= 0 ? z : z - 146096) / 146097;
  const unsigned doe = unsigned(z - era * 146097);
  const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const unsigned mp = (5 * doy + 2) / 153;
  *d = int(doy - (153 * mp + 2) / 5 + 1);
  *m = int(mp < 10 ? mp + 3 : mp - 9);
  *y = int(int64_t(yoe) + era * 400 + (*m <= 2));
}
}  // namespace

bool CClientSite::InsideOwnThread(const CClientSite* site) { return t_pInside == site; }

CClientSite::CClientSite(COrvoSDKApp* app) : m_pApp(app) {}

CClientSite::~CClientSite() {
  Stop();
  // Stop skips the threads that called it; by now none of them is inside.
  if (m_pSource) m_pSource->WaitStop();
  m_pNotifyThread.Join();
  std::lock_guard<std::mutex> lk(m_decoderLock);
  CloseVideoDecoder();
}

void CClientSite::SetError(const std::string& text) {
  std::lock_guard<std::mutex> lk(m_errorLock);
  m_strLastError = text;
}

std::string CClientSite::LastError() {
  std::lock_guard<std::mutex> lk(m_errorLock);
  return m_strLastError;
}

void CClientSite::GetLastError(char* buf, int size) {
  if (!buf || size < 1) return;
  std::lock_guard<std::mutex> lk(m_errorLock);
  const size_t n = std::min(m_strLastError.size(), size_t(size - 1));
  std::memcpy(buf, m_strLastError.data(), n);
  buf[n] = 0;
}

void CClientSite::SetPacketParam(const _SDK_PACKET_PARAM& p) {
  m_nNoAudio = p.bNoAudio;
  m_nOutput = p.bOutput;
  m_nDeinterlace = p.bDeinterlace;
}

int CClientSite::Start(const char* address, int channel, const char* user, const char* password,
                       int port, const SITE_OPEN_PARAM& param, SDK_OPEN_CALLBACK callback,
                       int channel2, int live, void* user_value) {
  {
    std::lock_guard<std::mutex> lk(m_identityLock);
    m_strAddress = address ? address : "";
  }
  m_strUser = user ? user : "";
  m_strPassword = password ? password : "";
  m_nChannel = channel;
  m_nPort = port;
  m_nDvrId = param.nDvrId;
  m_nChannel2 = channel2;
  m_bLive = live ? 1 : 0;
  m_pCallback = callback;
  m_pUserValue = user_value;
  m_param = param;
  m_bWaitStream = 1;
  if (!m_pNotifyThread.Start([this] { NotifyLoop(); })) {
    SetError("m_pNotifyThread thread failure");
    return 0;
  }
  m_pSource = std::make_unique<CDSFSource>();
  if (!m_pSource->Initialize(this, m_bLive, port, param.bValue0)) {
    debug_output("[SDK TRACE]-m_pSource->Initialize() failure !\n");
    return 0;
  }
  int ok;
  if (m_bLive) {
    ok = m_pSource->LogOn(address, user, password, address, uint8_t(channel), nullptr,
                          param.dwValue2);
  } else {
    debug_output("[SDK TRACE]-VOD Connection....... \n");
    const uint32_t range[2] = {param.dwPlayDate, param.dwPlayTime};
    ok =
        m_pSource->LogOn(address, user, password, address, uint8_t(channel), range, param.dwValue2);
  }
  if (!ok) {
    debug_output("[SDK TRACE]-m_pSource->LogOn() failure !\n");
    std::string text;
    m_pSource->GetLastError(&text);
    SetError(text);
    return 0;
  }
  return 1;
}

void CClientSite::Stop() {
  if (m_bStop.exchange(1)) {
    // A second Stop returns once the first has, so its caller may free what the callbacks
    // use. On one of the session's own threads (a callback) the first may be waiting for this
    // very thread: there it returns at once.
    if (InsideOwnThread(this)) return;
    std::unique_lock<std::mutex> lk(m_stopLock);
    m_stopCv.wait(lk, [this] { return m_bStopped; });
    return;
  }
  m_bNotifyEnd = 1;
  m_statusEvent.Set();
  WakeWaiters();
  m_answerEvent.Set();
  m_firstFrameEvent.Set();
  if (m_pSource) {
    m_pSource->Stop();
    m_pSource->WaitStop();  // never the calling thread
  }
  m_pNotifyThread.Join();  // nothing when called on the notify thread
  // An upkeep under way ends before Stop returns (its callback would get a user value the
  // caller may free next); on the upkeep's own thread the lock is re-entered.
  { std::lock_guard<std::recursive_mutex> upkeep(m_upkeepLock); }
  EmptyList();
  {
    std::lock_guard<std::mutex> lk(m_decoderLock);
    CloseVideoDecoder();
  }
  {
    std::lock_guard<std::mutex> lk(m_stopLock);
    m_bStopped = true;
  }
  m_stopCv.notify_all();
}

// The flag is raised under the list lock, which a waiter holds while it looks at it.
void CClientSite::CancelWait() {
  if (m_bStop) return;
  {
    std::lock_guard<std::mutex> lk(m_listLock);
    m_bCancelled = 1;
  }
  WakeWaiters();
  if (m_bFirstFrameWanted) m_firstFrameEvent.Set();
  m_answerEvent.Set();
}

void CClientSite::ReleaseFrameWait() {
  {
    std::lock_guard<std::mutex> lk(m_listLock);
    m_bCancelled = 1;
  }
  WakeWaiters();
}

// The state a waiter looks at changed under m_listLock before: passing through the lock
// makes sure the waiter either saw the change or waits already.
void CClientSite::WakeWaiters() {
  { std::lock_guard<std::mutex> lk(m_listLock); }
  m_frameCv.notify_all();
  if (m_pSource) m_pSource->WakeReader();  // a caller receiving frames looks too
}

// The data connection can be read by a waiting caller: one of them takes it.
void CClientSite::OnReaderFree() {
  if (m_nWaiting.load(std::memory_order_acquire) == 0) return;
  { std::lock_guard<std::mutex> lk(m_listLock); }
  m_frameCv.notify_all();
}

void CClientSite::Recycle(std::vector<uint8_t>&& bytes) {
  if (bytes.capacity() == 0) return;
  std::lock_guard<std::mutex> lk(m_spareLock);
  if (m_spare.size() < kSpareBuffers) m_spare.push_back(std::move(bytes));
}

std::vector<uint8_t> CClientSite::TakeSpare() {
  std::vector<uint8_t> bytes;
  std::lock_guard<std::mutex> lk(m_spareLock);
  if (!m_spare.empty()) {
    bytes.swap(m_spare.back());
    m_spare.pop_back();
  }
  return bytes;
}

std::string CClientSite::Address() {
  std::lock_guard<std::mutex> lk(m_identityLock);
  return m_strAddress;
}

size_t CClientSite::QueuedFrames() {
  std::lock_guard<std::mutex> lk(m_listLock);
  return m_list.size();
}

size_t CClientSite::QueuedBytes() {
  std::lock_guard<std::mutex> lk(m_listLock);
  return m_list.bytes();
}

void CClientSite::EmptyList() {
  std::lock_guard<std::mutex> lk(m_listLock);
  m_list.clear();
}

// ---------------------------------------------------------------------------------------
// Status and notices.

void CClientSite::OnStatus(int code) {
  InsideGuard inside(this);
  if (m_bStop) return;
  if (code == CDSFSource::STATUS_DATA_ACCEPTED) {
    std::vector<uint8_t> pkt(12 + CDSFProtocol::MaxPayload());
    int n;
    if (m_bLive) {
      DSF_LIVE_REQUEST req{uint8_t(m_nChannel)};
      n = m_protocol.BuildPacket(DSF_LIVE_START, 1, &req, pkt.data());
    } else {
      DSF_PLAYBACK_REQUEST req{};
      std::snprintf(req.szAddress, sizeof req.szAddress, "%s", m_strAddress.c_str());
      req.dwStart = m_param.dwPlayDate;
      req.dwEnd = m_param.dwPlayTime;
      req.channel = uint8_t(m_nChannel);
      n = m_protocol.BuildPacket(DSF_PLAYBACK_START, 1, &req, pkt.data());
      m_protocol.ForgetRecord(DSF_PLAYBACK_START);
    }
    m_protocol.ForgetRecord(DSF_LIVE_START);
    m_pSource->SendCommand(pkt.data(), n, nullptr);
    return;
  }
  {
    std::lock_guard<std::mutex> lk(m_statusLock);
    m_statusQueue.push_back(code);
  }
  m_statusEvent.Set();
}

// The frames of one receive are handed over before their caller wakes: a caller that wakes
// then finds the rest queued and need not wait (and be woken) for each.
void CClientSite::OnBurst(bool begins) {
  bool wake = false;
  {
    std::lock_guard<std::mutex> lk(m_listLock);
    m_bBurst = begins;
    if (begins) return;
    for (Waiter* w : m_waiters)
      if (w->filled && !w->told) w->told = wake = true;
  }
  if (wake) m_frameCv.notify_all();
}

void CClientSite::OnRecordEnd() {
  InsideGuard inside(this);
  m_bRecordEnd = 1;
}

void CClientSite::Report(int code) {
  m_pApp->NotifyApplication(1, code, this, m_strAddress.c_str(), m_nChannel, m_nChannel2);
}

void CClientSite::CallOpenCallback(int state) {
  if (state == 0) {
    if (m_bStateZeroSent.exchange(1)) return;  // a stop is told once
  } else {
    m_bStateZeroSent = 0;
  }
  if (m_pCallback) m_pCallback(this, m_nDvrId, m_nChannel, state, m_pUserValue);
}

void CClientSite::NotifyLoop() {
  set_current_thread_name("sdk notify");
  InsideGuard inside(this);
  while (!m_bNotifyEnd) {
    m_statusEvent.Wait();
    for (;;) {
      int code;
      {
        std::lock_guard<std::mutex> lk(m_statusLock);
        if (m_statusQueue.empty() || m_bNotifyEnd) break;
        code = m_statusQueue.front();
        m_statusQueue.pop_front();
      }
      const bool failure = (code & 0xF000) || code == CDSFSource::STATUS_REFUSED ||
                           code == CDSFSource::STATUS_SOCKET_FAILED ||
                           code == CDSFSource::STATUS_TIMED_OUT;
      if (failure) {
        m_pSource->Stop();
        CancelWait();
        if (code == CDSFSource::STATUS_REFUSED) {
          if (m_nStartWait < 14) m_nStartWait = 16;  // the next tick says state 0
        } else {
          Report(code);
        }
      } else if (code == 2) {
        m_bWaitStream = 0;
        Report(code);
      } else {
        m_pSource->Stop();
        Report(code);
      }
      // A stream that was running and died is told to its application (state 0), once.
      const bool died = failure ? code != CDSFSource::STATUS_REFUSED
                                : code == CDSFSource::STATUS_DATA_FAILED ||
                                      code == CDSFSource::STATUS_FILE_NOT_FOUND;
      if (died && m_bStarted && !m_bStop) CallOpenCallback(0);
    }
  }
}

// ---------------------------------------------------------------------------------------
// Packets from the source.

void CClientSite::OnPacket(uint32_t number, const uint8_t* data, int length) {
  InsideGuard inside(this);
  if (m_bStop) return;
  const size_t n = length > 0 ? size_t(length) : 0;
  switch (number) {
    case kStreamHeaderLive:
    case kStreamHeaderPlayback: {
      DSF_STREAM_BLOCK block{};
      if (!m_protocol.ParseReply(number, data, n, &block)) break;
      m_protocol.ParseStreamHeader(block.data, block.length);
      {
        std::lock_guard<std::mutex> lk(m_listLock);
        const DSF_STREAM_HEADER_OBJECT& h = m_protocol.StreamHeader();
        m_wYear = h.year;
        m_bMonth = h.month;
        m_bDay = h.day;
        m_bHour = h.hour;
        m_bMinute = h.minute;
        m_bSecond = h.second;
        m_nStreamWidth = m_protocol.Video().width;
        m_nStreamHeight = m_protocol.Video().height;
      }
      if (!m_nNoAudio && m_protocol.Audio().track != 0xFF) {
        const DSF_AUDIO_OBJECT& a = m_protocol.Audio();
        uint8_t format[AUDIO_FORMAT_MIN_SIZE] = {};
        std::memcpy(format, a.codec, 16);
        format[16] = uint8_t(a.samplesPerSecond);
        format[17] = uint8_t(a.samplesPerSecond >> 8);
        format[20] = a.setupValue;
        std::lock_guard<std::mutex> lk(m_decoderLock);
        m_bAudioReady = m_audio.Initialize(format, sizeof format) == 1;
        // The stream plays on without its audio; the application reads why.
        if (!m_bAudioReady) SetError("Audio Decoder initialization failure");
      }
      m_bStarted = 1;
      EndSession(false);
      SendStartStream();
      // Told once the session is connected: commands sent upon it are taken.
      if (!m_bStop) {
        CallOpenCallback(1);
        {
          std::lock_guard<std::mutex> lk(m_statusLock);
          m_statusQueue.push_back(2);
        }
        m_statusEvent.Set();
      }
      break;
    }
    case DSF_CHANNEL_INFO_REPLY: {
      DSF_CHANNEL_INFO info{};
      if (!m_protocol.ParseReply(number, data, n, &info)) break;
      if (m_param.bLiveByte == 1) {
        m_pSource->StartData(info.dwDataRequest);
      } else {
        m_bWaitStream = 0;
        m_answerEvent.Set();
      }
      break;
    }
    case 0xA0031000: {
      // A reply that cannot be read answers the request as failed, never with no relays.
      DSF_RELAY_STATE relay{};
      if (m_protocol.ParseReply(number, data, n, &relay)) {
        std::lock_guard<std::mutex> lk(m_listLock);
        m_relay = relay;
        m_dwAnswer = 0;
      } else {
        m_dwAnswer = kAnswerBadReply;
      }
      break;
    }
    case 0xA0080001:
      // The caller's record is filled only from a whole setup record.
      m_dwAnswer = m_protocol.ParseKeptReply(number, DSF_SETUP_GET, data, n) ? 0 : kAnswerBadReply;
      m_answerEvent.Set();
      break;
    case 0xA0030201:
    case 0xA0030202:
    case 0xA0030205:
    case 0xA0030207:
    case 0xA003020B:
    case 0xA003020F:
    case 0xA0031001:
    case 0xA0020008:
    case 0xA0060005:
    case 0xA0060007:
    case 0xA0080002: m_dwAnswer = 0; break;
    case 0xA0060009: {
      uint32_t v;
      m_protocol.ParseReply(number, data, n, &v);
      m_dwAnswer = 0;
      std::lock_guard<std::mutex> lk(m_listLock);
      m_list.clear();
      m_bWaitKey = true;
      break;
    }
    case 0xA0020006: break;
    case DSF_STREAM_OBJECT:
      if (n > 1 && data[0] == uint8_t(m_nChannel)) {
        m_protocol.ParseStreamHeader(data + 1, n - 1);
        {
          std::lock_guard<std::mutex> lk(m_listLock);
          m_nStreamWidth = m_protocol.Video().width;
          m_nStreamHeight = m_protocol.Video().height;
        }
        EndSession(true);
      }
      break;
    case DSF_STREAM_FRAME:
      if (n > 1 && data[0] == uint8_t(m_nChannel)) AddDataToList(data + 1, n - 1);
      break;
    case DSF_EVENT_SENSOR: {
      DSF_SENSOR_EVENT ev{};
      m_protocol.ParseReply(number, data, n, &ev);
      break;
    }
    case DSF_EVENT_SHUTDOWN:
      m_bShutdown = 1;
      SetError("System shutdown for repair(Server)");
      break;
    default: debug_outputf("[SDK TRACE]-Unknown Protocol = %x\n", number); break;
  }
}

void CClientSite::EndSession(bool flag) {
  debug_outputf(
      "[SDK TRACE]-Channel Changed, or File header changed Session(%d) End "
      "######################## \n",
      int(m_nChannel));
  int w, h;
  {
    std::lock_guard<std::mutex> lk(m_listLock);
    w = m_nStreamWidth;
    h = m_nStreamHeight;
  }
  if (flag) {
    if (w != m_nLastWidth || h != m_nLastHeight) {
      std::lock_guard<std::mutex> lk(m_decoderLock);
      CloseVideoDecoder();  // the next key frame starts a decoder for the new size
    }
    {
      std::lock_guard<std::mutex> lk(m_listLock);
      m_list.clear();
      m_bWaitKey = true;
      m_bAssembling = false;
    }
    WakeWaiters();
  }
  m_nLastWidth = w;
  m_nLastHeight = h;
}

void CClientSite::SendStartStream() {
  m_bWaitStream = 0;
  m_firstFrameEvent.Set();
  uint8_t pkt[12];
  const int n = m_protocol.BuildPacket(DSF_STREAM_READY, 1, nullptr, pkt);
  m_pSource->SendCommand(pkt, n, nullptr);
  m_bConnected = 1;
}

size_t CClientSite::DropToKeyFrame() {
  if (m_list.empty()) return 0;
  size_t n = 1;
  m_list.pop_front();
  for (; !m_list.empty() &&
         !(m_list.front().kind == 0 && m_list.front().key && !m_list.front().field);
       ++n)
    m_list.pop_front();
  return n;
}

// The list is bounded by count and by bytes (a DVR that ignores the hold, or a slow reader):
// the oldest frames go, up to the next key frame so decoding can go on, and are counted (the
// upkeep traces them once a second).
void CClientSite::QueueFrame(FrameItem&& item, const uint8_t* view, size_t length) {
  // Bytes still in the source's buffer are copied once, where they have to go. With no caller
  // waiting that is a buffer of the frame's own, filled before the list lock is taken so that
  // callers taking frames meanwhile are not held up by the copy.
  auto take = [&](FrameItem& to) {
    to.data = TakeSpare();
    to.data.assign(view, view + length);
    view = nullptr;
  };
  if (view && m_nWaiting.load(std::memory_order_acquire) == 0) take(item);
  size_t dropped = 0;
  bool wake = false;
  {
    std::lock_guard<std::mutex> lk(m_listLock);
    Waiter* w = nullptr;
    if (m_list.empty())
      for (Waiter* x : m_waiters)
        if (!x->filled) {
          w = x;
          break;
        }
    if (w) {
      // A caller waits for this very frame: it goes to that caller directly, into its buffer
      // when the frame fits there (the caller cannot leave while the lock is held); the
      // caller wakes now, or once the receive's frames are in.
      if (view && w->buffer && length <= w->room) {
        std::memcpy(w->buffer, view, length);
        item.inPlace = length;
      } else if (view) {
        take(item);
      }
      w->item = std::move(item);
      w->filled = true;
      w->told = wake = !m_bBurst;
    } else {
      if (view) take(item);  // the caller that was waiting has gone
      const size_t limit = m_bLive ? kLiveFrameLimit : kPlaybackFrameCap;
      const size_t bytes = m_bLive ? kFrameListBytes : kPlaybackByteCap;
      if (m_list.size() >= limit) dropped += DropToKeyFrame();
      while (!m_list.empty() && m_list.bytes() + item.data.size() > bytes)
        dropped += DropToKeyFrame();
      m_list.push_back(std::move(item));
      if (m_list.size() > 4) m_bResync = 0;
    }
  }
  if (dropped) m_nDropped += long(dropped);
  if (wake) m_frameCv.notify_all();
  if (!m_bLive && m_bFirstFrameWanted.exchange(0)) m_firstFrameEvent.Set();
}

void CClientSite::AddDataToList(const uint8_t* object, size_t length) {
  if (m_bStop) {
    EmptyList();
    return;
  }
  if (m_protocol.ParseFrame(object, length) != DSF_FRAME_KIND) return;
  const DSF_FRAME_OBJECT& f = m_protocol.Frame();
  const uint8_t kind = f.kind & 0x0F;
  if (kind == 1) {
    if (m_nNoAudio || !f.data || !f.dataLength) return;
    FrameItem a;
    a.kind = 1;
    a.timeOffset = f.timeOffset;
    QueueFrame(std::move(a), f.data, f.dataLength);
    return;
  }
  if (kind != 0) return;

  FrameItem item;
  const uint8_t* view = nullptr;  // a whole frame stays in the source's buffer until queued
  size_t size = 0;
  if (f.extension) {
    // A part of a split frame: parts arrive in order; anything else drops the assembly.
    std::lock_guard<std::mutex> lk(m_listLock);
    if (f.partIndex == 0) {
      m_bAssembling = f.parts > 1 && f.wholeSize <= kMaxAssembly && f.dataLength <= f.wholeSize;
      if (!m_bAssembling) {
        if (f.wholeSize > kMaxAssembly) SetError("frame too large");
        return;
      }
      m_nParts = f.parts;
      m_nNextPart = 1;
      m_nWhole = f.wholeSize;
      m_assembly.assign(f.data, f.data + f.dataLength);
      m_assemblyItem.timeOffset = f.timeOffset;
      m_assemblyItem.key = f.key;
      m_assemblyItem.field = f.flagC;
      return;
    }
    if (!m_bAssembling || f.partIndex != m_nNextPart || f.parts != m_nParts) {
      m_bAssembling = false;  // an orphan part, or one out of order
      return;
    }
    if (m_assembly.size() + f.dataLength > m_nWhole) {
      m_bAssembling = false;
      return;
    }
    if (f.dataLength) m_assembly.insert(m_assembly.end(), f.data, f.data + f.dataLength);
    if (++m_nNextPart < m_nParts) return;
    m_bAssembling = false;
    item = m_assemblyItem;
    item.data.swap(m_assembly);
    m_assembly.clear();
    view = item.data.data();
    size = item.data.size();
  } else {
    item.timeOffset = f.timeOffset;
    item.key = f.key;
    item.field = f.flagC;
    if (f.data && f.dataLength) {
      view = f.data;
      size = f.dataLength;
    }
  }

  {
    std::lock_guard<std::mutex> lk(m_listLock);
    if (m_bWaitKey) {
      if (!item.key || item.field) return;  // up to the next key frame (its first field)
      if (size == 0) {
        SetError("wrong data");
        return;
      }
      if (m_bGotoPending) {
        m_list.clear();
        m_dwPosition = item.timeOffset;
        m_bGotoPending = false;
      }
      m_bWaitKey = false;
    }
    if (item.key && size >= 4) m_bH264 = get_be32(view) == 1;
  }
  if (item.data.empty())
    QueueFrame(std::move(item), view, size);
  else
    QueueFrame(std::move(item));  // reassembled: its own bytes move along
}

// ---------------------------------------------------------------------------------------
// Handing frames out.

bool CClientSite::TakeItem(FrameItem* item, uint32_t timeout_ms, bool second, uint8_t* buffer,
                           size_t room) {
  const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
  Waiter waiter;
  waiter.buffer = buffer;
  waiter.room = buffer ? room : 0;
  std::unique_lock<std::mutex> lk(m_listLock);
  struct Leave {  // a waiter that goes takes no more frames
    CClientSite* site;
    Waiter* w;
    ~Leave() {
      auto& waiters = site->m_waiters;
      for (auto it = waiters.begin(); it != waiters.end(); ++it)
        if (*it == w) {
          waiters.erase(it);
          site->m_nWaiting.store(int(waiters.size()), std::memory_order_release);
          break;
        }
    }
  } leave{this, &waiter};
  bool listed = false;
  for (;;) {
    if (m_bStop) return false;
    if (waiter.filled) {
      *item = std::move(waiter.item);
      return true;
    }
    if (m_bCancelled.exchange(0)) {
      SetError("wait cancelled");
      return false;
    }
    if (!m_list.empty()) {
      *item = m_list.take_front();
      return true;
    }
    if (!listed) {
      m_waiters.push_back(&waiter);
      m_nWaiting.store(int(m_waiters.size()), std::memory_order_release);
      listed = true;
    }
    if (m_bLive && m_pSource) {
      // A live frame is received on this thread when the data thread lends the connection:
      // one wake-up a frame (the DVR's), not a second one from the data thread.
      const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
          end - std::chrono::steady_clock::now());
      if (left.count() > 0) {
        lk.unlock();
        const auto r = m_pSource->ReadForOwner(DSF_STREAM_FRAME, int(left.count()) + 1, [&] {
          std::lock_guard<std::mutex> g(m_listLock);
          return waiter.filled;
        });
        lk.lock();
        if (r != CDSFSource::READ_UNAVAILABLE || m_pSource->ReaderFree()) continue;
      }
    }
    // Looked at again under the lock: while it was let go above, a stop, cancel or frame may
    // have come and notified no one, and a wait for the next notice would sit out the whole
    // time-out (20 s live). A frame, cancel or stop at the deadline is still this wait's; a
    // connection free to read is only before it (past it nothing reads, so it would spin).
    const bool reader = m_bLive && m_pSource && std::chrono::steady_clock::now() < end;
    if (!m_frameCv.wait_until(lk, end, [&] {
          return waiter.filled || !m_list.empty() || m_bCancelled || m_bStop ||
                 (reader && m_pSource->ReaderFree());
        })) {
      if (second) SetError("time out3");
      return false;
    }
  }
}

int CClientSite::GetPacket(_SDK_PACKET* packet, _SDK_FRAME_INFO* info) {
  // Without decoding a frame that arrives while we wait goes straight to the caller's buffer.
  const bool direct = m_nOutput == 0;
  for (;;) {
    const uint32_t wait = m_nWaitTimeOut ? uint32_t(m_nWaitTimeOut) : m_bLive ? 20000u : 5000u;
    FrameItem item;
    // A frame's own buffer serves the next frames that have to be queued.
    struct Reuse {
      CClientSite* site;
      FrameItem& item;
      ~Reuse() { site->Recycle(std::move(item.data)); }
    } reuse{this, item};
    if (!TakeItem(&item, wait, false, direct ? packet->pBuffer : nullptr, SDK_FIRST_BUFFER_SIZE))
      return 0;
    if (item.Length() == 0) {
      SetError("wrong data");
      return 0;
    }
    // The frame's bytes: in the caller's first buffer already, or the item's own.
    const uint8_t* bytes = item.inPlace ? packet->pBuffer : item.data.data();
    const size_t length = item.Length();
    uint16_t year;
    int month, day, hour, minute, second, width, height;
    bool h264;
    {
      std::lock_guard<std::mutex> lk(m_listLock);
      year = m_wYear;
      month = m_bMonth;
      day = m_bDay;
      hour = m_bHour;
      minute = m_bMinute;
      second = m_bSecond;
      width = m_nStreamWidth;
      height = m_nStreamHeight;
      h264 = m_bH264;
    }
    if (info) {
      const int64_t base_ms = (DaysFromCivil(year, unsigned(std::clamp(month, 1, 12)),
                                             unsigned(std::clamp(day, 1, 31))) *
                                   86400 +
                               hour * 3600 + minute * 60 + second) *
                              1000;
      const int64_t t = base_ms + item.timeOffset;
      int y, m, d;
      CivilFromDays(t / 86400000, &y, &m, &d);
      const int64_t in_day = t % 86400000;
      info->wYear = uint16_t(y);
      info->wMonth = uint16_t(m);
      info->wDay = uint16_t(d);
      info->wHour = uint16_t(in_day / 3600000);
      info->wMinute = uint16_t(in_day / 60000 % 60);
      info->wSecond = uint16_t(in_day / 1000 % 60);
      info->wMilliseconds = uint16_t(in_day % 1000);
    }
    std::memset(packet, 0, 16);
    packet->dwLength2 = 0;
    packet->dwOutLength = 0;

    if (item.kind == 1) {
      if (length > SDK_FIRST_BUFFER_SIZE) {
        SetError("frame larger than the caller's buffer");
        return 0;
      }
      packet->bType = 1;
      packet->wCodec = h264 ? SDK_CODEC_AUDIO_H264 : SDK_CODEC_AUDIO_MPEG4;
      if (packet->pBuffer) {
        if (!item.inPlace) std::memcpy(packet->pBuffer, bytes, length);
        packet->dwLength = uint32_t(length);
      }
      if (packet->pOutput) {
        std::lock_guard<std::mutex> lk(m_decoderLock);
        int out = int(SDK_AUDIO_OUTPUT_SIZE);
        if (m_bAudioReady && m_audio.Decode(bytes, int(length), packet->pOutput, &out) == 1)
          packet->dwOutLength = uint32_t(out);
      }
      m_dwPosition = item.timeOffset;
      return 1;
    }

    const bool tall = h264 && height > 479;
    FrameItem second_field;
    Reuse reuse_second{this, second_field};
    bool have_second = false;
    if (tall) {
      if (item.field) {
        debug_outputf("Field info = %d \n", 1);
        continue;
      }
      if (!TakeItem(&second_field, 20000, true, direct ? packet->pBuffer2 : nullptr,
                    SDK_SECOND_BUFFER_SIZE))
        return 0;
      have_second =
          second_field.kind == 0 && second_field.Length() > 0;  // a field without data is none
      if (have_second && second_field.field == item.field) {
        debug_outputf("Abnormal frame ... : %d \n", int(second_field.field));
        have_second = false;
      }
    }
    if (length > SDK_FIRST_BUFFER_SIZE ||
        (have_second && second_field.Length() > SDK_SECOND_BUFFER_SIZE)) {
      SetError("frame larger than the caller's buffer");
      return 0;
    }
    packet->bType = 0;
    packet->wCodec = h264 ? SDK_CODEC_H264 : SDK_CODEC_MPEG4;
    packet->bTall = tall ? 1 : 0;
    packet->bKey = item.key ? 1 : 0;
    packet->wWidth = uint16_t(width);
    packet->wHeight = uint16_t(height);
    if (packet->pBuffer) {
      if (!item.inPlace) std::memcpy(packet->pBuffer, bytes, length);
      packet->dwLength = uint32_t(length);
    }
    if (have_second && packet->pBuffer2) {
      if (!second_field.inPlace)
        std::memcpy(packet->pBuffer2, second_field.data.data(), second_field.data.size());
      packet->dwLength2 = uint32_t(second_field.Length());
    }
    if (m_nOutput != 0) {
      // Decoding was switched on while we waited: the decoder takes the frame's own bytes.
      if (item.inPlace) item.data.assign(bytes, bytes + length);
      if (have_second && second_field.inPlace)
        second_field.data.assign(packet->pBuffer2, packet->pBuffer2 + second_field.inPlace);
      std::lock_guard<std::mutex> lk(m_decoderLock);
      if (m_bStop) return 0;
      if (!DecodeVideo(item, have_second ? &second_field : nullptr)) continue;  // no picture yet
      packet->wWidth = uint16_t(m_nWidth);
      packet->wHeight = uint16_t(m_nHeight);
      if (packet->pOutput && !WriteOutput(packet)) return 0;
    }
    m_dwPosition = item.timeOffset;
    return 1;
  }
}

// ---------------------------------------------------------------------------------------
// Upkeep, once a second on the library's timer thread.

void CClientSite::OnTimer() {
  // The upkeep's callback counts as the session's own thread: a Stop under way waits for it.
  InsideGuard inside(this);
  std::lock_guard<std::recursive_mutex> upkeep(m_upkeepLock);
  if (m_bStop) return;
  // Frames the list's limits dropped: traced here rather than per drop, which a reader that
  // falls behind a fast stream would make thousands a second.
  if (const long all = m_nDropped; all != m_nDroppedTraced) {
    debug_outputf("[SDK TRACE]-Frame list full: %ld frames dropped (%ld in all) Session(%d)\n",
                  all - m_nDroppedTraced, all, int(m_nChannel));
    m_nDroppedTraced = all;
  }
  if (m_bRecordEnd && m_bConnected && !m_bLive && QueuedFrames() == 0) {
    m_bRecordEnd = 0;
    uint8_t pkt[12];
    const int n = m_protocol.BuildPacket(DSF_PLAY_UPKEEP, 1, nullptr, pkt);
    m_pSource->SendCommand(pkt, n, nullptr);
  }
  if (m_bConnected && ++m_nKeepAlive >= kKeepAliveTicks) {
    m_nKeepAlive = 0;
    uint8_t pkt[12];
    const int n = m_protocol.BuildPacket(DSF_KEEP_ALIVE, 1, nullptr, pkt);
    m_pSource->SendCommand(pkt, n, nullptr);
  }
  if (m_bConnected && !m_bLive) {
    bool wait_key;
    size_t queued, bytes;
    {
      std::lock_guard<std::mutex> lk(m_listLock);
      wait_key = m_bWaitKey;
      queued = m_list.size();
      bytes = m_list.bytes();
    }
    if (!wait_key && !m_bResync) {
      if (!m_bHold && (queued > size_t(kHoldAbove) || bytes > kFrameListBytes))
        SendHold();
      else if (m_bHold && queued < size_t(kReleaseBelow))
        SendHold();
    }
  }
  if (m_bWaitStream && ++m_nStartWait > kStartWaitTicks) {
    m_bWaitStream = 0;
    if (!m_bConnected && !m_bStop) CallOpenCallback(0);
  }
}
