// The SDK's periodic timer: CTimerBase with a virtual OnTimer, and CMultimediaTimer, which
// runs OnTimer from the periodic timer service at a fixed period. All running timers of the
// process are found through one table (timer id -> object) whose lock is held while OnTimer
// runs, so OnTimer calls never overlap and Start/Stop on other threads wait for a running
// OnTimer to return. Stop from inside OnTimer is allowed: the lock is re-entrant and the
// timer thread never waits for itself.
#pragma once

class CTimerBase {
 public:
  virtual ~CTimerBase() = default;
  // 1 started; 0 when already active or the timer cannot be created.
  virtual int Start(unsigned interval_ms) = 0;
  // 1 stopped (or not active); 0 when the system timer could not be ended.
  virtual int Stop() = 0;
  virtual int IsActive() { return m_bActive; }
  virtual void OnTimer() = 0;

 protected:
  int m_bActive = 0;
  unsigned m_nTimerId = 0;
};

class CMultimediaTimer : public CTimerBase {
 public:
  CMultimediaTimer() = default;
  CMultimediaTimer(const CMultimediaTimer&) = delete;
  CMultimediaTimer& operator=(const CMultimediaTimer&) = delete;
  ~CMultimediaTimer() override;

  int Start(unsigned interval_ms) override;
  int Stop() override;
  void OnTimer() override {}

  // The timer procedure: under the table's lock, calls OnTimer of the timer of `id` when it
  // is still in the table.
  static void TimerProc(unsigned id);
};
