// Mode "dvrsetup": the "ZOL DVR Setup" window of one DVR's own settings. GTK main thread.
#pragma once

constexpr const char* kDvrSetupTitle = "ZOL DVR Setup";

// Builds and shows the window for the DVR named (empty when none was given).
void create_dvrsetup_window(const char* dvr_name);
