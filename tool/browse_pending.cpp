// Stand-in of the recorded-file browser until it is built: an empty window.
#include "tool/browse.h"
#include "tool/standin_window.h"

__attribute__((weak)) int create_browse_window() {
  open_standin_window(nullptr, true);
  return 0;
}
