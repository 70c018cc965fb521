#include "client/links/link_notices.h"

#include <atomic>
#include <cstdio>
#include <cstring>
#include <deque>
#include <mutex>

#include "client/foundation/user_events.h"

namespace {

std::mutex g_lock;
std::deque<LINK_NOTICE> g_queue;
std::atomic<uint64_t> g_dropped{0};
bool g_dropping = false;  // a run of drops is under way (its line printed)
std::atomic<bool> g_wake_pending{false};

// One wake-up at a time: the loop drains everything queued when it handles it, and it
// drains after every other event too, so a wake-up refused by a full SDL queue loses nothing.
void wake_window_loop() {
  if (g_wake_pending.exchange(true)) return;
  SDL_Event ev{};
  ev.type = SDL_USEREVENT;
  ev.user.code = 0;
  if (SDL_PushEvent(&ev) != 0) g_wake_pending = false;
}

int post(LINK_NOTICE&& n) {
  {
    std::lock_guard<std::mutex> g(g_lock);
    if (g_queue.size() >= LINK_NOTICE_CAPACITY) {
      g_dropped.fetch_add(1);
      if (!g_dropping)
        std::printf("Window loop is %zu notices behind: dropping link notices.\n", g_queue.size());
      g_dropping = true;
      return -1;
    }
    g_dropping = false;
    g_queue.push_back(std::move(n));
  }
  wake_window_loop();
  return 0;
}

}  // namespace

int post_link_notice(int number, const void* record, size_t size, int receiver) {
  LINK_NOTICE n;
  n.number = number;
  n.receiver = receiver;
  if (record && size) {
    const auto* p = static_cast<const uint8_t*>(record);
    n.record.assign(p, p + size);
  }
  return post(std::move(n));
}

int post_link_error_box(int receiver, const char* text) {
  if (!text) return -1;
  return post_link_notice(LINK_ERROR_BOX, text, std::strlen(text) + 1, receiver);
}

bool take_link_notice(LINK_NOTICE* out) {
  g_wake_pending = false;
  std::lock_guard<std::mutex> g(g_lock);
  if (g_queue.empty()) return false;
  *out = std::move(g_queue.front());
  g_queue.pop_front();
  return true;
}

void rewake_link_notices() {
  bool waiting;
  {
    std::lock_guard<std::mutex> g(g_lock);
    waiting = !g_queue.empty();
  }
  if (waiting) wake_window_loop();
}

SDL_Event link_notice_event(const LINK_NOTICE& n) {
  SDL_Event ev{};
  ev.type = SDL_USEREVENT;
  ev.user.code = n.number;
  ev.user.data1 = const_cast<void*>(n.data());
  return ev;
}

uint64_t link_notices_dropped() { return g_dropped.load(); }

void clear_link_notices() {
  std::lock_guard<std::mutex> g(g_lock);
  g_queue.clear();
  g_dropping = false;
}
