#include "client/screens/playback_window.h"

#include <atomic>
#include <cstdio>
#include <cstring>

#include "client/foundation/app_state.h"
#include "client/foundation/channel_table.h"
#include "client/foundation/config/setup_config.h"
#include "client/foundation/config/utils.h"
#include "client/foundation/sdl_lock.h"
#include "client/foundation/user_events.h"
#include "client/foundation/win_helpers.h"
#include "client/links/connection.h"
#include "client/links/dat_file.h"
#include "client/links/recording.h"
#include "client/screens/event_loop.h"
#include "client/screens/layouts.h"
#include "client/screens/panel.h"
#include "client/screens/skin.h"
#include "client/screens/tiles.h"
#include "client/screens/widget_text.h"

namespace {

constexpr int kWindow = SKIN_PLAYBACK;

// Widgets of the playback window.
enum : int {
  W_TOP = 1,
  W_LEFT = 2,
  W_PREV = 3,
  W_PLAY = 4,
  W_NEXT = 5,
  W_RIGHT = 6,
  W_BOTTOM = 7,
  W_SLOWER = 8,
  W_FASTER = 9,
  W_SPEED = 11,
  W_POWER = 12,
  W_MINIMIZE = 16,
};

constexpr double kEndOfFile = 4294967295.0;
constexpr double kSlowest = 0.0625, kFastest = 16.0;

// Pointer state of the window (window loop only).
struct PlaybackMouse {
  int last_channel = -1;  // channel under the pointer at the last motion
  int hovered = 0;
  bool dragging = false;
  int anchor_x = -1, anchor_y = -1;  // pointer inside the window when the drag began
};
PlaybackMouse mouse;
int status_ticks = 0;

SDL_Surface* screen_of(APP_CONTEXT* ctx) { return ctx->surfaces[SURF_SCREEN]; }

bool in_video_area(const APP_CONTEXT* ctx, int x, int y) {
  const RECT16& v = ctx->video_rect;
  return x >= v.x && x <= v.x + v.w && y >= v.y && y <= v.y + v.h;
}

// The channel id under a window point inside the video area, or -1.
int channel_at(APP_CONTEXT* ctx, int x, int y) {
  const int cell = cell_at_point(ctx, x - ctx->video_rect.x, y - ctx->video_rect.y);
  if (cell < 0) return -1;
  if (ctx->single_view != VIEW_TILES) return cell;
  return cell + ctx->page * get_layout_cells(ctx, ctx->layout);
}

double get_speed(APP_CONTEXT* ctx) { return ctx->playback_speed.load(); }
void set_speed(APP_CONTEXT* ctx, double v) { ctx->playback_speed.store(v); }

void write_speed_label(APP_CONTEXT* ctx) {
  char text[32];
  std::snprintf(text, sizeof text, "%4.1fX", get_speed(ctx));
  if (!ctx->skin) return;
  SdlLock lock(ctx->display_mutex);
  select_text_font("default");
  set_text_fg_color(SDL_Color{240, 240, 240, 0});
  set_text_bg_color(SDL_Color{16, 16, 16, 0});
  render_widget_text(screen_of(ctx), kWindow, W_SPEED, text);
}

void toggle_pause(APP_CONTEXT* ctx, uint32_t paused) {
  ctx->playback_flags.store(ctx->playback_flags.load() == 0 ? paused : 0u);
}

void quit(APP_OPTIONS* opts) {
  disconnect_dvr(opts);
  app_quit.store(1);
}

void hover(APP_CONTEXT* ctx, int w) {
  if (w == mouse.hovered) return;
  SdlLock lock(ctx->display_mutex);
  if (mouse.hovered > 0 && get_widget_state(kWindow, mouse.hovered) == 2)
    set_widget_state(screen_of(ctx), kWindow, mouse.hovered, 0);
  mouse.hovered = 0;
  if (w > 0 && get_widget_state(kWindow, w) == 0) {
    set_widget_state(screen_of(ctx), kWindow, w, 2);
    mouse.hovered = w;
  }
}

void end_drag(APP_CONTEXT* ctx) {
  ctx->playback_flags.fetch_and(~uint32_t{PB_DRAG});
  mouse.dragging = false;
  mouse.anchor_x = mouse.anchor_y = -1;
}

void motion(const SDL_MouseMotionEvent& m, APP_CONTEXT* ctx) {
  const bool left = (m.state & SDL_BUTTON(1)) != 0;
  if (in_video_area(ctx, m.x, m.y) && !mouse.dragging) {
    const int id = channel_at(ctx, m.x, m.y);
    if (left && id >= 0 && id == mouse.last_channel) {
      pan_zoomed_picture(ctx, id, m.xrel, m.yrel);
      // The decoders do not draw while paused.
      if (ctx->playback_flags.load() != 0) draw_channel_state(ctx, id);
    }
    mouse.last_channel = id;
    return;
  }
  mouse.last_channel = -1;
  const int w = ctx->skin ? find_widget_at(kWindow, m.x, m.y) : 0;
  hover(ctx, mouse.dragging ? 0 : w);
  if (!left) {
    if (mouse.dragging) end_drag(ctx);
    return;
  }
  if (w > 0 && !mouse.dragging) return;
  // The background is dragged: the window follows the pointer's travel since the drag began,
  // so the grab point stays under the pointer. The refresh timer pauses meanwhile.
  if (!mouse.dragging) {
    ctx->playback_flags.fetch_or(PB_DRAG);
    mouse.dragging = true;
    mouse.anchor_x = m.x;
    mouse.anchor_y = m.y;
    return;
  }
  if (m.x != mouse.anchor_x || m.y != mouse.anchor_y)
    move_window_by(m.x - mouse.anchor_x, m.y - mouse.anchor_y);
}

void button_down(const SDL_MouseButtonEvent& b, APP_CONTEXT* ctx) {
  const bool ctrl = (held_modifiers() & KMOD_CTRL) != 0;
  if (!in_video_area(ctx, b.x, b.y)) {
    if (b.button == SDL_BUTTON_LEFT && ctx->skin) {
      const int w = find_widget_at(kWindow, b.x, b.y);
      if (w > 0) {
        SdlLock lock(ctx->display_mutex);
        set_widget_state(screen_of(ctx), kWindow, w, 1);
      }
    }
    return;
  }
  const int id = channel_at(ctx, b.x, b.y);
  switch (b.button) {
    case SDL_BUTTON_LEFT:
      if (id < 0) return;
      if (is_channel_selected(ctx, id)) {
        if (ctrl) {
          deselect_channel(ctx, id);
          move_audio_to_selected(ctx, id);
          mouse.last_channel = -1;
        } else {
          clear_channel_selection(ctx);
          clear_channel_audio(ctx);
        }
        return;
      }
      if (count_selected_channels(ctx) >= (get_max_select() > 0 ? get_max_select() : 144)) {
        error_box("Exceeded maximum number of selected cameras.");
        return;
      }
      if (!ctrl) {
        clear_channel_selection(ctx);
        clear_channel_audio(ctx);
        set_channel_audio(ctx, id);
      }
      select_channel(ctx, id);
      mouse.last_channel = id;
      return;
    case SDL_BUTTON_RIGHT:
      if (ctx->fullscreen) toggle_fullscreen(ctx);
      return;
    case SDL_BUTTON_WHEELUP:
    case SDL_BUTTON_WHEELDOWN:
      if (wheel_over_video(ctx, b.button, ctrl, id, b.x, b.y) && ctx->playback_flags.load() != 0)
        draw_channel_state(ctx, id);
      return;
    default: return;
  }
}

void widget_action(int w, APP_CONTEXT* ctx, APP_OPTIONS* opts) {
  switch (w) {
    case W_TOP: seek_playback(ctx, 0, 1); break;
    case W_LEFT: seek_playback(ctx, -30, 0); break;
    case W_PREV: seek_playback(ctx, -10, 0); break;
    case W_PLAY: toggle_pause(ctx, PB_PAUSED); break;
    case W_NEXT: seek_playback(ctx, 10, 0); break;
    case W_RIGHT: seek_playback(ctx, 30, 0); break;
    case W_BOTTOM: seek_playback(ctx, kEndOfFile, 1); break;
    case W_SLOWER: speed_slower(ctx); break;
    case W_FASTER: speed_faster(ctx); break;
    case W_POWER: quit(opts); break;
    case W_MINIMIZE: SDL_WM_IconifyWindow(); break;
    default: break;
  }
}

void button_up(const SDL_MouseButtonEvent& b, APP_CONTEXT* ctx, APP_OPTIONS* opts) {
  end_drag(ctx);
  if (in_video_area(ctx, b.x, b.y) || !ctx->skin) return;
  const int w = find_widget_at(kWindow, b.x, b.y);
  if (w <= 0) return;
  bool pressed;
  {
    SdlLock lock(ctx->display_mutex);
    // Only a widget the button went down on acts (not one a drag ended over).
    pressed = press_widget(screen_of(ctx), kWindow, w) == 0;
    set_widget_state(screen_of(ctx), kWindow, w, 0);
  }
  if (b.button != SDL_BUTTON_LEFT || !pressed) return;
  widget_action(w, ctx, opts);
  if (!ctx->fullscreen && ctx->win_w > 0 && ctx->win_h > 0) {
    SdlLock lock(ctx->display_mutex);
    update_surface(screen_of(ctx));
  }
}

}  // namespace

