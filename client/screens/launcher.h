// Launcher of companion programs: copies of vigilo in other window modes, the setup tool,
// the sibling programs, and the bookkeeping of what this process started. Window loop only.
//
// Not built yet: pending/launcher.cpp holds stand-ins that start nothing (-1).
#pragma once

struct APP_OPTIONS;
struct APP_CONTEXT;

// Each: 0 (or the entry index) when started or raised, negative when refused or failed.
int start_extension_window(APP_OPTIONS* opts, APP_CONTEXT* ctx);
int start_spot_window(APP_OPTIONS* opts, APP_CONTEXT* ctx);
int start_search_window(APP_OPTIONS* opts);   // -2 when a running one was raised
int start_auxdesk(const char* mode_word, APP_OPTIONS* opts);
int start_monitor_program(APP_OPTIONS* opts, const char* which);  // "CPU" or "Network"
int start_probe(APP_OPTIONS* opts, APP_CONTEXT* ctx);
int start_refresher(APP_OPTIONS* opts, APP_CONTEXT* ctx);
// Asks the windows of the programs this process started to close, then ends those processes.
void close_child_windows();
// Waits up to `timeout_ms` each for the search window and the E-Map this process started.
void wait_search_and_emap(int timeout_ms);
