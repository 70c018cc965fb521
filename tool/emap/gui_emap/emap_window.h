// Mode "emap": the E-Map window of a DVR or group. GTK main thread only.
#pragma once

constexpr const char* kEmapTitle = "ZOL E-Map";

// Builds and shows the window for the target named (empty: none chosen).
void create_emap_window(const char* target);
