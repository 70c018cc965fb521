// The shared window loop and what every window's handlers use: the pointer state, the
// channel cells under the pointer, the modifier keys, the receiver notice and the tour.
// The main window's handlers are in main_window_loop.cpp, the event playback window's in
// event_playback_loop.cpp; event_loop_internal.h holds what they share.
#include "client/screens/event_loop.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "client/foundation/channel_table.h"
#include "client/foundation/config/mailslot.h"
#include "client/foundation/config/setup_config.h"
#include "client/foundation/config/setup_lookup.h"
#include "client/foundation/config/system_log.h"
#include "client/foundation/config/utils.h"
#include "client/foundation/dvr_events.h"
#include "client/foundation/sdl_lock.h"
#include "client/foundation/user_events.h"
#include "client/foundation/win_helpers.h"
#include "client/links/connection.h"
#include "client/links/link_notices.h"
#include "client/links/nc_packets.h"
#include "client/links/recording.h"
#include "client/screens/event_loop_internal.h"
#include "client/screens/layouts.h"
#include "client/screens/launcher.h"
#include "client/screens/master_link.h"
#include "client/screens/monitors.h"
#include "client/screens/panel.h"
#include "client/screens/screen_state.h"
#include "client/screens/search_window.h"
#include "client/screens/skin.h"
#include "client/screens/tiles.h"
#include "client/screens/widget_text.h"
#include "platform/sync/thread_name.h"

using namespace event_loop_internal;

namespace {

// The modifier keys as of the event being handled (window thread only). SDL's own state is
// as of its last read of the X queue, which may already hold the release of a Ctrl pressed
// around a click: a busy window then took a Ctrl-click for a plain click.
SDLMod event_mods = KMOD_NONE;

SDLMod modifier_of(SDLKey key) {
  switch (key) {
    case SDLK_LCTRL: return KMOD_LCTRL;
    case SDLK_RCTRL: return KMOD_RCTRL;
    case SDLK_LSHIFT: return KMOD_LSHIFT;
    case SDLK_RSHIFT: return KMOD_RSHIFT;
    case SDLK_LALT: return KMOD_LALT;
    case SDLK_RALT: return KMOD_RALT;
    default: return KMOD_NONE;
  }
}

// A key event's own modifier word leaves out the modifier key it presses.
void note_modifiers(const SDL_Event& ev) {
  if (ev.type == SDL_KEYDOWN)
    event_mods = SDLMod(ev.key.keysym.mod | modifier_of(ev.key.keysym.sym));
  else if (ev.type == SDL_KEYUP)
    event_mods = SDLMod(ev.key.keysym.mod & ~modifier_of(ev.key.keysym.sym));
  else if (ev.type == SDL_ACTIVEEVENT && (ev.active.state & SDL_APPINPUTFOCUS))
    event_mods = SDL_GetModState();  // keys may have changed while the window had no focus
}

// The shared receiver notice of user event 25 (the pusher owns it; a later push overwrites).
std::atomic<int> receiver_notice{0};

// The channel position under the pointer: the cell index plus the page's first index, or
// the enlarged channel inside the floating window; -1 outside every cell.
int channel_at(APP_CONTEXT* ctx, int x, int y) {
  if (ctx->single_view != VIEW_TILES) {
    const RECT16& e = ctx->enlarged_rect;
    if (e.x < x && x < e.x + e.w && e.y < y && y < e.y + e.h) return ctx->single_channel;
  }
  // The enlarged window was tested above in window coordinates.
  int cell = cell_at_point(ctx, x - ctx->video_rect.x, y - ctx->video_rect.y, true);
  if (cell < 0) return -1;
  return cell + ctx->page * get_layout_cells(ctx, ctx->layout);
}

int cell_index_at(APP_CONTEXT* ctx, int x, int y) {
  return cell_at_point(ctx, x - ctx->video_rect.x, y - ctx->video_rect.y, true);
}

// The last tour thread; a new tour and shutdown collect it (it ends within a second of its
// flag being cleared), so no thread is left unjoined.
SDL_Thread* tour_thread = nullptr;

void ask_exit_impl(APP_CONTEXT* ctx, APP_OPTIONS* opts) {
  const char* q =
      english() ? "Are you sure you want to exit this program?" : "프로그램을 종료하시겠습니까?";
  if (confirm_box(q) != BoxAnswer::yes) return;
  disconnect_dvr(opts);
  if (opts->master) send_exit_to_slaves(opts);
  app_quit.store(1);
  (void)ctx;
}

}  // namespace

