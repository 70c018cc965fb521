// Windows-shaped synchronisation for the SDK's worker threads, on the C++ standard library:
// events with automatic or manual reset, a re-entrant critical section, a worker thread that
// its owner joins, and a periodic timer service on the monotonic clock; the thread names of
// thread_name.h come with it.
//
// Every call is thread-safe. Nothing here throws except std::bad_alloc.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>

#include "platform/sync/thread_name.h"

// "Wait without limit" for SyncEvent::Wait.
constexpr uint32_t SYNC_INFINITE = 0xFFFFFFFFu;

// An event: Set wakes one waiter and is consumed by it (auto reset) or stays set until Reset
// (manual reset). A Set before the Wait is never lost.
class SyncEvent {
 public:
  explicit SyncEvent(bool manual_reset = false, bool initially_set = false)
      : m_bManual(manual_reset), m_bSet(initially_set) {}
  SyncEvent(const SyncEvent&) = delete;
  SyncEvent& operator=(const SyncEvent&) = delete;

  void Set();
  void Reset();
  // true when signalled, false when `timeout_ms` passed first (SYNC_INFINITE: no limit).
  bool Wait(uint32_t timeout_ms = SYNC_INFINITE);

 private:
  std::mutex m_lock;
  std::condition_variable m_cv;
  const bool m_bManual;
  bool m_bSet;
};

// A critical section: the owning thread may enter again. Usable with std::lock_guard.
class CriticalSection {
 public:
  void lock() { m_mutex.lock(); }
  void unlock() { m_mutex.unlock(); }
  bool try_lock() { return m_mutex.try_lock(); }

 private:
  std::recursive_mutex m_mutex;
};

// A worker thread that never deletes itself: its owner joins it. Join from the thread itself
// returns at once (the thread is joined later by another caller or detached by the
// destructor), so an owner torn down from inside one of its own callbacks cannot deadlock.
class WorkerThread {
 public:
  WorkerThread() = default;
  ~WorkerThread();
  WorkerThread(const WorkerThread&) = delete;
  WorkerThread& operator=(const WorkerThread&) = delete;

  // Starts `body`; false when a thread is already held (joined or not) or cannot be created.
  bool Start(std::function<void()> body);
  // Waits without limit for the thread to end; nothing when there is none or on itself.
  void Join();
  // A thread was started and not yet joined.
  bool Exists() const;
  // The thread was started and its body has not returned yet.
  bool Running() const;
  // The calling thread is this worker.
  bool IsCurrent() const;
  // Windows raises a stopping thread's priority; on Linux that gains nothing.
  void RaisePriority() {}

 private:
  mutable std::mutex m_lock;
  std::thread m_thread;
  std::thread::id m_id;
  std::shared_ptr<std::atomic<bool>> m_pRunning;
};

// The periodic timer service behind the SDK's multimedia timer: one service thread calls
// each timer's procedure at absolute deadlines (start + k x period on the monotonic clock),
// one call after another, never overlapping. A late service skips missed ticks rather than
// bunching them. The thread starts with the first timer and ends when the last is removed
// from another thread.
using SyncTimerProc = std::function<void(unsigned id)>;

// A new periodic timer of `period_ms` (at least 1): its id (never 0), or 0 when it cannot
// be created.
unsigned SyncTimerSetEvent(unsigned period_ms, SyncTimerProc proc);
// Ends timer `id`: 0 done, -1 unknown id. Called from another thread while the timer's
// procedure runs, it waits for that call to return; called from inside a procedure it
// returns at once (the service thread never waits for itself). No call of the procedure
// starts after it returns.
int SyncTimerKillEvent(unsigned id);
