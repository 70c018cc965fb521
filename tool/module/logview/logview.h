// The event and system log viewer windows. GTK main thread only.
#pragma once

// Mode "logview": the event log window titled "ZOL - Log View"; closing it ends the tool's
// main loop.
void create_logview_window();
// The system log window titled "ZOL - System Log View", opened from the Client Setup
// window; closing it destroys that window only.
void create_syslog_window();

// Titles the callers look windows up by.
constexpr const char* kLogviewTitle = "ZOL - Log View";
constexpr const char* kSyslogTitle = "ZOL - System Log View";
