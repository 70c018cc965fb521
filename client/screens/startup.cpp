#include "client/screens/startup.h"

#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <unistd.h>

#include <SDL/SDL_syswm.h>
#include <SDL/SDL_ttf.h>

#include "client/foundation/app_state.h"
#include "client/foundation/config/app_options.h"
#include "client/foundation/config/mailslot.h"
#include "client/foundation/config/setup_config.h"
#include "client/foundation/config/setup_lookup.h"
#include "client/foundation/config/system_log.h"
#include "client/foundation/config/utils.h"
#include "client/foundation/dvr_events.h"
#include "client/foundation/mail_queue.h"
#include "client/foundation/stats.h"
#include "client/foundation/win_helpers.h"
#include "client/links/connection.h"
#include "client/links/decoder_thread.h"
#include "client/links/mulaw.h"
#include "client/links/receive_rings.h"
#include "client/links/recording.h"
#include "client/screens/event_loop.h"
#include "client/screens/layouts.h"
#include "client/screens/options.h"
#include "client/screens/launcher.h"
#include "client/screens/login.h"
#include "client/screens/master_link.h"
#include "client/screens/monitors.h"
#include "client/screens/panel.h"
#include "client/screens/playback_window.h"
#include "client/screens/screen_state.h"
#include "client/screens/search_window.h"
#include "client/screens/skin.h"
#include "client/screens/skin_tables.h"
#include "client/screens/skin_tables.h"
#include "client/screens/tiles.h"
#include "client/screens/widget_text.h"
#include "platform/system/x11_session.h"

SDL_VideoInfo app_video_info;

