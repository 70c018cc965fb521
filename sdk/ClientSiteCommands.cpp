// CClientSite's commands: the PTZ, preset, relay and setup requests of a live session, the
// playback speeds and go-to of a playback one, each sent and waited for under m_answerLock, and
// the hold and release of a playback stream.
#include <cstring>

#include "platform/debug/debug_output.h"
#include "platform/quellvid/quellvid.h"
#include "sdk/ClientSite.h"

namespace {
const char* PlayTypeName(int t) {
  switch (t) {
    case CClientSite::PLAY_NORMAL_FWD: return "NormalFWD";
    case CClientSite::PLAY_NORMAL_BWD: return "NormalBWD";
    case CClientSite::PLAY_FAST_FWD: return "FastFWD";
    case CClientSite::PLAY_FAST_BWD: return "FastBWD";
    default: return "Hold";
  }
}
}  // namespace

// ---------------------------------------------------------------------------------------
// Commands.

int CClientSite::WaitForAnswer() {
  const bool signalled = m_answerEvent.Wait(kAnswerWaitMs);
  const uint32_t code = signalled && !m_bStop ? m_dwAnswer.load() : kAnswerPending;
  debug_outputf("[SDK TRACE]-WaitForAnswer Returned = %d\n", int(code));
  if (code == kAnswerBadReply) {
    SetError("wrong data");
  } else if (code != 0) {
    std::string text;
    if (m_pSource) m_pSource->GetLastError(&text);
    SetError(text.empty() ? std::string("no answer") : text);
  }
  return int(code);
}

// Builds, sends and waits for one request; the caller holds m_answerLock. 1 answered.
int CClientSite::SendRequest(uint32_t number, const void* record, bool wait) {
  std::vector<uint8_t> pkt(12 + CDSFProtocol::MaxPayload());
  m_dwAnswer = kAnswerPending;
  m_answerEvent.Reset();
  const int n = m_protocol.BuildPacket(number, 1, record, pkt.data());
  int queued;
  if (number == DSF_SETUP_GET || number == DSF_SETUP_SET)
    queued = m_pSource->SendSetupCommand(pkt.data(), n, &m_answerEvent);
  else
    queued = m_pSource->SendCommand(pkt.data(), n, &m_answerEvent);
  int result = 0;
  if (!queued) {
    std::string text;
    m_pSource->GetLastError(&text);
    SetError(text);
  } else if (wait) {
    result = WaitForAnswer() == 0 ? 1 : 0;
  }
  // A reply that comes after the wait must find no record of the caller's to fill.
  m_protocol.ForgetRecord(number);
  return result;
}

int CClientSite::CanCommand(bool live_only, bool playback_only) {
  if (m_bStop || !m_bConnected) {
    SetError("not connected yet");
    return 0;
  }
  if (live_only && !m_bLive) {
    SetError("VOD not support!");
    return 0;
  }
  if (playback_only && m_bLive) {
    SetError("Live not support!");
    return 0;
  }
  return 1;
}

int CClientSite::Command(uint32_t number, const void* record, bool live_only, bool playback_only) {
  if (!CanCommand(live_only, playback_only)) return 0;
  std::lock_guard<std::mutex> lk(m_answerLock);
  return SendRequest(number, record, true);
}

int CClientSite::ControlPTZ(int code) {
  DSF_PTZ_MOVE r{uint8_t(m_nChannel), uint8_t(code)};
  return Command(DSF_PTZ_MOVE_REQ, &r, true, false);
}

int CClientSite::SendPTZFunction(uint8_t function, uint8_t a, uint8_t b) {
  DSF_PTZ_FUNCTION r{uint8_t(m_nChannel), function, a, b};
  return Command(DSF_PTZ_FUNCTION_REQ, &r, true, false);
}

int CClientSite::SendPTZMenu(uint8_t key) {
  DSF_PTZ_MENU r{uint8_t(m_nChannel), key};
  return Command(DSF_PTZ_MENU_REQ, &r, true, false);
}

int CClientSite::ControlPTZBypass(const uint8_t* bytes, uint8_t count) {
  DSF_PTZ_BYPASS r{};
  r.channel = uint8_t(m_nChannel);
  r.count = count;
  if (count) std::memcpy(r.bytes, bytes, count);
  return Command(DSF_PTZ_BYPASS_REQ, &r, true, false);
}

int CClientSite::PresetSet(int preset) {
  DSF_PRESET_SET r{uint8_t(m_nChannel), uint8_t(preset), 0};
  return Command(DSF_PRESET_SET_REQ, &r, true, false);
}

int CClientSite::PresetRun(int preset) {
  DSF_PRESET_RUN r{uint8_t(m_nChannel), uint8_t(preset), 0};
  return Command(DSF_PRESET_RUN_REQ, &r, true, false);
}

