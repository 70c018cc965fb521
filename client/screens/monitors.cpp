// Status and mailslot timers, the CPU, network and clock monitors, the alarm pop-up and the
// main window's side of the DVR event actions.
#include "client/screens/monitors.h"

#include <atomic>
#include <chrono>
#include <cstdint>
#include <thread>

#include "client/foundation/app_state.h"
#include "client/foundation/channel_table.h"
#include "client/foundation/config/mailslot.h"
#include "client/foundation/config/setup_config.h"
#include "client/foundation/config/utils.h"
#include "client/foundation/dvr_events.h"
#include "client/foundation/sdl_lock.h"
#include "client/foundation/user_events.h"
#include "client/foundation/win_helpers.h"
#include "client/links/mulaw.h"
#include "client/screens/launcher.h"
#include "client/screens/layouts.h"
#include "client/screens/osd.h"
#include "client/screens/panel.h"
#include "client/screens/screen_state.h"
#include "client/screens/skin.h"
#include "client/screens/tiles.h"
#include "client/screens/widget_text.h"
#include "platform/sync/thread_name.h"
#include "platform/system/process.h"
#include "platform/system/reboot.h"

namespace {

constexpr int kMainWindow = SKIN_MAIN;
constexpr const char* kCpuCounter = "\\Processor(_Total)\\% Processor Time";

APP_CONTEXT* process_context() { return app_options.context ? app_options.context : &app_context; }

std::atomic<uint32_t> g_elapsed_ms{0};

// ---------------------------------------------------------------- DVR event hooks

void show_event_lines(APP_CONTEXT* ctx, bool clear, const char* const* lines, size_t count) {
  if (!ctx->skin) return;
  const int list = find_widget(kMainWindow, "evt_list");
  if (list <= 0) return;
  SDL_Surface* screen = ctx->surfaces[SURF_SCREEN];
  SdlLock lock(ctx->display_mutex);
  if (clear) clear_widget_lines(screen, kMainWindow, list);
  for (size_t i = 0; i < count; ++i) add_widget_line(screen, kMainWindow, list, lines[i], 0, 0);
  if (ctx->fullscreen) return;
  // The list scrolls in its newest line only: animating through every line of a burst
  // would hold the window thread (and the display) for most of a second each time.
  if (SKIN_WIDGET* w = get_skin_widget(kMainWindow, list);
      w && w->first_line - w->shown_first_line > 1)
    w->shown_first_line = w->first_line - 1;
  add_widget_line(screen, kMainWindow, list, nullptr, 0, 1);
}

void play_alarm(uint8_t kind) {
  if (kind == 0x02)
    play_motion_sound(1);
  else
    play_sensor_sound(1);
}

void redraw_channel(APP_CONTEXT* ctx, int32_t id) {
  RECEIVER_INFO* rx = find_receiver_by_channel(ctx, id);
  if (!rx || draw_channel(rx, id) != 0) return;
  render_osd_text(rx, id);
  update_channel_cell(rx, id);
}

// ---------------------------------------------------------------- alarm pop-up

// data1 of UE_POPUP: the action in the second byte, the pop-up type in the first.
enum : int { POPUP_SHOW = 1, POPUP_RESTORE = 2 };

// What the loop changed for the pop-up, to put back (window loop only).
struct PopupView {
  int32_t layout = 0, page = 0;
  int32_t enlarged = -1;  // channel that was enlarged before type 2 took the view
};
PopupView g_view;

// Sleeps up to `ms` in steps that see app_quit: false when it was set.
bool sleep_unless_quitting(int ms) {
  for (int slept = 0; slept < ms && !app_quit.load(); slept += 100)
    std::this_thread::sleep_for(std::chrono::milliseconds(ms - slept < 100 ? ms - slept : 100));
  return !app_quit.load();
}

// Asks the window loop to act; a full SDL queue is tried again until the loop makes room.
void ask_loop(int action, int type, int32_t id) {
  void* what = reinterpret_cast<void*>(intptr_t((action << 8) | (type & 0xFF)));
  void* channel = reinterpret_cast<void*>(intptr_t(id));
  while (push_user_event(UE_POPUP, what, channel) != 0 && sleep_unless_quitting(100)) {}
}

}  // namespace

void install_event_action_hooks() {
  set_event_action_hooks(EVENT_ACTION_HOOKS{show_event_lines, play_alarm, redraw_channel});
  start_event_actions(&app_options, process_context());
}

void reset_status_timer() { g_elapsed_ms.store(0); }

Uint32 status_timer(Uint32 interval, void* param) {
  // SDL's timer thread runs every timer of the client (refresh, status, mailslot): it is
  // named from the first status tick.
  name_callback_thread("sdl timer");
  APP_CONTEXT* ctx = param ? static_cast<APP_CONTEXT*>(param) : process_context();
  const uint32_t t = g_elapsed_ms.load();
  if (t % 1000 == 0) {
    push_user_event(screen_state.cam_info_shown.load() ? UE_SHOW_CAM_INFO : UE_SHOW_RECEIVE_STATS);
    push_user_event(UE_CPU_METER);
    push_user_event(UE_NETWORK_METER);
  }
  if (t % 5000 == 0) {
    screen_state.disk_free.store(
        get_disk_free_percent(app_options.program_dir[0] ? app_options.program_dir : "."));
    push_user_event(UE_DISK_METER);
  }
  if (t % 1000 == 0) {
    if (screen_state.message_timeout.load() > 0)
      screen_state.message_timeout.fetch_sub(1);
    else
      push_user_event(UE_HIDE_MESSAGE);
  }
  const uint32_t idle = SDL_GetTicks() - ctx->last_mouse_ticks.load();
  push_user_event(idle < 1000 ? UE_HIDE_TOOLTIP : UE_SHOW_TOOLTIP);
  if (const uint8_t watchdog = get_watchdog()) {
    if (!ctx->main_loop_running.load() || modal_wait_active()) {
      // Start-up before the loop runs, a window whose loop answers no 37, or a loop waiting
      // for the operator or a window: nothing hangs, and the loop gets its full time back.
      ctx->watchdog.store(watchdog);
    } else {
      const uint8_t left = uint8_t(ctx->watchdog.load());
      if (left == 0) request_reboot();
      push_user_event(UE_WATCHDOG);
      ctx->watchdog.store(uint8_t(left - 1));
    }
  }
  g_elapsed_ms.store(t + interval);
  return interval;
}