namespace {

int desktop_bits = 0;  // bits per pixel of the desktop when start-up began, 0 unknown

constexpr Uint32 kSdlFlags =
    SDL_INIT_TIMER | SDL_INIT_AUDIO | SDL_INIT_VIDEO | SDL_INIT_NOPARACHUTE;
constexpr const char* kMainTitle = "ZOL Main";
// Exit code of a run whose X server went away.
constexpr int kExitDisplayLost = 3;

// The X server went away: the recordings are closed whole before the process ends.
void close_recordings_at_display_loss() { end_recordings(&app_context); }

// Handles of what start-up started; each stays empty until started and is tested before
// it is removed or waited for.
struct Started {
  SDL_Thread* link = nullptr;
  SDL_TimerID refresh = nullptr;
  SDL_TimerID status = nullptr;
  SDL_TimerID mailslot = nullptr;
  SDL_Thread* cpu = nullptr;
  SDL_Thread* adapter = nullptr;
  SDL_Thread* mail = nullptr;
  SDL_Thread* clock = nullptr;
  SDL_Thread* popup = nullptr;
  bool ttf = false;
};

PAIR_BUFFERS g_audio_pair;

// The program's own directory with its trailing '/'. The executable's real path comes
// first, so a start through PATH or with a relative argv[0] still finds the run tree;
// argv[0] is the fallback when /proc is not there.
void find_program_dir(char* out, size_t cap, const char* argv0) {
  char exe[PATH_MAX];
  ssize_t n = readlink("/proc/self/exe", exe, sizeof(exe) - 1);
  if (n > 0) {
    exe[n] = '\0';
    path_dir(out, cap, exe);
    if (*out) return;
  }
  path_dir(out, cap, argv0);
}

// Releases what step 2 set up, for the returns before SDL starts.
void release_early() {
  free_skins();
  free_layout_table(app_context.layouts);
  free_app_context(&app_context);
  free_pair_buffers(&g_audio_pair);
  free_app_options(&app_options);
  stats_free();
}

SDL_Thread* start_thread(int (*fn)(void*), void* arg) {
  SDL_Thread* t = SDL_CreateThread(fn, arg);
  if (!t) fatal_box("SDL_CreateThread() failed.\n");
  return t;
}

SDL_TimerID add_timer(Uint32 interval, SDL_NewTimerCallback fn, void* arg) {
  SDL_TimerID id = SDL_AddTimer(interval, fn, arg);
  if (!id) fatal_box("SDL_AddTimer() failed.\n");
  return id;
}

// Marks our window with our process id, so the launcher's look-ups by process find it.
void mark_window() {
  SDL_SysWMinfo info;
  SDL_VERSION(&info.version);
  if (SDL_GetWMInfo(&info) > 0 && info.subsystem == SDL_SYSWM_X11)
    mark_own_window(info.info.x11.wmwindow);
}

// The -w position, kept on the desktop (a caller may ask for its full width and height).
void place_window(const APP_CONTEXT* ctx) {
  int x = 0, y = 0;
  if (clamp_window_position(ctx->win_left, ctx->win_top, ctx->win_w, ctx->win_h,
                            app_video_info.current_w, app_video_info.current_h, &x, &y) != 0)
    return;
  const std::string pos = std::to_string(x) + "," + std::to_string(y);
  setenv("SDL_VIDEO_WINDOW_POS", pos.c_str(), 1);
}

void show_mute_button(APP_CONTEXT* ctx) {
  int id = ctx->skin_window;
  int mute = find_widget(id, "mute");
  int no_mute = find_widget(id, "no_mute");
  if (mute) set_widget_attr(id, mute, 1, ctx->mute ? 0 : 1);
  if (no_mute) set_widget_attr(id, no_mute, 1, ctx->mute ? 1 : 0);
  SDL_Surface* screen = SDL_GetVideoSurface();
  if (!screen) return;  // nothing is on screen yet; the window's first drawing shows it
  if (mute) redraw_widget(screen, id, mute);
  if (no_mute) redraw_widget(screen, id, no_mute);
}

// Login, skin, window, threads and timers, connection, event loop of the mode.
void run_window(APP_OPTIONS* opts, APP_CONTEXT* ctx, Started& s) {
  // Login screen unless -u already logged in.
  if (!opts->logged_in) {
    if (init_skin_window(opts) != 1) return;
    if (opts->mode == MODE_MAIN) write_system_log(SYSLOG_LOGIN, opts->user_id, opts->user_id);
  }

  // The "default" skin stands for the skin of the configured resolution.
  const char* default_skin = get_skin_file("default");
  if (default_skin && strcmp(opts->skin_file, default_skin) == 0) {
    const char* chosen = get_skin_file(nullptr);
    if (chosen) copy_field(opts->skin_file, chosen);
  }

  // Skin of the mode's window, or none.
  if (opts->skin) {
    if (load_skin(opts->skin_file, ctx->skin_window) != 0) {
      printf("Some skin images could not be loaded.\n");
      opts->skin = 0;
      ctx->skin = 0;
    } else {
      const char* language = get_language_file(nullptr);
      if (language) load_widget_captions(language, ctx->skin_window);
      if (opts->mode == MODE_MAIN) show_mute_button(ctx);
    }
  } else {
    ctx->skin = 0;
  }

  // Window size.
  int width, height;
  if (ctx->skin) {
    SDL_Rect v = get_video_rect(ctx->skin_window);
    ctx->video_rect = {v.x, v.y, v.w, v.h};
    SDL_Rect size = get_skin_size(ctx->skin_window);
    width = size.w;
    height = size.h;
  } else {
    bool small = opts->mode == MODE_SPOT || opts->mode == MODE_EVENT_PLAYBACK;
    width = small ? 352 : 640;
    height = small ? 240 : 480;
    ctx->video_rect = {0, 0, static_cast<uint16_t>(width), static_cast<uint16_t>(height)};
  }

  // Window, surfaces, skin window and panel, every tile of the layout.
  set_window_geometry(ctx, width, height);
  build_grid_layouts(ctx);
  place_window(ctx);
  // Only 32-bit displays are drawn correctly. The desktop's depth is tested before the
  // window opens, so the operator reads this box and not the video mode's own refusal.
  if (desktop_bits > 0 && desktop_bits < 32) {
    error_box("Only 32-bit display settings is supported.");
    return;
  }
  int mode_rc = create_video_mode(ctx);
  SDL_Surface* screen = SDL_GetVideoSurface();
  if (mode_rc != 0 || !screen) return;  // the display code has shown why
  mark_window();
  convert_tile_images(ctx);
  if (ctx->skin) draw_skin_window(screen, ctx->skin_window);
  redraw_all_channels(ctx);

  ctx->pixel_format = *screen->format;
  ctx->pixel_format.palette = nullptr;

  // Threads and timers of the mode.
  if (opts->mode == MODE_MAIN && opts->master) s.link = SDL_CreateThread(master_thread, opts);
  if (opts->mode == MODE_EXTENSION) s.link = SDL_CreateThread(slave_thread, opts);
  s.refresh = add_timer(25, refresh_timer, ctx);
  s.status = add_timer(500, status_timer, ctx);
  if (opts->mode == MODE_MAIN) {
    s.cpu = start_thread(cpu_monitor_thread, nullptr);
    s.adapter = start_thread(adapter_monitor_thread, nullptr);
    if (opts->mail) {
      opts->mail = static_cast<int8_t>(get_enable_mail());
      if (opts->mail) s.mail = start_thread(mail_sender_thread, &app_quit);
    }
    s.clock = start_thread(clock_thread, nullptr);
    install_event_action_hooks();
    s.popup = start_thread(event_popup_thread, nullptr);
    s.mailslot = add_timer(500, mailslot_timer, nullptr);
  }

  // Decoders, then the connection of -A, -f or -s (connect_dvr acts only once). A
  // time-playback link starts its playback through the search window's hook.
  init_video_decoders();
  install_search_hooks();
  if (opts->auto_start[0]) connect_dvr(opts);
  if (opts->input_file[0] || opts->seek > 0) connect_dvr(opts);

  // The event loop of the mode.
  if ((opts->mode == MODE_MAIN || opts->mode == MODE_SEARCH) && ctx->skin) draw_dvr_list(ctx);
  switch (opts->mode) {
    case MODE_SEARCH:
      if (ctx->skin) draw_search_window(ctx);
      search_event_loop(opts);
      break;
    case MODE_PLAYBACK:
      if (ctx->skin) draw_speed_label(opts);
      playback_event_loop(opts);
      break;
    case MODE_EVENT_PLAYBACK: event_playback_loop(opts); break;
    default:
      ctx->main_loop_running.store(1);
      if (ctx->skin) setup_main_panel(ctx);
      main_event_loop(opts);
      break;
  }
}

int shutdown(APP_OPTIONS* opts, APP_CONTEXT* ctx, Started& s) {
  // Threads that poll the quit flag must see it even when a loop left without setting it
  // (a loop that found no login), or waiting for them below would never end.
  app_quit.store(1);

  // Timers first: their callbacks read what is torn down below.
  if (s.refresh) SDL_RemoveTimer(s.refresh);
  if (s.status) SDL_RemoveTimer(s.status);
  if (s.mailslot) SDL_RemoveTimer(s.mailslot);
  // A callback already under way still runs after its removal: stopping the timer thread
  // waits for it, so nothing below is torn down beneath one.
  SDL_QuitSubSystem(SDL_INIT_TIMER);

  // The link thread waits in accept until its socket is closed.
  if (s.link) {
    close_link_socket(opts);
    SDL_WaitThread(s.link, nullptr);
  }

  // Receive, playback and decoder threads write into the rings: they are stopped and
  // waited for before the rings are freed, never after.
  stop_decoders(opts);
  stop_receivers(opts);
  free_receive_buffers(opts);
  free_video_decoders();
  stop_tour(ctx);

  // Monitors, pop-up, snapshots and mails of the last events, mail sender, clock: the
  // context they use is freed below.
  if (s.cpu) SDL_WaitThread(s.cpu, nullptr);
  if (s.adapter) SDL_WaitThread(s.adapter, nullptr);
  if (s.popup) SDL_WaitThread(s.popup, nullptr);
  stop_event_actions();
  if (s.mail) {
    mail_queue_stop();
    SDL_WaitThread(s.mail, nullptr);
  }
  if (s.clock) SDL_WaitThread(s.clock, nullptr);
  if (ctx->mailslot.load() >= 0) {
    int reader = ctx->mailslot.exchange(-1);
    mailslot_close_reader(reader);
  }

  // Skin, layouts, context, audio buffers, options, statistics, audio output.
  free_skins();
  free_layout_table(ctx->layouts);
  free_app_context(ctx);
  free_pair_buffers(&g_audio_pair);
  int mode = opts->mode;
  free_app_options(opts);
  stats_free();
  deinit_audio();

  // Companion programs this process started.
  close_child_windows();

  // EXIT line.
  if (mode == MODE_SEARCH) {
    write_system_log(SYSLOG_EXIT, "SEARCH", "SEARCH");
  } else if (mode == MODE_MAIN) {
    wait_search_and_emap(100000);
    write_system_log(SYSLOG_EXIT, "ZOL", "ZOL");
  }

  if (s.ttf) TTF_Quit();
  SDL_Quit();
  return 0;
}

}  // namespace