int CClientSite::GetRelayState(int* a, int* b) {
  {
    std::lock_guard<std::mutex> lk(m_listLock);
    m_relay = DSF_RELAY_STATE{};
  }
  uint8_t none = 0;
  if (!Command(DSF_RELAY_GET, &none, true, false)) return 0;
  std::lock_guard<std::mutex> lk(m_listLock);
  *a = m_relay.count;
  int bits = 0;
  for (int i = 0; i < m_relay.count && i < 31; ++i)
    if (m_relay.state[i]) bits |= 1 << i;
  *b = bits;
  return 1;
}

int CClientSite::SetRelayState(int relay, int on) {
  DSF_RELAY_SET r{uint8_t(on), uint8_t(relay)};
  return Command(DSF_RELAY_SET_REQ, &r, true, false);
}

int CClientSite::GetDVRSetup(_SDK_DVRSETUP* setup) {
  return Command(DSF_SETUP_GET, setup, true, false);
}

int CClientSite::SetDVRSetup(_SDK_DVRSETUP* setup) {
  return Command(DSF_SETUP_SET, setup, true, false);
}

void CClientSite::WaitFirstFrame() {
  if (QueuedFrames() >= 2) return;
  m_bFirstFrameWanted = 1;
  m_firstFrameEvent.Wait(4000);
  m_bFirstFrameWanted = 0;
}

int CClientSite::RequestVariousPlayType(int type) {
  if (!CanCommand(false, true)) return 0;
  if ((type == PLAY_NORMAL_BWD || type == PLAY_FAST_FWD || type == PLAY_FAST_BWD) && m_bHold) {
    SendHold();  // asked again while held: release
    return 1;
  }
  const uint32_t position = m_dwPosition ? m_dwPosition.load() : m_param.dwPlayTime;
  DSF_PLAY_SPEED r{position, uint8_t(type == PLAY_NORMAL_FWD || type == PLAY_FAST_FWD ? 1 : 0)};
  const uint32_t number = type <= PLAY_NORMAL_BWD ? DSF_PLAY_NORMAL : DSF_PLAY_FAST;
  {
    std::lock_guard<std::mutex> lk(m_listLock);
    m_list.clear();
    m_bWaitKey = true;
  }
  m_bHold = 0;
  {
    std::lock_guard<std::mutex> lk(m_decoderLock);
    if (m_hMpeg4) quellvid::Ex_ClearBuffer(m_hMpeg4);
  }
  m_nPlayType = type;
  const uint32_t s = position / 1000;
  debug_outputf(
      "[SDK TRACE]- [%d]RequestVariousPlayType PlayType >> %s(%04d/%02d/%02d %02d:%02d:%02d) \n",
      int(m_nChannel), PlayTypeName(type), int(m_param.dwPlayDate / 10000),
      int(m_param.dwPlayDate / 100 % 100), int(m_param.dwPlayDate % 100), int(s / 3600 % 24),
      int(s / 60 % 60), int(s % 60));
  std::lock_guard<std::mutex> lk(m_answerLock);
  return SendRequest(number, &r, true);
}

int CClientSite::NormalForward() {
  WaitFirstFrame();
  return RequestVariousPlayType(PLAY_NORMAL_FWD);
}

int CClientSite::FastForward() {
  WaitFirstFrame();
  return RequestVariousPlayType(PLAY_FAST_FWD);
}

int CClientSite::FastBackward() {
  WaitFirstFrame();
  return RequestVariousPlayType(PLAY_FAST_BWD);
}

int CClientSite::PlayGoto(uint32_t date, uint32_t time) {
  if (!CanCommand(false, true)) return 0;
  DSF_PLAY_GOTO r{m_param.dwPlayDate, time, uint8_t(time)};
  {
    std::lock_guard<std::mutex> lk(m_listLock);
    m_list.clear();
    m_bWaitKey = true;
    m_bGotoPending = true;
  }
  m_bHold = 0;
  debug_outputf("[SDK TRACE]-Request Time >>>>>>>>>>> Date : %d, Time : %d, CurrTime(%d)\n",
                int(date), int(time), int(m_dwPosition.load()));
  std::lock_guard<std::mutex> lk(m_answerLock);
  return SendRequest(DSF_PLAY_GOTO_REQ, &r, true);
}

// Hold (0) when running, release (1) when held; the hold packet carries flag word 0.
void CClientSite::SendHold() {
  const bool held = m_bHold;
  uint8_t pkt[13] = {0x00, 0x02, 0x00, 0x08, 0, 0, 0, 0, 0, 0, 0, 1, uint8_t(held ? 1 : 0)};
  if (held) {
    std::lock_guard<std::mutex> lk(m_listLock);
    m_list.clear();
    m_bResync = 1;
  }
  m_bHold = held ? 0 : 1;
  m_pSource->SendCommand(pkt, sizeof pkt, nullptr);
}
