#include "sdk/MultimediaTimer.h"

#include <mutex>
#include <unordered_map>

#include "platform/sync/sync.h"

namespace {
struct TimerTable {
  CriticalSection lock;
  std::unordered_map<unsigned, CTimerBase*> timers;
};

TimerTable& table() {
  static TimerTable t;
  return t;
}
}  // namespace

CMultimediaTimer::~CMultimediaTimer() {
  if (m_bActive) Stop();
}

int CMultimediaTimer::Start(unsigned interval_ms) {
  if (m_bActive) return 0;
  // The table entry exists before the first tick can look for it.
  TimerTable& t = table();
  std::lock_guard<CriticalSection> lk(t.lock);
  const unsigned id = SyncTimerSetEvent(interval_ms, &CMultimediaTimer::TimerProc);
  if (id == 0) return 0;
  m_nTimerId = id;
  t.timers[id] = this;
  m_bActive = 1;
  return 1;
}

int CMultimediaTimer::Stop() {
  if (!m_bActive) return 1;
  {
    TimerTable& t = table();
    std::lock_guard<CriticalSection> lk(t.lock);
    t.timers.erase(m_nTimerId);
  }
  if (SyncTimerKillEvent(m_nTimerId) != 0) return 0;
  m_bActive = 0;
  m_nTimerId = 0;
  return 1;
}

void CMultimediaTimer::TimerProc(unsigned id) {
  TimerTable& t = table();
  std::lock_guard<CriticalSection> lk(t.lock);
  auto it = t.timers.find(id);
  if (it != t.timers.end()) it->second->OnTimer();
}
