// Stand-ins for functions of areas that have not landed yet, so that start-up runs its
// steps in order. Each does the least that keeps that order and fakes nothing of its area.
// The definitions are weak, so a real one takes over at link time; when an area lands a
// function, it also deletes that function's block here and in pending.h.
//
// Waiting for:
//   login screen ............... init_skin_window (no screen yet: the login is not completed)
//   audio output ............... init_audio, deinit_audio (device left closed)
//   main window panel .......... convert_tile_images, setup_main_panel, draw_dvr_list
//   search window .............. draw_search_window, search_event_loop
//   file playback window ....... draw_speed_label, playback_event_loop
//                                (both loops: wait for SDL_QUIT or Escape, so the window
//                                can be ended until the real loops land)
//   e-mail alert queue ......... mail_queue_init, mail_queue_stop, mail_sender_thread
//   launcher ................... start_refresher, close_child_windows, wait_search_and_emap
//   master/slave link .......... master_thread, slave_thread, close_link_socket
//   monitors and timers ........ status_timer, mailslot_timer, cpu_monitor_thread,
//                                adapter_monitor_thread, clock_thread, event_popup_thread
#include "client/screens/pending.h"

#include "client/foundation/app_state.h"
#include "client/foundation/config/utils.h"

namespace {

// Until the real loops land: end on SDL_QUIT (window closed), Escape or the quit flag.
int wait_for_quit() {
  while (!app_quit.load()) {
    SDL_Event ev;
    while (SDL_PollEvent(&ev)) {
      if (ev.type == SDL_QUIT || (ev.type == SDL_KEYDOWN && ev.key.keysym.sym == SDLK_ESCAPE)) {
        app_quit.store(1);
        break;
      }
    }
    SDL_Delay(20);
  }
  return 0;
}

}  // namespace

// ---------------------------------------------------------------- login screen
[[gnu::weak]] int init_skin_window(APP_OPTIONS*) { return 0; }

// ---------------------------------------------------------------- audio output
[[gnu::weak]] int init_audio(PAIR_BUFFERS*) { return 0; }

// ---------------------------------------------------------------- audio output
[[gnu::weak]] int deinit_audio() { return 0; }

// ---------------------------------------------------------------- main window panel
[[gnu::weak]] int convert_tile_images(APP_CONTEXT*) { return 0; }

// ---------------------------------------------------------------- main window panel
[[gnu::weak]] void setup_main_panel(APP_CONTEXT*) {}

// ---------------------------------------------------------------- main window panel
[[gnu::weak]] void draw_dvr_list(APP_CONTEXT*) {}

// ---------------------------------------------------------------- event loops
[[gnu::weak]] void draw_search_window(APP_CONTEXT*) {}

// ---------------------------------------------------------------- event loops
[[gnu::weak]] int search_event_loop(APP_OPTIONS*) { return wait_for_quit(); }

// ---------------------------------------------------------------- event loops
[[gnu::weak]] void draw_speed_label(APP_OPTIONS*) {}

// ---------------------------------------------------------------- event loops
[[gnu::weak]] int playback_event_loop(APP_OPTIONS*) { return wait_for_quit(); }

// ---------------------------------------------------------------- e-mail alert queue
[[gnu::weak]] void mail_queue_init() {}

// ---------------------------------------------------------------- e-mail alert queue
[[gnu::weak]] int mail_queue_stop() { return 0; }

// ---------------------------------------------------------------- e-mail alert queue
[[gnu::weak]] int mail_sender_thread(void*) { return 0; }

// ---------------------------------------------------------------- launcher
[[gnu::weak]] int start_refresher(APP_OPTIONS*, APP_CONTEXT*) { return -1; }

// ---------------------------------------------------------------- launcher
[[gnu::weak]] void close_child_windows() {}

// ---------------------------------------------------------------- launcher
[[gnu::weak]] void wait_search_and_emap(int) {}

// ---------------------------------------------------------------- master/slave link
[[gnu::weak]] int master_thread(void*) { return 0; }

// ---------------------------------------------------------------- master/slave link
[[gnu::weak]] int slave_thread(void*) { return 0; }

// ---------------------------------------------------------------- master/slave link
[[gnu::weak]] void close_link_socket(APP_OPTIONS*) {}

// ---------------------------------------------------------------- monitors and timers
[[gnu::weak]] Uint32 status_timer(Uint32 interval, void*) { return interval; }

// ---------------------------------------------------------------- monitors and timers
[[gnu::weak]] Uint32 mailslot_timer(Uint32 interval, void*) { return interval; }

// ---------------------------------------------------------------- monitors and timers
[[gnu::weak]] int cpu_monitor_thread(void*) { return 0; }

// ---------------------------------------------------------------- monitors and timers
[[gnu::weak]] int adapter_monitor_thread(void*) { return 0; }

// ---------------------------------------------------------------- monitors and timers
[[gnu::weak]] int clock_thread(void*) { return 0; }

// ---------------------------------------------------------------- monitors and timers
[[gnu::weak]] int event_popup_thread(void*) { return 0; }
