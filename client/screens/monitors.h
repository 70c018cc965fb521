// Background monitors and timers: the status and mailslot timers (SDL's timer thread) and
// the CPU, network-adapter, clock and alarm pop-up threads (SDL threads; they use the one
// context and options of the process). Started by start-up; the threads end on app_quit
// and are joined by shutdown.
//
// Timers and threads never draw: they push user events, and the window loop acts on them
// (the pop-up's view changes come back as UE_POPUP). The status timer runs the GUI
// watchdog: with [SYSTEM] watchdog non-zero, the machine is restarted (request_reboot) when
// the main event loop, once running, has answered no UE_WATCHDOG for watchdog + 1 ticks;
// modal waits are not counted.
#pragma once

#include <SDL/SDL.h>

struct APP_CONTEXT;
struct APP_OPTIONS;

Uint32 status_timer(Uint32 interval, void* ctx);       // every 500 ms; returns the interval
Uint32 mailslot_timer(Uint32 interval, void* unused);  // every 500 ms; returns the interval
int cpu_monitor_thread(void* unused);
int adapter_monitor_thread(void* unused);
int clock_thread(void* unused);
int event_popup_thread(void* unused);

// The window loop's side of the pop-up (user event UE_POPUP): shows the alarm channel in
// the configured way or restores the view from before. 0.
int handle_popup_request(const SDL_Event& ev, APP_CONTEXT* ctx, APP_OPTIONS* opts);
// Registers the main window's event list, alarm sounds and channel redraw with the DVR
// event actions and starts their worker, which from then on takes the DVR event notices
// (window loop, at start; the main window only).
void install_event_action_hooks();
// Starts the status timer's elapsed time at 0 again (tests).
void reset_status_timer();