void draw_speed_label(APP_OPTIONS* opts) {
  APP_CONTEXT* ctx = opts && opts->context ? opts->context : &app_context;
  if (ctx->skin) {
    set_widget_attr(kWindow, W_PLAY, 3, 1);
    SdlLock lock(ctx->display_mutex);
    redraw_widget(screen_of(ctx), kWindow, W_PLAY);
  }
  write_speed_label(ctx);
}

void speed_slower(APP_CONTEXT* ctx) {
  if (get_speed(ctx) > kSlowest) set_speed(ctx, get_speed(ctx) / 2);
  write_speed_label(ctx);
}

void speed_faster(APP_CONTEXT* ctx) {
  if (get_speed(ctx) < kFastest) set_speed(ctx, get_speed(ctx) * 2);
  write_speed_label(ctx);
}

int seek_playback(APP_CONTEXT* ctx, double seconds, int absolute) {
  if (!ctx || ctx->num_receivers < 1) return -1;
  RECEIVER_INFO* rx = &ctx->receivers[0];
  rx->position = absolute == 1 ? seconds : rx->last_frame_time.load() + seconds;
  const size_t n = std::strlen(rx->file_name);
  if (n >= 4 && std::strcmp(rx->file_name + n - 3, "dat") == 0)
    seek_dat_file(rx, seconds);
  else
    seek_record_file(rx);
  ctx->playback_flags.store(0);
  return 0;
}

