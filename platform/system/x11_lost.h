// The end of the process when its X server goes away.
//
// Xlib's own handler of a broken connection calls exit() on every thread that meets it, so
// several threads ran the exit handlers and static destructors at once. Ours lets the first
// such thread run the program's last step and end the process with _exit; every other thread
// that meets a broken connection waits there for that end. Any connection counts, SDL's
// included: the handler is process-wide.
#pragma once

// Installs the handler; called on the first thread before anything opens the display, and
// again once SDL's video has started: SDL puts a handler of its own in front, which takes
// SDL's display away from every thread before it passes the loss on, so a thread still
// drawing would crash. `on_lost` runs on the first thread to meet a broken connection and must not
// use X; the process then ends with _exit(exit_code), also when `on_lost` has not returned
// within X11_LOST_GRACE_MS. exit_code must not be 0.
void x11_on_connection_lost(void (*on_lost)(), int exit_code);

constexpr int X11_LOST_GRACE_MS = 10000;
