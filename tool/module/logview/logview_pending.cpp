// Stand-ins of the log viewer windows until they are built: empty windows with their titles.
#include "tool/module/logview/logview.h"
#include "tool/standin_window.h"

__attribute__((weak)) void create_logview_window() { open_standin_window(kLogviewTitle, true); }

__attribute__((weak)) void create_syslog_window() { open_standin_window(kSyslogTitle, false); }
