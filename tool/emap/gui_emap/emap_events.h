// The E-Map's event watcher and the client spot windows it starts.
#pragma once

// Ends every spot window this process started. Returns 0. GTK main thread.
int kill_child_processes();
