// CClientSite: one open session, a live or playback stream of one channel of one DVR. It owns
// the DVR connection (CDSFSource) and the protocol object, queues the frames that arrive,
// hands them out one at a time (decoding on the caller's thread when asked), carries out the
// PTZ, preset, relay, setup and playback commands, reports state changes through its notify
// thread and keeps its last error text.
//
// Threads: application threads call GetPacket and the commands; the source's threads call
// OnPacket/OnStatus/OnRecordEnd (one at a time each; a live session's frames may come on the
// GetPacket caller's thread that receives them, see CDSFSource); the notify thread reports status
// codes; the library's timer thread calls OnTimer. The frame list, the decoders (start, decode and
// close under one lock), the answer wait and the error text each have their own lock. Every
// wait is bounded and released by CancelWait and Stop. The application object owns sessions
// through shared pointers and destroys one only once no thread is inside it (see
// COrvoSDKApp); Stop never joins the calling thread.
//
// Files: ClientSite.cpp the session's life (start, stop, status, the packets received, the
// frames handed out, the upkeep), ClientSiteDecode.cpp its decoding, ClientSiteCommands.cpp
// its commands; the frame list's types are in FrameList.h.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "platform/sync/sync.h"
#include "sdk/AudioDecoder.h"
#include "sdk/DSFSource.h"
#include "sdk/FrameList.h"
#include "sdk/OrvoSDK.h"
#include "sdk/PictureConverter.h"
#include "sdk/Protocol/DSFProtocol.h"

class CVDecoder;
class COrvoSDKApp;

// The 28-byte copy of the open parameters SDK_Open hands a session.
struct SITE_OPEN_PARAM {
  int32_t nDvrId;
  uint8_t bLiveByte;  // always 1: lets the channel information start the data connection
  uint8_t bValue0;    // _SDK_CONN_PARAM byte 0
  uint8_t bZero;
  uint8_t bPad;
  uint32_t dwValue2;  // _SDK_CONN_PARAM's 16-bit value, widened
  uint32_t dwValue8, dwValue12;
  uint32_t dwPlayDate, dwPlayTime;
};
static_assert(sizeof(SITE_OPEN_PARAM) == 28);

class CClientSite final : public CDSFSourceOwner {
 public:
  // Play types of RequestVariousPlayType.
  enum {
    PLAY_HOLD = 10,
    PLAY_NORMAL_FWD = 11,
    PLAY_NORMAL_BWD = 12,
    PLAY_FAST_FWD = 13,
    PLAY_FAST_BWD = 14
  };
  static constexpr uint32_t kAnswerPending = 0xF000;
  static constexpr uint32_t kAnswerBadReply = 0xF001;  // answered with a reply that did not read
  static constexpr uint32_t kAnswerWaitMs = 20000;     // bound of a command's wait
  static constexpr size_t kMaxAssembly = 256 * 1024;   // a reassembled frame
  static constexpr size_t kLiveFrameLimit = 90;        // live: queued frames kept
  static constexpr size_t kPlaybackFrameCap = 1500;    // playback: even when the DVR ignores a hold
  // Bytes a live list may hold whatever the count: past it the oldest frames go (counted). A
  // playback list holding more is held like one of more than kHoldAbove frames, so large
  // frames pause the DVR as small ones do; it drops only past kPlaybackByteCap (a DVR that
  // ignores the hold), as it does past kPlaybackFrameCap.
  static constexpr size_t kFrameListBytes = 16 << 20;
  static constexpr size_t kPlaybackByteCap = 5 * kFrameListBytes;
  static constexpr int kHoldAbove = 300, kReleaseBelow = 30;
  static constexpr int kKeepAliveTicks = 180, kStartWaitTicks = 15;
  static constexpr size_t kSpareBuffers = 8;

  explicit CClientSite(COrvoSDKApp* app);
  virtual ~CClientSite();
  CClientSite(const CClientSite&) = delete;
  CClientSite& operator=(const CClientSite&) = delete;

  // Keeps the values, starts the notify thread and the source's log-on. 1, or 0 (the session
  // is unusable; the reason is in the trace and the last error).
  int Start(const char* address, int channel, const char* user, const char* password, int port,
            const SITE_OPEN_PARAM& param, SDK_OPEN_CALLBACK callback, int channel2, int live,
            void* user_value);
  // Stops the source and the notify thread, releases every wait and closes the decoders.
  // Joins no thread that is the caller. A second Stop returns once the first has ended,
  // except on one of the session's own threads (a callback), where it returns at once.
  void Stop();

  // CDSFSourceOwner.
  void OnPacket(uint32_t number, const uint8_t* data, int length) override;
  void OnStatus(int code) override;
  void OnRecordEnd() override;
  void OnBurst(bool begins) override;
  bool CallerWaiting() override { return m_nWaiting.load(std::memory_order_acquire) > 0; }
  void OnReaderFree() override;

