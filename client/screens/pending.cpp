// Stand-ins for functions of areas that have not landed yet, so that start-up runs its
// steps in order. Each does the least that keeps that order and fakes nothing of its area.
// When an area lands a function, it deletes that function's block here and in pending.h.
//
// Waiting for:
//   login screen ............... init_skin_window (no screen yet: the login is not completed)
//   connection lifecycle ....... reset_connection_info, connect_dvr, stop_decoders,
//                                stop_receivers (nothing to connect)
//   audio output ............... init_audio, deinit_audio (device left closed)
//   video tiles ................ set_window_geometry, create_video_mode (a plain 32-bit
//                                window of the asked size), redraw_all_channels, refresh_timer
//   layouts .................... build_grid_layouts
//   main window panel .......... convert_tile_images, setup_main_panel, draw_dvr_list
//   event loops ................ main_event_loop, event_playback_loop, search_event_loop,
//                                playback_event_loop (all: wait for SDL_QUIT or Escape, so
//                                the program can be ended), draw_search_window,
//                                draw_speed_label
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
int init_skin_window(APP_OPTIONS*) { return 0; }

// ---------------------------------------------------------------- connection lifecycle
int reset_connection_info() { return 0; }

// ---------------------------------------------------------------- connection lifecycle
void connect_dvr(APP_OPTIONS*) {}

// ---------------------------------------------------------------- connection lifecycle
int stop_decoders(APP_OPTIONS*) { return 0; }

// ---------------------------------------------------------------- connection lifecycle
void stop_receivers(APP_OPTIONS*) {}

// ---------------------------------------------------------------- audio output
int init_audio(PAIR_BUFFERS*) { return 0; }

// ---------------------------------------------------------------- audio output
int deinit_audio() { return 0; }

// ---------------------------------------------------------------- video tiles
void set_window_geometry(APP_CONTEXT* ctx, int width, int height) {
  if (width <= 0 || height <= 0) {
    width = 640;
    height = 480;
  }
  ctx->win_w = width;
  ctx->win_h = height;
}

// ---------------------------------------------------------------- video tiles
int create_video_mode(APP_CONTEXT* ctx) {
  Uint32 flags = SDL_ANYFORMAT | (ctx->frame ? SDL_RESIZABLE : SDL_NOFRAME);
  SDL_Surface* screen = SDL_SetVideoMode(ctx->win_w, ctx->win_h, 32, flags);
  ctx->surfaces[0] = screen;
  return screen ? 0 : -1;
}

// ---------------------------------------------------------------- video tiles
int redraw_all_channels(APP_CONTEXT*) { return 0; }

// ---------------------------------------------------------------- video tiles
Uint32 refresh_timer(Uint32 interval, void*) { return interval; }

// ---------------------------------------------------------------- layouts
int build_grid_layouts(APP_CONTEXT*) { return 0; }

// ---------------------------------------------------------------- main window panel
int convert_tile_images(APP_CONTEXT*) { return 0; }

// ---------------------------------------------------------------- main window panel
void setup_main_panel(APP_CONTEXT*) {}

// ---------------------------------------------------------------- main window panel
void draw_dvr_list(APP_CONTEXT*) {}

// ---------------------------------------------------------------- event loops
int main_event_loop(APP_OPTIONS*) { return wait_for_quit(); }

// ---------------------------------------------------------------- event loops
int event_playback_loop(APP_OPTIONS*) { return wait_for_quit(); }

// ---------------------------------------------------------------- event loops
void draw_search_window(APP_CONTEXT*) {}

// ---------------------------------------------------------------- event loops
int search_event_loop(APP_OPTIONS*) { return wait_for_quit(); }

// ---------------------------------------------------------------- event loops
void draw_speed_label(APP_OPTIONS*) {}

// ---------------------------------------------------------------- event loops
int playback_event_loop(APP_OPTIONS*) { return wait_for_quit(); }

// ---------------------------------------------------------------- e-mail alert queue
void mail_queue_init() {}

// ---------------------------------------------------------------- e-mail alert queue
int mail_queue_stop() { return 0; }

// ---------------------------------------------------------------- e-mail alert queue
int mail_sender_thread(void*) { return 0; }

// ---------------------------------------------------------------- launcher
int start_refresher(APP_OPTIONS*, APP_CONTEXT*) { return -1; }

// ---------------------------------------------------------------- launcher
void close_child_windows() {}

// ---------------------------------------------------------------- launcher
void wait_search_and_emap(int) {}

// ---------------------------------------------------------------- master/slave link
int master_thread(void*) { return 0; }

// ---------------------------------------------------------------- master/slave link
int slave_thread(void*) { return 0; }

// ---------------------------------------------------------------- master/slave link
void close_link_socket(APP_OPTIONS*) {}

// ---------------------------------------------------------------- monitors and timers
Uint32 status_timer(Uint32 interval, void*) { return interval; }

// ---------------------------------------------------------------- monitors and timers
Uint32 mailslot_timer(Uint32 interval, void*) { return interval; }

// ---------------------------------------------------------------- monitors and timers
int cpu_monitor_thread(void*) { return 0; }

// ---------------------------------------------------------------- monitors and timers
int adapter_monitor_thread(void*) { return 0; }

// ---------------------------------------------------------------- monitors and timers
int clock_thread(void*) { return 0; }

// ---------------------------------------------------------------- monitors and timers
int event_popup_thread(void*) { return 0; }
