#include "platform/sync/sync.h"

#include <atomic>
#include <map>
#include <memory>

void SyncEvent::Set() {
  std::lock_guard<std::mutex> lk(m_lock);
  m_bSet = true;
  if (m_bManual)
    m_cv.notify_all();
  else
    m_cv.notify_one();
}

void SyncEvent::Reset() {
  std::lock_guard<std::mutex> lk(m_lock);
  m_bSet = false;
}

bool SyncEvent::Wait(uint32_t timeout_ms) {
  std::unique_lock<std::mutex> lk(m_lock);
  if (timeout_ms == SYNC_INFINITE) {
    m_cv.wait(lk, [&] { return m_bSet; });
  } else if (!m_cv.wait_for(lk, std::chrono::milliseconds(timeout_ms), [&] { return m_bSet; })) {
    return false;
  }
  if (!m_bManual) m_bSet = false;
  return true;
}

WorkerThread::~WorkerThread() {
  std::lock_guard<std::mutex> lk(m_lock);
  if (!m_thread.joinable()) return;
  if (m_thread.get_id() == std::this_thread::get_id())
    m_thread.detach();
  else
    m_thread.join();
}

bool WorkerThread::Start(std::function<void()> body) {
  std::lock_guard<std::mutex> lk(m_lock);
  if (m_thread.joinable()) return false;
  auto running = std::make_shared<std::atomic<bool>>(true);
  try {
    m_thread = std::thread([body = std::move(body), running] {
      body();
      running->store(false);
    });
  } catch (const std::system_error&) { return false; }
  m_id = m_thread.get_id();
  m_pRunning = running;
  return true;
}

void WorkerThread::Join() {
  std::thread t;
  {
    std::lock_guard<std::mutex> lk(m_lock);
    if (!m_thread.joinable() || m_thread.get_id() == std::this_thread::get_id()) return;
    t = std::move(m_thread);
  }
  t.join();
}

bool WorkerThread::Exists() const {
  std::lock_guard<std::mutex> lk(m_lock);
  return m_thread.joinable();
}

bool WorkerThread::Running() const {
  std::lock_guard<std::mutex> lk(m_lock);
  return m_thread.joinable() && m_pRunning && m_pRunning->load();
}

bool WorkerThread::IsCurrent() const {
  std::lock_guard<std::mutex> lk(m_lock);
  return m_thread.joinable() && m_id == std::this_thread::get_id();
}

namespace {

using Clock = std::chrono::steady_clock;

struct TimerEntry {
  Clock::duration period;
  Clock::time_point next;
  std::shared_ptr<SyncTimerProc> proc;
};

// One service thread for every timer of the process, started with the first timer and
// joined when the last one is removed (a library that stops its timers leaves no thread
// behind); the next timer starts a new one.
class TimerService {
 public:
  ~TimerService() {
    {
      std::lock_guard<std::mutex> lk(m_lock);
      m_bQuit = true;
    }
    m_wake.notify_all();
    if (m_thread.joinable()) {
      if (m_thread.get_id() == std::this_thread::get_id())
        m_thread.detach();
      else
        m_thread.join();
    }
  }

  unsigned Add(unsigned period_ms, SyncTimerProc proc) {
    if (period_ms == 0 || !proc) return 0;
    std::lock_guard<std::mutex> lk(m_lock);
    if (m_bQuit) return 0;
    if (!m_thread.joinable()) {
      try {
        m_thread = std::thread([this, gen = m_nGeneration] { Run(gen); });
      } catch (const std::system_error&) { return 0; }
    }
    unsigned id = m_nNextId++;
    if (m_nNextId == 0) m_nNextId = 1;
    const auto period = std::chrono::milliseconds(period_ms);
    m_timers[id] =
        TimerEntry{period, Clock::now() + period, std::make_shared<SyncTimerProc>(std::move(proc))};
    m_wake.notify_all();
    return id;
  }

  int Remove(unsigned id) {
    std::thread retired;
    {
      std::unique_lock<std::mutex> lk(m_lock);
      if (m_timers.erase(id) == 0) return -1;
      m_wake.notify_all();
      const bool on_service = std::this_thread::get_id() == m_thread.get_id();
      if (!on_service) m_done.wait(lk, [&] { return m_nRunning != id; });
      // From inside a procedure the thread cannot join itself: it stays for the next timer.
      if (m_timers.empty() && !on_service && m_thread.joinable()) {
        ++m_nGeneration;
        retired = std::move(m_thread);
        m_wake.notify_all();
      }
    }
    if (retired.joinable()) retired.join();
    return 0;
  }

 private:
  // A thread runs while the generation it was started with is current.
  void Run(unsigned gen) {
    set_current_thread_name("sdk timer");  // the SDK's multimedia timers are its only users
    std::unique_lock<std::mutex> lk(m_lock);
    while (!m_bQuit && gen == m_nGeneration) {
      if (m_timers.empty()) {
        m_wake.wait(lk);
        continue;
      }
      auto due = m_timers.begin();
      for (auto it = m_timers.begin(); it != m_timers.end(); ++it)
        if (it->second.next < due->second.next) due = it;
      const auto now = Clock::now();
      if (now < due->second.next) {
        const Clock::time_point deadline = due->second.next;  // the entry may go meanwhile
        m_wake.wait_until(lk, deadline);
        continue;
      }
      TimerEntry& e = due->second;
      e.next += e.period;
      while (e.next <= now) e.next += e.period;
      const unsigned id = due->first;
      std::shared_ptr<SyncTimerProc> proc = e.proc;
      m_nRunning = id;
      lk.unlock();
      (*proc)(id);
      lk.lock();
      if (m_nRunning == id) m_nRunning = 0;
      m_done.notify_all();
    }
  }

  std::mutex m_lock;
  std::condition_variable m_wake;
  std::condition_variable m_done;
  std::map<unsigned, TimerEntry> m_timers;
  unsigned m_nNextId = 1;
  unsigned m_nRunning = 0;
  unsigned m_nGeneration = 0;
  bool m_bQuit = false;
  std::thread m_thread;
};

TimerService& service() {
  static TimerService s;
  return s;
}

}  // namespace

unsigned SyncTimerSetEvent(unsigned period_ms, SyncTimerProc proc) {
  return service().Add(period_ms, std::move(proc));
}

int SyncTimerKillEvent(unsigned id) { return service().Remove(id); }
