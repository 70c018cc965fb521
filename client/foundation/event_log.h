// The daily event log and the actions of the main window on a DVR event (log line, event
// table, snapshot, alarm sound, e-mail, mailslot). handle_dvr_event runs on the main window's
// event loop only.
//
// Not built yet: pending/event_actions.cpp takes no action.
#pragma once

struct APP_OPTIONS;
struct APP_CONTEXT;
struct EVENT_NOTICE;

// 0; -1 when the notice's time has no local time; -2 when no receiver has its DVR name.
int handle_dvr_event(APP_OPTIONS* opts, APP_CONTEXT* ctx, const EVENT_NOTICE* notice);
