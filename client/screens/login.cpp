#include "client/screens/login.h"

#include <cstdio>
#include <cstring>
#include <vector>

#include "client/foundation/config/app_options.h"
#include "client/foundation/config/setup_lookup.h"
#include "client/foundation/config/utils.h"
#include "client/foundation/user_events.h"
#include "client/screens/skin.h"
#include "client/screens/skin_tables.h"
#include "client/screens/widget_text.h"
#include "platform/sync/thread_name.h"

namespace {

constexpr int kLogin = skin_tables::kLogin;
enum : int { LW_OK = 1, LW_CANCEL = 2, LW_USER = 3, LW_PASSWORD = 4 };
constexpr int kBlinkKey = 323;
constexpr Uint32 kVideoFlags = SDL_ANYFORMAT | SDL_HWACCEL | SDL_NOFRAME | SDL_ASYNCBLIT;

// The blink timer and the screen's pointer state (first thread only).
struct LoginScreen {
  SDL_Surface* screen = nullptr;
  SDL_TimerID timer = nullptr;
  int blink = 1;
  int hovered = 0;

  void start_timer() {
    if (!timer) timer = SDL_AddTimer(600, login_timer_tick, nullptr);
  }
  // Every way out removes the timer and takes back the ticks it already queued, so none
  // reaches the window loop that follows.
  void stop_timer() {
    if (timer) SDL_RemoveTimer(timer);
    timer = nullptr;
    SDL_Event pending[64];
    std::vector<SDL_Event> keep;
    int n;
    while ((n = SDL_PeepEvents(pending, 64, SDL_GETEVENT, SDL_EVENTMASK(SDL_USEREVENT))) > 0)
      for (int i = 0; i < n; ++i)
        if (!(user_event_number(pending[i]) == UE_LINK_COMMAND && !pending[i].user.data1))
          keep.push_back(pending[i]);
    for (SDL_Event& e : keep) SDL_PushEvent(&e);
  }
  void feed(int key) { edit_widget_key_with_cursor(screen, kLogin, key, &blink); }
  void set_state(int widget, int state) {
    if (widget > 0) set_widget_state(screen, kLogin, widget, state);
  }
};

// 1 when the typed pair is an account; otherwise the password field is emptied and the box
// shown. The texts are bounded by the options' fields.
int try_login(LoginScreen& ls, APP_OPTIONS* opts) {
  copy_field(opts->user_id, get_widget_text(kLogin, LW_USER));
  copy_field(opts->password, get_widget_text(kLogin, LW_PASSWORD));
  if (is_valid_user(opts->user_id, opts->password)) {
    opts->logged_in = 1;
    opts->rights = check_login(opts->user_id, opts->password);
    ls.stop_timer();
    return 1;
  }
  std::memset(opts->password, 0, sizeof opts->password);
  clear_widget_text(ls.screen, kLogin, LW_PASSWORD);
  error_box("Invalid ID or password!");
  return 0;
}

}  // namespace

Uint32 login_timer_tick(Uint32 interval, void*) {
  name_callback_thread("sdl timer");  // SDL's own thread, named from its first call
  push_user_event(UE_LINK_COMMAND);
  return interval;
}

int init_skin_window(APP_OPTIONS* opts) {
  if (load_skin(opts->skin_file, kLogin) != 0) {
    std::printf("load_skin() failed.\n");
    return -1;
  }
  const SDL_Rect size = get_skin_size(kLogin);
  SDL_Surface* screen = SDL_SetVideoMode(size.w, size.h, 32, kVideoFlags);
  if (!screen) {
    std::printf("SDL_SetVideoMode(%d, %d, 0, %d) failed.\n", size.w, size.h, int(kVideoFlags));
    return -2;
  }
  draw_skin_window(screen, kLogin);
  set_widget_attr(kLogin, LW_USER, 6, 0);
  set_widget_attr(kLogin, LW_PASSWORD, 6, 0);
  // The screen surface belongs to SDL: the main window's video mode replaces it.
  return run_login_screen(opts);
}

int run_login_screen(APP_OPTIONS* opts) {
  LoginScreen ls;
  ls.screen = SDL_GetVideoSurface();
  ls.start_timer();
  ls.blink = 1;
  SDL_EnableKeyRepeat(100, 70);
  SDL_Event ev;
  while (SDL_WaitEvent(&ev)) {
    switch (ev.type) {
      case SDL_ACTIVEEVENT:
        if (ev.active.state & (SDL_APPINPUTFOCUS | SDL_APPACTIVE)) {
          if (ev.active.gain) {
            ls.blink = 1;
            ls.feed(kBlinkKey);
            ls.start_timer();
          } else {
            ls.blink = 0;
            ls.feed(kBlinkKey);
            if (ls.timer) SDL_RemoveTimer(ls.timer);
            ls.timer = nullptr;
          }
        }
        break;
      case SDL_KEYDOWN: {
        const int sym = ev.key.keysym.sym;
        if (sym >= SDLK_KP0 && sym <= SDLK_KP9) {
          ls.feed(sym - 208);  // keypad digits, whatever Num Lock says
        } else if (sym == SDLK_RETURN || sym == SDLK_KP_ENTER) {
          if (try_login(ls, opts) == 1) return 1;
        } else if (sym == SDLK_ESCAPE) {
          ls.stop_timer();
          return 0;
        } else if (sym == SDLK_BACKSPACE || sym == SDLK_TAB) {
          ls.feed(sym);
        } else if (ev.key.keysym.unicode != 0) {
          ls.feed(ev.key.keysym.unicode);
        }
        break;
      }
      case SDL_MOUSEMOTION: {
        const int w = find_widget_at(kLogin, ev.motion.x, ev.motion.y);
        if (w != ls.hovered) {
          ls.set_state(ls.hovered, 0);
          ls.set_state(w, 2);
          ls.hovered = w;
        }
        break;
      }
      case SDL_MOUSEBUTTONDOWN:
        if (ev.button.button == SDL_BUTTON_LEFT) {
          const int w = find_widget_at(kLogin, ev.button.x, ev.button.y);
          ls.blink = 0;
          ls.feed(kBlinkKey);
          // The field pressed keeps the focus; the other one (both, off the fields) loses it.
          if (w != LW_USER) ls.set_state(LW_USER, 0);
          if (w != LW_PASSWORD) ls.set_state(LW_PASSWORD, 0);
          ls.set_state(w, 1);
        }
        break;
      case SDL_MOUSEBUTTONUP:
        if (ev.button.button == SDL_BUTTON_LEFT) {
          const int w = find_widget_at(kLogin, ev.button.x, ev.button.y);
          if (w > 0) {
            press_widget(ls.screen, kLogin, w);
            ls.set_state(w, 0);
          }
          if (w == LW_OK && try_login(ls, opts) == 1) return 1;
          if (w == LW_CANCEL) {
            ls.stop_timer();
            return 0;
          }
        }
        break;
      case SDL_QUIT: ls.stop_timer(); return 0;
      case SDL_VIDEOEXPOSE:
        if (ls.screen) {
          SDL_SetClipRect(ls.screen, nullptr);
          SDL_UpdateRect(ls.screen, 0, 0, 0, 0);
        }
        break;
      case SDL_USEREVENT:
        if (user_event_number(ev) == UE_LINK_COMMAND) ls.feed(kBlinkKey);
        break;
      default: break;
    }
  }
  ls.stop_timer();
  return 0;
}
