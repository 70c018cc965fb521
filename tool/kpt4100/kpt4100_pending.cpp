// Stand-ins of the remote DVR setup until it is built: an empty window, a thread that ends.
#include "tool/kpt4100/client/dvrsetup_client.h"
#include "tool/kpt4100/dvrsetup_window.h"
#include "tool/standin_window.h"

__attribute__((weak)) void create_dvrsetup_window(const char*) {
  open_standin_window(kDvrSetupTitle, true);
}

__attribute__((weak)) void* dvrsetup_fetch_thread(void*) { return nullptr; }