  // The next frame into the caller's record (checked by the export): 1 delivered, 0 none.
  int GetPacket(_SDK_PACKET* packet, _SDK_FRAME_INFO* info);
  void CancelWait();
  void GetLastError(char* buf, int size);
  std::string LastError();
  void SetPacketParam(const _SDK_PACKET_PARAM& p);
  void SetDeinterlace(int on) { m_nDeinterlace = on ? 1 : 0; }
  // 0 restores the defaults (20000 ms live, 5000 ms playback).
  void SetWaitTimeout(uint32_t ms) { m_nWaitTimeOut = ms; }

  // Commands: 1 answered, 0 failed (the reason in the last error).
  int ControlPTZ(int code);  // also AutoPan, Tour, Zoom, Focus, Iris
  int SendPTZFunction(uint8_t function, uint8_t a, uint8_t b);
  int SendPTZMenu(uint8_t key);
  int ControlPTZBypass(const uint8_t* bytes, uint8_t count);
  int PresetSet(int preset);
  int PresetRun(int preset);
  int GetRelayState(int* a, int* b);
  int SetRelayState(int relay, int on);
  int GetDVRSetup(_SDK_DVRSETUP* setup);
  int SetDVRSetup(_SDK_DVRSETUP* setup);
  int NormalForward();
  int FastForward();
  int FastBackward();
  int PlayGoto(uint32_t date, uint32_t time);

  // The once-a-second upkeep (hold/release, keep-alive, start-wait). Stop waits for one under
  // way; none does anything after Stop.
  void OnTimer();
  // Releases a blocked GetPacket (the DVR became unreachable).
  void ReleaseFrameWait();

  // The calling thread is one of `site`'s own (source or notify thread, or the timer thread in
  // its upkeep: inside a callback). `site` is only compared, never used.
  static bool InsideOwnThread(const CClientSite* site);
  int OutputFormat() const { return m_nOutput; }
  // Identity: read by other threads (Disconnect, the alive test) while Start may still run.
  int DvrId() const { return m_nDvrId; }
  int Channel() const { return m_nChannel; }
  int IsLive() const { return m_bLive; }
  int IsConnected() const { return m_bConnected; }
  std::string Address();
  size_t QueuedFrames();
  size_t QueuedBytes();
  // Frames the list's limits dropped since the session started.
  long DroppedFrames() const { return m_nDropped; }
  int IsHeld() const { return m_bHold; }

 private:
  // A GetPacket waiting on an empty list (all under m_listLock): the next frame is handed to
  // it directly, into the caller's buffer (`buffer`, `room`) when it may go there whole,
  // without a list pass.
  struct Waiter {
    uint8_t* buffer = nullptr;
    size_t room = 0;
    bool filled = false;
    bool told = false;  // woken for its frame
    FrameItem item;
  };

  void NotifyLoop();
  void Report(int code);
  void CallOpenCallback(int state);
  void SetError(const std::string& text);
  // 1 when a command may go now: connected, and live or playback as the command needs;
  // otherwise 0 with the error text set.
  int CanCommand(bool live_only, bool playback_only);
  void AddDataToList(const uint8_t* object, size_t length);
  // Queues a frame or hands it to a waiting GetPacket. Its bytes are item.data, or `view`
  // (`length` bytes still in the source's buffer, copied only where they have to go).
  void QueueFrame(FrameItem&& item, const uint8_t* view = nullptr, size_t length = 0);
  size_t DropToKeyFrame();  // under m_listLock; the frames dropped
  void WakeWaiters();       // a cancel, the stop or a new stream (not under m_listLock)
  void Recycle(std::vector<uint8_t>&& bytes);
  std::vector<uint8_t> TakeSpare();  // a frame buffer used before, or an empty one
  void EmptyList();
  void EndSession(bool flag);
  void SendStartStream();
  void SendHold();
  int SendRequest(uint32_t number, const void* record, bool wait);
  int Command(uint32_t number, const void* record, bool live_only, bool playback_only);
  int WaitForAnswer();
  int RequestVariousPlayType(int type);
  void WaitFirstFrame();
  // The next frame within `timeout_ms`; one that arrives meanwhile may go straight into
  // `buffer` (`room` bytes; null: never).
  bool TakeItem(FrameItem* item, uint32_t timeout_ms, bool second, uint8_t* buffer, size_t room);

  // Decoding (under m_decoderLock).
  int StartVideoDecoder(const uint8_t* config, size_t length);
  void CloseVideoDecoder();
  bool DecodeVideo(const FrameItem& first, const FrameItem* second);
  bool DecodeH264(CVDecoder* dec, const std::vector<uint8_t>& frame, uint8_t* planes[3]);
  void CopyPlanes(uint8_t* const planes[3], int rows, int row_step, int first_row, bool h264);
  int WriteOutput(_SDK_PACKET* packet);

