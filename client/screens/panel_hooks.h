// The main window panel's part of a connection's start and end (panel_hooks.cpp): the
// connection buttons, the DVR and group tabs and the lists of a skinned window.
// install_tile_hooks hands both to the connection module as its after_connect and
// after_disconnect hooks; nothing else calls them.
//
// Threads: the window loop, where the connection module runs these hooks. Each takes the
// display mutex while it changes the widgets on the screen and lets it go before the lists
// are drawn. Nothing happens without a skin or a screen surface.
#pragma once

struct APP_OPTIONS;

// "disconnect" in place of "connect", both tabs off limits, and the camera list in the main
// window; the tab of the connection's own kind is reset, so the list shown after it ends is
// that kind's.
void panel_after_connect(APP_OPTIONS* opts);
// Back to "connect", both tabs usable, and the list of the tab that is on.
void panel_after_disconnect(APP_OPTIONS* opts);
