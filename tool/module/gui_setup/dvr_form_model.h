// What the DVR page and form decide without widgets: the model and connection tables, the
// form's camera-name table, the checks of a save in their order, and the [DVR] texts of
// add, edit and delete. No GTK; GTK main thread only (camera_name_table is shared with
// the form's handlers).
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "tool/language_keys.h"
#include "tool/module/gui_setup/setup_writer.h"

// One row of the form's model list.
struct DvrModelRow {
  const char* shown;       // text of the list row
  const char* written;     // model written to setup.cfg
  const char* channels;    // channel count written
  int cameras;             // cameras offered in the form (camera-name row)
  const char* video_port;  // video port set on choosing it; null: unchanged
};
constexpr int kNumDvrModels = 4;
extern const DvrModelRow kDvrModelRows[kNumDvrModels];
constexpr int kDefaultDvrModelRow = 1;
// Row of a stored model ("TALVE8" is row 0); a model no row names gives the default row.
int dvr_model_row(const char* stored_model);

// Connection modes: row 0 "IP", row 1 host name, rows from 2 the DDNS service.
enum DvrHostMode { kModeIp = 0, kModeName = 1, kModeDdns = 2 };
constexpr const char* kDdnsModeText = "VELKARA DDNS";
constexpr const char* kDdnsServerAddress = "192.0.2.10";
constexpr const char* kDdnsPort = "1800";
// Host type written for a mode row, and the mode row of a stored host type (-1: none).
const char* dvr_host_type(int mode_row);
int dvr_mode_row(const char* host_type);
// Fixed ports of a DVR saved by the form, in [DVR] order; the video port is typed.
constexpr int kFormPorts[DVR_NUM_PORTS] = {3490, 0, 3492, 9205, 9203, 80, 9202};

// The form's working copy of camera names: one row per model row, 16 names each.
extern char camera_name_table[kNumDvrModels][DVR_MAX_CAMERAS][131];
// Row 0: "CHANNEL ALL" and 15 "NULL"; the other rows "CHANNEL %2d" for their cameras and
// "NULL" for the rest.
void init_camera_name_table();
// Copies the stored camera names of `dvr` into the camera-name row `row` (the row of the
// model the edit form shows), all 16 of them, so that a save writes back what was stored
// whatever the channel count says.
void load_dvr_camera_names(const RC_DVR_INFO& dvr, int row);

// The form's fields as the operator left them.
struct DvrFormData {
  bool edit = false;
  std::string old_name;  // edit: the name the DVR had when the form opened
  int model_row = kDefaultDvrModelRow;
  int mode_row = kModeIp;
  std::string name, address, user, password, video_port;
  std::string location, manager, tel, police, fire;
};

// 1 when a field is longer than the form allows (name, user, address, password,
// location, manager, the three numbers, video port), else 0.
int dvr_form_too_long(const DvrFormData& f);
// The first check of a save that fails, in the form's order, or nothing. Texts the
// reader would not give back unchanged fail last, with txt_STR_ERROR.
std::optional<LabelKey> check_dvr_form(const DvrFormData& f, const SetupSnapshot& s);

// The form's [DVR] line, camera names from the model's row of camera_name_table.
std::string dvr_form_line(const DvrFormData& f);
// setup.cfg after adding, editing or deleting; `comment` is the first line's text
// (txt_DVR_WRITE_FORMAT). Edit replaces every DVR named like the old name and renames its
// group member lines. Delete writes the records `keep` (indexes into s.dvr) in that order.
std::string compose_dvr_add(const DvrFormData& f, const SetupSnapshot& s, const char* comment);
std::string compose_dvr_edit(const DvrFormData& f, const SetupSnapshot& s, const char* comment);
std::string compose_dvr_delete(const std::vector<int>& keep, const SetupSnapshot& s,
                               const char* comment);