  COrvoSDKApp* m_pApp;
  std::mutex m_identityLock;  // m_strAddress against Address()
  std::string m_strAddress, m_strUser, m_strPassword;
  std::atomic<int> m_nChannel{0}, m_nDvrId{-1};
  int m_nPort = 0, m_nChannel2 = 0;
  std::atomic<int> m_bLive{1};
  SDK_OPEN_CALLBACK m_pCallback = nullptr;
  void* m_pUserValue = nullptr;
  SITE_OPEN_PARAM m_param{};

  std::unique_ptr<CDSFSource> m_pSource;
  CDSFProtocol m_protocol;
  std::mutex m_answerLock;  // one request built, sent and waited for at a time
  SyncEvent m_answerEvent{false, false};
  std::atomic<uint32_t> m_dwAnswer{0};
  std::vector<uint8_t> m_sendBuffer;
  DSF_RELAY_STATE m_relay{};

  std::mutex m_statusLock;
  std::deque<int> m_statusQueue;
  SyncEvent m_statusEvent{false, false};
  WorkerThread m_pNotifyThread;
  std::atomic<int> m_bNotifyEnd{0};

  std::atomic<int> m_bConnected{0}, m_bStarted{0}, m_bWaitStream{0}, m_bStop{0};
  std::atomic<int> m_bShutdown{0}, m_bRecordEnd{0}, m_bHold{0}, m_bResync{0};
  std::atomic<int> m_bCancelled{0}, m_bStateZeroSent{0};
  std::atomic<int> m_nKeepAlive{0}, m_nStartWait{0}, m_nPlayType{0};
  // Held by the upkeep; Stop takes it once, so it returns only after an upkeep under way (and
  // the open callback it may call) has ended. Re-entrant: that callback may close the session.
  std::recursive_mutex m_upkeepLock;
  std::mutex m_stopLock;  // m_bStopped: the first Stop has ended
  std::condition_variable m_stopCv;
  bool m_bStopped = false;
  std::atomic<uint32_t> m_dwPosition{0};
  SyncEvent m_firstFrameEvent{true, false};
  std::atomic<int> m_bFirstFrameWanted{0};

  // The frame list.
  std::mutex m_listLock;
  FrameList m_list;
  std::vector<Waiter*> m_waiters;  // in the order they came
  std::atomic<int> m_nWaiting{0};  // m_waiters.size(), read without the lock
  // Wakes waiters; notified after m_listLock is let go, so a woken caller finds it free.
  std::condition_variable m_frameCv;
  bool m_bBurst = false;                      // frames of one receive are coming: wake at its end
  std::mutex m_spareLock;                     // apart from m_listLock: taken around copies
  std::vector<std::vector<uint8_t>> m_spare;  // frame buffers to use again (at most kSpareBuffers)
  std::atomic<long> m_nDropped{0};
  long m_nDroppedTraced = 0;        // upkeep thread
  bool m_bWaitKey = true;           // drop video until a key frame (stream start, go-to, speed)
  bool m_bGotoPending = false;      // the key frame after a go-to becomes the position
  bool m_bVideoStarted = false;     // a key frame started the stream's video
  std::vector<uint8_t> m_assembly;  // a split frame being reassembled
  bool m_bAssembling = false;
  int m_nParts = 0, m_nNextPart = 0;
  size_t m_nWhole = 0;
  FrameItem m_assemblyItem;
  // Stream description taken from the header (read by GetPacket).
  uint16_t m_wYear = 1970;
  uint8_t m_bMonth = 1, m_bDay = 1, m_bHour = 0, m_bMinute = 0, m_bSecond = 0;
  bool m_bH264 = false;
  int m_nStreamWidth = 0, m_nStreamHeight = 0, m_nLastWidth = 0, m_nLastHeight = 0;

  // Decoders.
  std::mutex m_decoderLock;
  std::vector<uint8_t> m_config;  // the 128-byte configuration of the running decoder
  bool m_bDecoderWanted = false;  // a key frame asked for a decoder (set up on first use)
  void* m_hMpeg4 = nullptr;
  CVDecoder* m_pH264[2] = {nullptr, nullptr};
  int m_nWidth = 0, m_nHeight = 0;  // the delivered picture (a tall one: both fields)
  std::vector<uint8_t> m_picture;   // packed I420 of m_nWidth x m_nHeight
  std::vector<uint8_t> m_deinterlaced;
  std::vector<uint8_t> m_work;  // one NAL unit for Tessra
  std::vector<uint8_t> m_packed422;
  CPictureConverter m_converter;
  CAudioDecoder m_audio;
  bool m_bAudioReady = false;

  std::atomic<int> m_nNoAudio{0}, m_nOutput{0}, m_nDeinterlace{0};
  std::atomic<uint32_t> m_nWaitTimeOut{0};

  std::mutex m_errorLock;
  std::string m_strLastError;
};
