// Start-up, window modes and shutdown of vigilo: everything main() does.
//
// Runs on the program's first thread, which then runs the event loop of the window mode.
#pragma once

#include <SDL/SDL.h>

struct APP_OPTIONS;

// Window modes of APP_OPTIONS::mode.
enum : int {
  MODE_MAIN = 0,
  MODE_EXTENSION = 1,
  MODE_SPOT = 2,
  MODE_SEARCH = 3,
  MODE_PLAYBACK = 4,
  MODE_EVENT_PLAYBACK = 5,
  MODE_TIME_PLAYBACK = 7,
};

// The whole run: start-up, the event loop of the mode, shutdown. Returns the exit code:
// 0 after a normal run (also a cancelled login or a refused display depth); -1 for the
// usage text, a second main window, an unreadable setup.cfg or a fatal box during its load;
// 1 when no X display can be opened (unless SDL_VIDEODRIVER names a driver); -2 when SDL
// cannot start; 2 when SDL_ttf cannot start. When the X server goes away the process ends
// with code 3 from the X I/O error handler, recordings closed, without returning here.
int vigilo_main(int argc, char** argv);

// Title of the window of `mode` ("ZOL Main" for modes without one of their own).
const char* window_title_of_mode(int mode);
// Skin window of `mode`: 3 search, 4 playback, 5 event playback, 2 every other mode.
int skin_window_of_mode(int mode);
// In an extension window the master address of -i becomes peer 0's address; without -i
// peer 0 keeps its default (127.0.0.1). Other modes change nothing.
void take_master_address(APP_OPTIONS* opts);
// Where a window of width x height asked for at (left, top) by -w opens on a desktop of
// desk_w x desk_h (0: not known): moved in so that all of it shows, at 0 when it is larger
// than the desktop. 0 with *x, *y; -1 when left or top is negative (the system places it).
int clamp_window_position(int left, int top, int width, int height, int desk_w, int desk_h, int* x,
                          int* y);
// Sets the window and icon title from the options' mode. Needs SDL video started.
void set_window_caption(const APP_OPTIONS* opts);

// The display's video information as start-up found it before the window opened (the
// desktop size is current_w x current_h; vfmt is null, as SDL frees that record with the next
// video mode). Valid after start-up step 15; read-only.
extern SDL_VideoInfo app_video_info;
