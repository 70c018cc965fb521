// The client's user events (24 to 42) as they travel through SDL 1.2's queue.
//
// SDL 1.2 accepts event types only below SDL_NUMEVENTS (32), so numbers 32-42 cannot be
// event types of their own. Every user event is therefore pushed as SDL_USEREVENT with its
// number in `user.code`; handlers ask `user_event_number` instead of looking at `type`.
// Any thread may push; SDL_PushEvent is thread-safe once SDL's video or events are up.
#pragma once

#include <SDL/SDL.h>

#include <cstdint>

// What each event carries. A pointer in data1 names a record of the pusher that stays valid
// while the loop handles the event; every other event carries nothing or values.
enum USER_EVENT_NUMBER : int {
  UE_LINK_COMMAND = 24,  // data1: a 200-byte COMM_MESSAGE, or the connection's CONN_REQUEST
  UE_RECEIVER_NOTICE =
      25,                // data1: std::atomic<int> receiver index, or null and the index in data2
  UE_RECORD_STATE = 26,  // nothing
  UE_SEARCH_DATA = 27,   // data1: NC_SEARCH_RECORD (links notice queue)
  UE_LOGGED_IN = 28,     // data1: the RECEIVER_INFO that logged in (may be ignored)
  UE_DVR_EVENT = 29,     // nothing: the DVR event worker has news for the screen (show_event_news)
  UE_PRESET_LIST = 30,   // data1: NC_PRESET_TABLE (links notice queue)
  UE_POPUP = 31,         // alarm pop-up: action and type in data1, channel id in data2
  UE_SHOW_CAM_INFO = 32,
  UE_SHOW_RECEIVE_STATS = 33,
  UE_CPU_METER = 34,
  UE_NETWORK_METER = 35,
  UE_DISK_METER = 36,
  UE_WATCHDOG = 37,
  UE_SHOW_TOOLTIP = 38,
  UE_HIDE_TOOLTIP = 39,
  UE_SHOW_MESSAGE = 40,  // data1: text
  UE_HIDE_MESSAGE = 41,
  UE_DECODER_NOTICE = 42,  // the frame size by value: width in data1, height in data2
};

// Pushes user event `number` (24-42) carrying data1/data2. Returns 0, or -1 when the
// number is out of range or SDL's queue refused the event (full, or SDL not started).
inline int push_user_event(int number, void* data1 = nullptr, void* data2 = nullptr) {
  if (number < UE_LINK_COMMAND || number > UE_DECODER_NOTICE) return -1;
  SDL_Event ev{};
  ev.type = SDL_USEREVENT;
  ev.user.code = number;
  ev.user.data1 = data1;
  ev.user.data2 = data2;
  return SDL_PushEvent(&ev) == 0 ? 0 : -1;
}

// The user event number (24-42) of `ev`, or -1 when it is not one of the client's.
inline int user_event_number(const SDL_Event& ev) {
  if (ev.type != SDL_USEREVENT) return -1;
  return (ev.user.code >= UE_LINK_COMMAND && ev.user.code <= UE_DECODER_NOTICE) ? ev.user.code : -1;
}

// User event 42 with a picture's size. The size travels by value: the decoder may replace
// the picture before the loop handles the event.
inline int push_frame_size(int width, int height) {
  return push_user_event(UE_DECODER_NOTICE, reinterpret_cast<void*>(intptr_t(width)),
                         reinterpret_cast<void*>(intptr_t(height)));
}
inline void frame_size_of(const SDL_Event& ev, int* width, int* height) {
  *width = int(reinterpret_cast<intptr_t>(ev.user.data1));
  *height = int(reinterpret_cast<intptr_t>(ev.user.data2));
}
