// Mode "browse": a chooser of the client's recorded files. GTK main thread only.
#pragma once

// Builds and shows the browser window; OK, Cancel or closing it ends the main loop.
// Returns 0.
int create_browse_window();