const char* window_title_of_mode(int mode) {
  switch (mode) {
    case MODE_EXTENSION: return "ZOL Extension Window";
    case MODE_SPOT: return "ZOL Spot Window";
    case MODE_SEARCH: return "ZOL Search";
    case MODE_PLAYBACK: return "ZOL Playback";
    case MODE_EVENT_PLAYBACK: return "ZOL Event Playback";
    default: return kMainTitle;
  }
}

// The context's skin window numbers are the ids of the widget tables.
static_assert(int(SKIN_LOGIN) == skin_tables::kLogin && int(SKIN_MAIN) == skin_tables::kMain &&
              int(SKIN_SEARCH) == skin_tables::kSearch &&
              int(SKIN_PLAYBACK) == skin_tables::kPlayback &&
              int(SKIN_EVENT) == skin_tables::kEvent);

int skin_window_of_mode(int mode) {
  switch (mode) {
    case MODE_SEARCH: return SKIN_SEARCH;
    case MODE_PLAYBACK: return SKIN_PLAYBACK;
    case MODE_EVENT_PLAYBACK: return SKIN_EVENT;
    default: return SKIN_MAIN;
  }
}

void set_window_caption(const APP_OPTIONS* opts) {
  const char* title = window_title_of_mode(opts->mode);
  SDL_WM_SetCaption(title, title);
}