int handle_playback_window_event(const SDL_Event& ev, APP_CONTEXT* ctx, APP_OPTIONS*) {
  if (ev.type == SDL_VIDEORESIZE) set_window_size(ctx, ev.resize.w, ev.resize.h, 1);
  return 0;
}

int handle_playback_key(const SDL_Event& ev, APP_CONTEXT* ctx, APP_OPTIONS* opts) {
  switch (ev.key.keysym.sym) {
    case SDLK_SPACE: toggle_pause(ctx, 7u); break;  // paused and held
    case SDLK_f: toggle_fullscreen(ctx); break;
    case SDLK_q: quit(opts); break;
    case SDLK_UP: seek_playback(ctx, 30, 0); break;
    case SDLK_DOWN: seek_playback(ctx, -30, 0); break;
    case SDLK_RIGHT: seek_playback(ctx, 10, 0); break;
    case SDLK_LEFT: seek_playback(ctx, -10, 0); break;
    case SDLK_HOME: seek_playback(ctx, 0, 1); break;
    case SDLK_END: seek_playback(ctx, kEndOfFile, 1); break;
    default: break;
  }
  return 0;
}

int handle_playback_mouse(const SDL_Event& ev, APP_CONTEXT* ctx, APP_OPTIONS* opts) {
  ctx->last_mouse_ticks.store(SDL_GetTicks());
  switch (ev.type) {
    case SDL_MOUSEMOTION: motion(ev.motion, ctx); break;
    case SDL_MOUSEBUTTONDOWN: button_down(ev.button, ctx); break;
    case SDL_MOUSEBUTTONUP: button_up(ev.button, ctx, opts); break;
    default: break;
  }
  return 0;
}

namespace {

// The grid the file player asked for (its channels seen so far). Only that request changes
// the layout on the player's behalf: a layout the operator picks meanwhile stays.
void take_player_layout(APP_CONTEXT* ctx) {
  const int l = take_layout_request();
  if (l <= 0) return;
  if (get_layout_cells(ctx, ctx->layout) != get_layout_cells(ctx, l))
    set_layout(ctx, l);
  else if (ctx->page != 0)
    set_layout(ctx, ctx->layout);  // the file's first channel shows in cell 0 of page 0
}

}  // namespace

int handle_playback_user_event(const SDL_Event& ev, APP_CONTEXT* ctx, APP_OPTIONS* opts) {
  switch (user_event_number(ev)) {
    case UE_LINK_COMMAND:
      if (is_layout_request(ev)) {
        take_player_layout(ctx);
        return 0;
      }
      return handle_event_playback_user_event(ev, ctx, opts);
    case UE_RECEIVER_NOTICE:
      // Posted requests (connect, disconnect, a range-checked layout and page) and receiver
      // notices are handled as in the event playback window.
      return handle_event_playback_user_event(ev, ctx, opts);
    case UE_SHOW_TOOLTIP:  // the status tick: on the second, channel 0 gets the selection and audio
      take_player_layout(ctx);  // a request whose wake-up a full event queue refused
      if (++status_ticks == 2) {
        select_channel(ctx, 0);
        set_channel_audio(ctx, 0);
      }
      return 0;
    default: return 0;  // 26 to 28 change nothing here
  }
}

int playback_event_loop(APP_OPTIONS* opts) {
  mouse = PlaybackMouse{};
  status_ticks = 0;
  static const WindowLoop loop{handle_playback_window_event,
                               handle_playback_key,
                               handle_playback_mouse,
                               handle_playback_user_event,
                               [](int n) { return (n >= 24 && n <= 28) || n == UE_SHOW_TOOLTIP; },
                               false,
                               "exiting event loop ..."};
  return run_window_loop(opts, loop);
}
