// Background monitors and timers: the status and mailslot timers (SDL's timer thread) and
// the CPU, network-adapter, clock and event pop-up threads (SDL threads; they use the one
// context and options of the process). Started by start-up, stopped through app_quit.
//
// Not built yet: pending/monitors.cpp holds stand-ins that end at once.
#pragma once

#include <SDL/SDL.h>

Uint32 status_timer(Uint32 interval, void* ctx);      // every 500 ms; returns the interval
Uint32 mailslot_timer(Uint32 interval, void* unused); // every 500 ms; returns the next one
int cpu_monitor_thread(void* unused);
int adapter_monitor_thread(void* unused);
int clock_thread(void* unused);
int event_popup_thread(void* unused);
