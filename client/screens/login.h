// Login screen: opens the login skin's window and runs the login until the operator is in.
// Runs on the first thread during start-up.
//
// Not built yet: the stand-in in pending/login.cpp leaves the operator logged out.
#pragma once

struct APP_OPTIONS;

// 1 when logged in; -1 the login skin did not load; -2 no video mode; anything else when the
// operator gave up. Any result but 1 ends the run.
int init_skin_window(APP_OPTIONS* opts);