int clamp_window_position(int left, int top, int width, int height, int desk_w, int desk_h, int* x,
                          int* y) {
  if (left < 0 || top < 0) return -1;
  auto clamp = [](int v, int size, int desk) {
    if (desk > 0 && v > desk - size) v = desk - size;
    return v < 0 ? 0 : v;
  };
  *x = clamp(left, width, desk_w);
  *y = clamp(top, height, desk_h);
  return 0;
}

void take_master_address(APP_OPTIONS* opts) {
  // A slave connects to the master of -i; an empty -i must not blank the default address.
  if (opts->mode == MODE_EXTENSION && opts->master_address[0])
    copy_field(opts->peers[0].address, opts->master_address);
}

// Banner and SDL versions.
static void print_versions() {
  SDL_version built;
  SDL_VERSION(&built);
  const SDL_version* linked = SDL_Linked_Version();
  printf("vigilo - central monitoring station\n");
  printf("SDL compile-time version %u.%u.%u\n", built.major, built.minor, built.patch);
  printf("SDL run-time version %u.%u.%u\n", linked->major, linked->minor, linked->patch);
}

// Records, layouts, audio buffers, connection records, statistics, skins, mail queue.
// Returns 0, or -1 when the context's mutexes could not be made (the context is freed).
static int init_records(APP_OPTIONS* opts, APP_CONTEXT* ctx) {
  init_app_options(opts);
  if (init_app_context(ctx) != 0) {
    printf("SDL_CreateMutex() failed.\n");
    free_app_context(ctx);
    return -1;
  }
  reset_screen_state(&screen_state);
  clear_layout_table(ctx->layouts);
  alloc_pair_buffers(&g_audio_pair);
  reset_connection_info();
  stats_init();
  init_skins();
  mail_queue_init();
  set_text_mutex(ctx->text_mutex);
  return 0;
}