Uint32 mailslot_timer(Uint32 interval, void*) {
  APP_CONTEXT* ctx = process_context();
  int reader = ctx->mailslot.load();
  if (reader < 0) return interval;
  uint8_t buf[MAILSLOT_REQUEST_SIZE];
  const int r = mailslot_read(reader, buf, sizeof buf);
  if (r == 1) {
    const MAILSLOT_REQUEST q = decode_mailslot_request(buf);
    start_time_playback_window(q.target, q.channel_mask, int(q.year), int(q.month), int(q.day),
                               int(q.hour), int(q.minute));
  } else if (r == -1) {
    // The reader broke: closed until the log viewer opens the mailslot again.
    int expected = reader;
    if (ctx->mailslot.compare_exchange_strong(expected, -1)) mailslot_close_reader(reader);
  }
  // Nothing waiting, or a message of another size, is no failure.
  return interval;
}

int cpu_monitor_thread(void*) {
  set_current_thread_name("cpu monitor");
  while (!app_quit.load()) {
    const int load = read_perf_counter(kCpuCounter);
    if (!app_quit.load()) screen_state.cpu_load.store(load);
  }
  return 0;
}

int adapter_monitor_thread(void*) {
  set_current_thread_name("net monitor");
  watch_net_adapter("", process_context());
  return 0;
}

int clock_thread(void*) {
  set_current_thread_name("clock");
  clock_loop(process_context(), &app_quit);
  return 0;
}

int event_popup_thread(void*) {
  set_current_thread_name("popup");
  APP_CONTEXT* ctx = process_context();
  using Clock = std::chrono::steady_clock;
  while (!app_quit.load()) {
    const int32_t id = ctx->alarm_channel.load();
    if (id < 0) {
      sleep_unless_quitting(100);
      continue;
    }
    RC_SYSTEM_INFO sys;
    copy_system_info(&sys);
    const int type = int8_t(sys.event_popup_type);
    auto until = Clock::now() + std::chrono::seconds(sys.event_popup_time);
    int spot_pid = -1;
    switch (type) {
      case 0:
      case 2: ask_loop(POPUP_SHOW, type, id); break;
      case 1:
        // The process itself is kept: a table slot may be reused once that window is gone.
        spot_pid = start_event_spot_window(&app_options, ctx);
        until += std::chrono::seconds(5);
        break;
      case 3: until = Clock::now(); break;
      default: break;  // active without any action until its time has run
    }
    while (Clock::now() < until && sleep_unless_quitting(100)) {}
    if (type == 1 && spot_pid > 0) terminate_process(spot_pid);
    if ((type == 0 || type == 2) && !app_quit.load()) ask_loop(POPUP_RESTORE, type, id);
    ctx->alarm_channel.store(-1);
  }
  return 0;
}

int handle_popup_request(const SDL_Event& ev, APP_CONTEXT* ctx, APP_OPTIONS*) {
  const int what = int(reinterpret_cast<intptr_t>(ev.user.data1));
  const int32_t id = int32_t(reinterpret_cast<intptr_t>(ev.user.data2));
  const int action = what >> 8, type = what & 0xFF;
  if (type == 0 && action == POPUP_SHOW) {
    // As a double click does: the channel alone, on its own page, selected with its sound.
    g_view.layout = ctx->layout.load();
    g_view.page = ctx->page.load();
    save_channel_selection(ctx);
    clear_channel_selection(ctx);
    clear_channel_audio(ctx);
    set_layout(ctx, 1);
    set_layout_page(ctx, id);
    select_channel(ctx, id);
    set_channel_audio(ctx, id);
  } else if (type == 0 && action == POPUP_RESTORE) {
    if (g_view.layout > 0 && set_layout(ctx, g_view.layout) == 0) set_layout_page(ctx, g_view.page);
    clear_channel_selection(ctx);
    clear_channel_audio(ctx);
    restore_channel_selection(ctx);
  } else if (type == 2 && action == POPUP_SHOW) {
    g_view.enlarged = -1;
    if (ctx->single_view.load() != VIEW_TILES) {
      g_view.enlarged = ctx->single_channel.load();
      toggle_single_view(ctx, g_view.enlarged);
    }
    toggle_single_view(ctx, id);
  } else if (type == 2 && action == POPUP_RESTORE) {
    // Only the view the pop-up made is undone; one the operator chose since stays.
    if (ctx->single_view.load() != VIEW_TILES && ctx->single_channel.load() == id) {
      toggle_single_view(ctx, id);
      if (g_view.enlarged >= 0) toggle_single_view(ctx, g_view.enlarged);
    }
    g_view.enlarged = -1;
  }
  return 0;
}