namespace event_loop_internal {

MouseState mouse;

bool english() {
  static RC_SYSTEM_INFO sys;
  copy_system_info(&sys);
  return strcmp(sys.language, "English") == 0;
}

SDL_Surface* screen_of(APP_CONTEXT* ctx) { return ctx->surfaces[SURF_SCREEN]; }

void show_access_box() {
  error_box(english() ? "Don't have the access authority!" : "사용 권한이 없습니다.");
}

void toggle_tour(APP_CONTEXT* ctx) {
  mirror_user_menu(ctx);
  if (ctx->tour.load() == 0) {
    if (tour_thread) SDL_WaitThread(tour_thread, nullptr);
    ctx->tour.store(1);
    tour_thread = SDL_CreateThread(sequence_thread, ctx);
    if (!tour_thread) ctx->tour.store(0);
  } else {
    ctx->tour.store(0);
  }
}

// Hover and press states of the widgets outside the video rectangle.
void hover_widget(APP_CONTEXT* ctx, int window, int x, int y) {
  const int w = x < 0 ? 0 : find_widget_at(window, x, y);
  if (w == mouse.hovered) return;
  SdlLock lock(ctx->display_mutex);
  if (mouse.hovered > 0 && get_widget_state(window, mouse.hovered) == 2)
    set_widget_state(screen_of(ctx), window, mouse.hovered, 0);
  mouse.hovered = 0;
  if (w > 0 && !(window == kMainWindow && is_no_hover_widget(w)) &&
      get_widget_state(window, w) == 0) {
    set_widget_state(screen_of(ctx), window, w, 2);
    mouse.hovered = w;
  }
}

// Every button-1 release ends a window drag and settles a pending merge wherever it happens:
// a release outside the video area must not leave the merge armed for the next click.
void settle_button1_release(APP_CONTEXT* ctx) {
  mouse.dragging_window = false;
  mouse.press_on_background = false;
  if (ctx->selection_state.load() & 6) {
    merge_cells(ctx);
    ctx->selection_state.store(8);
    mouse.merged = true;
  }
}

// Channel cells under the pointer (main and event playback windows).
void mouse_on_cells(const SDL_Event& ev, APP_CONTEXT* ctx, APP_OPTIONS* opts, bool box_limit) {
  const int x = ev.type == SDL_MOUSEMOTION ? ev.motion.x : ev.button.x;
  const int y = ev.type == SDL_MOUSEMOTION ? ev.motion.y : ev.button.y;
  const int pos = channel_at(ctx, x, y);
  const bool ctrl = (held_modifiers() & KMOD_CTRL) != 0;
  int max_select = get_max_select();
  if (max_select <= 0) max_select = 144;
  if (ev.type == SDL_MOUSEMOTION) {
    if (!(ev.motion.state & SDL_BUTTON(1))) {
      if (pos != mouse.last_pos && pos >= 0) draw_cam_info(ctx, pos);
    } else if (pos == mouse.pressed_pos && pos >= 0) {
      pan_zoomed_picture(ctx, pos, ev.motion.xrel, ev.motion.yrel);
      if (ctx->playback_flags.load() != 0) draw_channel_state(ctx, pos);
    } else if (pos >= 0 && mouse.pressed_pos >= 0 && !is_channel_selected(ctx, pos)) {
      if (ctrl) {
        if (count_selected_channels(ctx) < max_select)
          select_channels_in_rect(ctx, mouse.pressed_pos, pos);
      } else {
        const int a = cell_index_at(ctx, mouse.press_x, mouse.press_y);
        const int b = cell_index_at(ctx, x, y);
        if (set_merge_rect(ctx, a, b) == 0) ctx->selection_state.store(4);
      }
    }
    mouse.last_pos = pos;
    return;
  }
  if (ev.type == SDL_MOUSEBUTTONDOWN) {
    const int b = ev.button.button;
    if (b == SDL_BUTTON_LEFT) {
      mouse.press_x = x;
      mouse.press_y = y;
      if (ctx->popup_state.load() == 2) {
        int w = find_widget_at(kMainWindow, x, y);
        if (w > 0 && in_popup_frame(w)) {
          SdlLock lock(ctx->display_mutex);
          set_widget_state(screen_of(ctx), kMainWindow, w, 1);
          mouse.pressed_widget = w;
          return;
        }
        hide_popup_panel(ctx);
      }
      if (pos < 0) return;
      if (!is_channel_selected(ctx, pos)) {
        if (count_selected_channels(ctx) >= max_select) {
          if (box_limit)
            error_box("Exceeded maximum number of selected cameras.");
          else
            debug_message("Exceeded maximum number of selected cameras.");
          return;
        }
        if (!ctrl) {
          clear_channel_selection(ctx);
          clear_channel_audio(ctx);
          set_channel_audio(ctx, pos);
        }
        select_channel(ctx, pos);
        draw_cam_info(ctx, pos);
      } else if (ctrl) {
        deselect_channel(ctx, pos);
        move_audio_to_selected(ctx, pos);
      } else {
        clear_channel_selection(ctx);
        clear_channel_audio(ctx);
      }
      mouse.pressed_pos = pos;
    } else if (b == SDL_BUTTON_RIGHT) {
      if (ctx->fullscreen) toggle_fullscreen(ctx);
      if (pos >= 0) {
        // The pad acts on this channel; the alarm pop-up's channel is another matter.
        screen_state.pad_channel = pos;
        place_popup_panel(ctx, x, y);
        mouse.pad_placed = true;
      }
    } else if (b == SDL_BUTTON_WHEELUP || b == SDL_BUTTON_WHEELDOWN) {
      if (wheel_over_video(ctx, b, ctrl, pos, x, y)) {
        draw_cam_info(ctx, pos);
        draw_channel_state(ctx, pos);
      }
    }
    return;
  }
  // Button release.
  if (ev.button.button != SDL_BUTTON_LEFT) return;
  if (mouse.pressed_widget > 0) {
    const int w = mouse.pressed_widget;
    mouse.pressed_widget = 0;
    {
      SdlLock lock(ctx->display_mutex);
      press_widget(screen_of(ctx), kMainWindow, w);
      set_widget_state(screen_of(ctx), kMainWindow, w, 0);
    }
    if (!has_right(opts, w)) {
      show_access_box();
      return;
    }
    popup_pad_action(ctx, opts, w, screen_state.pad_channel, x, y);
    return;
  }
  if (!mouse.merged && mouse.double_click && pos >= 0) {
    if (ctx->layout == 1 && mouse.previous_layout > 0) {
      set_layout(ctx, mouse.previous_layout);
      mouse.previous_layout = 0;
    } else {
      mouse.previous_layout = ctx->layout;
      set_layout(ctx, 1);
    }
    set_layout_page(
        ctx,
        pos / (get_layout_cells(ctx, ctx->layout) > 0 ? get_layout_cells(ctx, ctx->layout) : 1));
    select_channel(ctx, pos);
    set_channel_audio(ctx, pos);
  }
  mouse.pressed_pos = -1;
}

// The receiver index of user event 25: the shared notice of post_receiver_event, or the
// index itself in data2 when the receive code pushed it without a record.
int receiver_of_notice(const SDL_Event& ev) {
  if (ev.user.data1) return static_cast<const std::atomic<int>*>(ev.user.data1)->load();
  return static_cast<int>(reinterpret_cast<intptr_t>(ev.user.data2));
}

}  // namespace event_loop_internal

