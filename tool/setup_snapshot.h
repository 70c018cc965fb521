// Copies of the configuration store's tables for the tool's pages and writers, so that no
// pointer into a table generation is held across the next load. No GTK; GTK main thread.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "client/foundation/config/setup_config.h"

// One group as the tool needs it.
struct SetupGroup {
  std::string name;
  std::vector<std::string> member;       // member DVR names, member order
  std::vector<uint8_t> member_protocol;  // their protocol letters
  std::vector<uint32_t> mask;            // bit k: camera k+1 of that member
};

// Copies of everything the last load of the store holds.
struct SetupSnapshot {
  std::vector<RC_DVR_INFO> dvr;
  // Per DVR (when given): its line as the file holds it when the record could not take all
  // of it (get_damaged_dvr_line), else empty.
  std::vector<std::string> dvr_damaged_line;
  std::vector<SetupGroup> group;
  std::vector<RC_USER_INFO> user;
  RC_SYSTEM_INFO sys{};
  RC_EMAIL_INFO mail{};
  std::vector<RC_FILE_INFO> language;
  std::vector<RC_FILE_INFO> resolution;
};

// The published tables, copied under the store's read lock. Every DVR copy and member
// carries the tool's protocol letter (tool_protocol_code), not the store's.
SetupSnapshot take_setup_snapshot();

// The protocol letter the setup tool gives a model text: the store's letter of a known
// model, and 'S' for any other text (the client refuses to connect such a DVR; the tool
// shows and groups it as a single-stream DVR).
uint8_t tool_protocol_code(const char* model);

// The configuration file of the tool (relative to the working directory).
constexpr const char* kSetupPath = "setup.cfg";

// Reloads setup.cfg (printing "load_setup_info() failed.\n" on failure; the store keeps
// what it could read) and releases the table generations the reload replaced. Returns the
// load's code.
int reload_setup_cfg();
// The code of the last reload_setup_cfg (0 before the first). After a failed load the
// tables mix this file's sections with an earlier load's, so nothing is saved from them.
int last_setup_load();
