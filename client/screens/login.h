// Login screen: the frameless window of the login skin (skin window 1) where the operator
// types an id and a password, checked against the [USER] accounts.
//
// Runs on the first thread during start-up, before any other thread exists. The password is
// never printed; a wrong one is cleared from the screen and from the options.
#pragma once

#include <SDL/SDL.h>

struct APP_OPTIONS;

// Loads the login skin and opens its window, then runs the login. 1 when logged in; -1 the
// login skin did not load ("load_skin() failed.\n"); -2 no video mode; 0 when the operator
// gave up. Any result but 1 ends the run.
int init_skin_window(APP_OPTIONS* opts);
// The login loop: 1 after a valid login (options logged in, rights stored), 0 on Esc,
// Cancel or the window closed. The blink timer is removed on every way out.
int run_login_screen(APP_OPTIONS* opts);
// SDL timer callback of the cursor blink (every 600 ms): pushes user event 24 without data.
Uint32 login_timer_tick(Uint32 interval, void* param);