// ---------------------------------------------------------------- helpers used by the loops

void take_snapshot(APP_CONTEXT* ctx, APP_OPTIONS* opts) {
  if (count_selected_channels(ctx) == 0) {
    char name[512];
    if (make_capture_name(opts, name, sizeof name, "allchannel", 0, "bmp") == 0)
      save_display(ctx, name);
  } else {
    save_selected_pictures(get_rec_path(), ctx);
  }
}

int note_button_release(uint32_t ticks, int x, int y) {
  const bool dbl = mouse.have_release && ticks - mouse.last_release_ticks < 400 &&
                   abs(x - mouse.last_release_x) <= 5 && abs(y - mouse.last_release_y) <= 5;
  mouse.have_release = true;
  mouse.last_release_ticks = ticks;
  mouse.last_release_x = x;
  mouse.last_release_y = y;
  mouse.double_click = dbl;
  return dbl ? 1 : 0;
}

void ask_exit(APP_CONTEXT* ctx, APP_OPTIONS* opts) { ask_exit_impl(ctx, opts); }

SDLMod held_modifiers() { return event_mods; }

int post_receiver_event(int value) {
  receiver_notice.store(value);
  return push_user_event(UE_RECEIVER_NOTICE, &receiver_notice);
}

void stop_tour(APP_CONTEXT* ctx) {
  ctx->tour.store(0);
  if (tour_thread) SDL_WaitThread(tour_thread, nullptr);
  tour_thread = nullptr;
}

