// Functions that start-up and shutdown call whose own areas have not landed yet.
//
// Each block names the area that will provide the function. The stand-ins are weak, so a
// real definition of the same signature takes over at link time; the area that implements
// one also deletes its block here and in pending.cpp and declares the function in its own
// header (which startup.cpp then includes). The signatures are the ones start-up calls.
// All of them run on the first thread unless their comment says otherwise.
#pragma once

#include <SDL/SDL.h>

struct APP_OPTIONS;
struct APP_CONTEXT;
struct PAIR_BUFFERS;

// --- login screen: the operator logs in; 1 when logged in, anything else ends the run.
int init_skin_window(APP_OPTIONS* opts);

// --- audio output: opens the device with the desired/obtained specs of `specs`.
int init_audio(PAIR_BUFFERS* specs);
int deinit_audio();

// --- main window panel.
int convert_tile_images(APP_CONTEXT* ctx);
void setup_main_panel(APP_CONTEXT* ctx);
void draw_dvr_list(APP_CONTEXT* ctx);

// --- event loops of the window modes.
void draw_search_window(APP_CONTEXT* ctx);
int search_event_loop(APP_OPTIONS* opts);
void draw_speed_label(APP_OPTIONS* opts);
int playback_event_loop(APP_OPTIONS* opts);

// --- e-mail alert queue; the sender is an SDL thread.
void mail_queue_init();
int mail_queue_stop();
int mail_sender_thread(void* quit_flag);

// --- launcher of companion programs.
int start_refresher(APP_OPTIONS* opts, APP_CONTEXT* ctx);
void close_child_windows();
// Waits up to `timeout_ms` each for the search window and the E-Map this process started.
void wait_search_and_emap(int timeout_ms);

// --- master/slave link; the threads are SDL threads with the options as argument.
int master_thread(void* opts);
int slave_thread(void* opts);
void close_link_socket(APP_OPTIONS* opts);

// --- background monitors and timers (timers on SDL's timer thread).
Uint32 status_timer(Uint32 interval, void* ctx);
Uint32 mailslot_timer(Uint32 interval, void* unused);
int cpu_monitor_thread(void* unused);
int adapter_monitor_thread(void* unused);
int clock_thread(void* unused);
int event_popup_thread(void* unused);