// Program name and directory; the directory becomes the current one, so "setup.cfg",
// "./logs/" and the skin pictures are found beside the program.
static void take_program_path(int argc, char** argv, APP_OPTIONS* opts, APP_CONTEXT* ctx) {
  const char* argv0 = argc > 0 && argv[0] ? argv[0] : "vigilo";
  path_file_name(opts->program_file, sizeof(opts->program_file), argv0);
  find_program_dir(opts->program_dir, sizeof(opts->program_dir), argv0);
  path_drive(opts->program_drive, sizeof(opts->program_drive), argv0);
  if (opts->program_dir[0] && chdir(opts->program_dir) != 0)
    printf("chdir(%s) failed.\n", opts->program_dir);
  opts->context = ctx;
  opts->audio_buffers = &g_audio_pair;
}

// SDL 1.2 without an X display falls back to other drivers, down to drawing the window
// as characters in the terminal, where nobody can answer it: the client shows its windows
// on X11 unless SDL_VIDEODRIVER names another driver, and without a display it ends here.
// Returns true, or false (what start-up made released) without a display.
static bool have_display() {
  const char* driver = getenv("SDL_VIDEODRIVER");
  if (!driver || !*driver) {
    setenv("SDL_VIDEODRIVER", "x11", 1);
    if (!X11Session().ok()) {
      const char* display = getenv("DISPLAY");
      if (display && *display)
        printf(
            "Cannot open the X display \"%s\": vigilo needs one (or SDL_VIDEODRIVER "
            "naming another video driver).\n",
            display);
      else
        printf(
            "No X display (DISPLAY is not set): vigilo needs one (or SDL_VIDEODRIVER "
            "naming another video driver).\n");
      release_early();
      return false;
    }
  }
  return true;
}

// The main window's single-instance check and START line, setup.cfg, the update check,
// the language file, the window options and the -u login. Returns 0, or -1 after
// release_early.
static int load_setup(APP_OPTIONS* opts, APP_CONTEXT* ctx) {
  // Only one main window; its START line.
  if (opts->mode == MODE_MAIN) {
    if (raise_window(kMainTitle)) {
      release_early();
      return -1;
    }
    write_system_log(SYSLOG_START, "ZOL", "ZOL");
  }
  ctx->skin_window = skin_window_of_mode(opts->mode);
  if (ctx->skin_window != SKIN_MAIN) ctx->ring_size = SECONDARY_RING_SIZE;

  // setup.cfg always comes from the program's directory (-C is only stored).
  std::string setup_path = std::string(opts->program_dir) + "setup.cfg";
  if (load_setup_info(setup_path.c_str()) < 0) {
    error_box("Error encountered while reading setup configuration file.");
    release_early();
    return -1;
  }
  // A fatal box of a load that still went through (a [SYSTEM] or [EMAIL] line with no key)
  // ends the program here, with the same exit code as a failed load.
  if (app_quit.load()) {
    release_early();
    return -1;
  }

  // Update check.
  RC_SYSTEM_INFO sys{};
  copy_system_info(&sys);
  if (sys.check_update == 1) {
    write_system_log(SYSLOG_CHECK, "ZOL", "ZOL");
    start_refresher(opts, ctx);
  }

  // Language file, window options, watchdog.
  language_file_path(opts->program_dir);
  ctx->win_left = opts->win_left;
  ctx->win_top = opts->win_top;
  ctx->skin = opts->skin;
  ctx->frame = opts->frame;
  ctx->auto_resize = opts->auto_resize;
  ctx->watchdog.store(get_watchdog());

  take_master_address(opts);
  read_link_environment(opts);

  // -u with a valid account skips the login screen.
  if (opts->user_id[0] && is_valid_user(opts->user_id, opts->password)) {
    opts->logged_in = 1;
    opts->rights = check_login(opts->user_id, opts->password);
  }
  return 0;
}

