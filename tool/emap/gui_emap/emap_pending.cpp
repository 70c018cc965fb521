// Stand-ins of the E-Map window and its spot windows until they are built.
#include "tool/emap/gui_emap/emap_events.h"
#include "tool/emap/gui_emap/emap_window.h"
#include "tool/standin_window.h"

__attribute__((weak)) void create_emap_window(const char*) { open_standin_window(kEmapTitle, true); }

// No spot window is started yet, so there is none to end.
__attribute__((weak)) int kill_child_processes() { return 0; }