int sequence_thread(void* param) {
  set_current_thread_name("tour");
  APP_CONTEXT* ctx = static_cast<APP_CONTEXT*>(param);
  const uint32_t cycle = get_cycle_time();
  while (ctx->tour.load()) {
    SDL_Event ev{};
    ev.type = SDL_KEYDOWN;
    ev.key.type = SDL_KEYDOWN;
    ev.key.state = SDL_PRESSED;
    ev.key.keysym.sym = SDLK_PAGEUP;
    SDL_PushEvent(&ev);
    for (uint32_t s = 0; s < cycle && ctx->tour.load(); ++s) SDL_Delay(1000);
    SDL_Delay(100);
  }
  return 0;
}

// ---------------------------------------------------------------- the loop

namespace {

// A turn of the loop takes at most this many notices, or this long, before it goes back to
// SDL's events: a backlog never keeps input, redraw and the watchdog's tick waiting.
constexpr int kNoticeSlice = 64;
constexpr Uint32 kNoticeSliceMs = 20;

// The receive and link threads' notices, in the order they came, through the loop's
// user-event handler; a slice per turn. DVR events never come here in the main window (its
// event worker takes them) and the other windows act on none. Error messages are shown once
// the slice is done: a modal box shown inside it would hold the notices behind it.
void drain_link_notices(APP_OPTIONS* opts, APP_CONTEXT* ctx, const WindowLoop& loop) {
  std::vector<std::string> boxes;
  LINK_NOTICE n;
  const Uint32 start = SDL_GetTicks();
  for (int taken = 0; taken < kNoticeSlice && SDL_GetTicks() - start < kNoticeSliceMs; ++taken) {
    if (!take_link_notice(&n)) break;
    if (n.number == LINK_ERROR_BOX)
      boxes.emplace_back(n.text() ? n.text() : "");
    else if (n.number != UE_DVR_EVENT && loop.takes_user_event(n.number))
      loop.user(link_notice_event(n), ctx, opts);
  }
  rewake_link_notices();
  for (const std::string& text : boxes) error_box(text.c_str());
}

}  // namespace

int run_window_loop(APP_OPTIONS* opts, const WindowLoop& loop) {
  APP_CONTEXT* ctx = opts->context ? opts->context : &app_context;
  if (app_quit.load()) {
    puts(loop.exit_line);
    return 0;
  }
  event_mods = SDL_GetModState();
  for (;;) {
    SDL_Event ev;
    if (SDL_WaitEvent(&ev) == 0) continue;
    if (!opts->logged_in) return -1;
    note_modifiers(ev);
    switch (ev.type) {
      case SDL_ACTIVEEVENT:
      case SDL_VIDEORESIZE:
      case SDL_VIDEOEXPOSE: loop.window(ev, ctx, opts); break;
      case SDL_KEYDOWN: loop.key(ev, ctx, opts); break;
      case SDL_MOUSEMOTION:
      case SDL_MOUSEBUTTONDOWN:
      case SDL_MOUSEBUTTONUP: loop.mouse(ev, ctx, opts); break;
      case SDL_USEREVENT:
        if (loop.takes_user_event(user_event_number(ev))) loop.user(ev, ctx, opts);
        break;
      case SDL_QUIT:
        disconnect_dvr(opts);
        if (loop.tells_slaves && opts->master) send_exit_to_slaves(opts);
        app_quit.store(1);
        break;
      default: break;
    }
    drain_link_notices(opts, ctx, loop);
    run_deferred_connect();  // a connect that waited for the last disconnect's worker
    if (app_quit.load()) {
      puts(loop.exit_line);
      return 0;
    }
  }
}