// SDL, the window icon, audio output, key translation and text rendering. Returns 0, or the
// exit code after releasing what start-up made.
static int start_sdl(APP_CONTEXT* ctx, Started& s) {
  // SDL. A machine without a sound device still shows video: audio is then left out.
  if (SDL_Init(kSdlFlags) < 0) {
    char reason[256];
    snprintf(reason, sizeof(reason), "%s", SDL_GetError());
    if (SDL_Init(kSdlFlags & ~SDL_INIT_AUDIO) < 0) {
      printf("Could not initialize SDL - %s\n", SDL_GetError());
      release_early();
      return -2;
    }
    printf("Could not initialize SDL audio - %s\n", reason);
  }

  // Window icon, when there is one.
  SDL_RWops* rw = SDL_RWFromFile("images/icon.bmp", "rb");
  SDL_Surface* icon = rw ? SDL_LoadBMP_RW(rw, 1) : nullptr;
  if (icon) {
    SDL_WM_SetIcon(icon, nullptr);
    SDL_FreeSurface(icon);
  }

  // Audio output, key translation, text rendering.
  init_audio(ctx);
  SDL_EnableUNICODE(1);
  if (TTF_Init() < 0) {
    printf("Couldn't initialize TTF: %s\n", SDL_GetError());
    deinit_audio();
    release_early();
    SDL_Quit();
    return 2;
  }
  s.ttf = true;
  return 0;
}

int vigilo_main(int argc, char** argv) {
  // Timers draw from SDL's timer thread and boxes open their own X connections from any
  // thread: Xlib must be made thread-safe before anything, SDL included, talks to X.
  x11_init_threads_once();
  x11_on_connection_lost(close_recordings_at_display_loss, kExitDisplayLost);
  setvbuf(stdout, nullptr, _IOLBF, 0);

  APP_OPTIONS* opts = &app_options;
  APP_CONTEXT* ctx = &app_context;

  print_versions();
  if (init_records(opts, ctx) != 0) return -1;
  take_program_path(argc, argv, opts, ctx);

  // Command line.
  if (const int parsed = argc > 1 ? parse_options(argc, argv, opts) : -1; parsed >= 0) {
    print_usage();
    release_early();
    return parsed == 1 ? 0 : -1;  // asked for with --help, or one stray word
  }

  if (!have_display()) return 1;
  if (load_setup(opts, ctx) != 0) return -1;

  // The video driver was chosen above; only the centring hint is needed.
  setenv("SDL_VIDEO_CENTERED", "1", 1);

  Started s;
  if (const int rc = start_sdl(ctx, s); rc != 0) return rc;
  x11_on_connection_lost(close_recordings_at_display_loss, kExitDisplayLost);  // before SDL's

  // Desktop information and title.
  const SDL_VideoInfo* vi = SDL_GetVideoInfo();
  if (vi) {
    app_video_info = *vi;
    // SDL replaces the format record with each video mode: keep its depth, not the pointer.
    desktop_bits = vi->vfmt ? vi->vfmt->BitsPerPixel : 0;
    app_video_info.vfmt = nullptr;
    ctx->desktop_w = vi->current_w;
    ctx->desktop_h = vi->current_h;
  }
  set_window_caption(opts);

  run_window(opts, ctx, s);
  return shutdown(opts, ctx, s);
}
