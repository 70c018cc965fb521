// The E-Map configuration files: emap.cfg (the maps of every DVR and group with their
// markers), device.cfg (where each marker picture lies in the marker sheets) and
// remote-emap-buttons.cfg (the E-Map window's button pictures). Readers, the tables they
// fill, the one emap.cfg writer and sync_emap_cfg. No GTK.
//
// The tables are module state of the GTK main thread: a load replaces them whole, and the
// pointers the accessors hand out are valid until the next load of the same file.
// emap.cfg is only ever written whole through rewrite_emap_cfg: the tables with one change,
// composed by compose_emap_cfg and saved all or nothing. An existing emap.cfg that does not
// load is never rewritten, nor is it brought in line with a setup.cfg that does not load,
// so its maps cannot be lost to empty tables.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

struct SetupSnapshot;

// Limits of the format.
constexpr int kEmapMaxSections = 1024;       // DVR sections, and group sections, each
constexpr int kEmapMaxMembers = 130;         // member DVRs of a group
constexpr size_t kEmapMaxDeviceText = 1026;  // characters of one marker list
constexpr const char* kEmapPath = "emap.cfg";

// One marker on a map: position in map pixels, device number (1-based) and, on a group
// map, the 1-based member number (0 on a DVR map).
struct marker_item {
  int32_t x, y, ch, dvr;
};

struct emap_map_info {
  char map_image[255];  // picture path as stored (".\emap\floor1.jpg")
  char map_name[130];
  char map_devices[1027];  // the marker list as read
  std::vector<marker_item> camera_info, sensor_info, relay_info;
};

struct emap_info {
  char dvr_name[132];
  std::vector<emap_map_info> map;
};

struct emap_group_info {
  char group_name[132];
  std::vector<std::string> dvr_name;     // member DVR names, at most kEmapMaxMembers
  std::vector<uint32_t> channel_filter;  // one per member
  std::vector<emap_map_info> map;
};

struct EmapTables {
  std::vector<emap_info> dvr;
  std::vector<emap_group_info> group;
};

// Reads `path` and replaces both tables. 0; -1 stat, -2 open, -3 read, -5 a DVR section,
// -6 a group section or a limit passed. Each failure prints its message; on failure the
// tables are left empty.
int load_emap_info(const char* path);
int get_num_emap_dvr();
int get_num_emap_group();
emap_info* get_emap_info();
emap_group_info* get_emap_group_info();
// A copy of both tables, for a change before a rewrite.
EmapTables copy_emap_tables();
// Both tables as loaded; valid until the next load.
const EmapTables& emap_tables();

// Parses a marker list ("0", or items "x,y,K,dvr,ch" joined by "~~") into the map's three
// arrays; items without all four numbers are skipped.
void parse_map_devices(const char* text, emap_map_info* map);
// Appends the marker list of `map` without line end: cameras, sensors, relays; on a DVR map
// (group_map false) the member field is written as 0. Returns true when no item was
// written (the caller writes "0").
bool print_map_devices(std::string& out, const emap_map_info& map, bool group_map);
// Appends "\nmap_image_<i+1>=...\nmap_name_<i+1>=...\nmap_devices_<i+1>=".
void print_map_entry(std::string& out, const emap_map_info& map, int i);

// The text of emap.cfg for `t`, in table order: DVR sections, "[GROUP]", group sections
// numbered from 1. Member lines of a group come from `members` (the setup.cfg group of the
// same name; none when it has no such group) or, when it is null, from the tables. 0, or
// -1 with the reason in `why` when a limit is passed (more than 1024 sections of a kind,
// more than 130 members, a marker list over 1026 characters) or a text would not read
// back (a DVR named GROUP, a line break in a name or path, a member name that begins with
// '[', which the reader takes for a section).
int compose_emap_cfg(const EmapTables& t, const SetupSnapshot* members, std::string* out,
                     std::string* why);

// Why a DVR of this name cannot have its section in emap.cfg, or null when it can: the
// header "[GROUP]" opens the groups, so a DVR named GROUP would end the DVR sections.
const char* emap_dvr_name_refusal(const std::string& name);
// Why a map name or picture path cannot be stored in emap.cfg, or null when both can: a
// line break would split its line, a tab ends the value, and a leading blank or '=' is
// read as part of the separator.
const char* emap_map_text_refusal(const std::string& name, const std::string& path);

// Loads emap.cfg (a missing file gives empty tables), applies `change` to a copy of the
// tables, writes the file whole and reloads it. 0; -1 an existing file did not load (left
// untouched), -2 a limit passed, -3 the file could not be written (unchanged). `why` gets
// a reason for the operator.
int rewrite_emap_cfg(const std::function<void(EmapTables&)>& change, const SetupSnapshot* members,
                     std::string* why);

// A DVR renamed in setup.cfg: its section and its group member lines take the new name;
// maps, markers and masks stay.
void emap_rename_dvr(EmapTables& t, const std::string& old_name, const std::string& new_name);

// Brings emap.cfg in line with setup.cfg: one section per DVR and group of setup.cfg, in
// its order, with the maps of the section of the same name; member lines and masks from
// setup.cfg; sections of DVRs and groups that setup.cfg no longer has are dropped, new ones
// added empty. Returns rewrite_emap_cfg's code, or -4 when setup.cfg did not load (its
// tables may lack whole sections, which would drop their maps): emap.cfg is then left as
// it is.
int sync_emap_cfg(std::string* why = nullptr);

// ---------------------------------------------------------------------------------------
// Sprite maps: device.cfg and remote-emap-buttons.cfg

struct state_info {
  int32_t x, y, state;
};

struct imgmap_info {
  char name[132];
  int32_t state;  // current state, 1 after loading
  int32_t width, height, x, y;
  char direction[132];
  state_info frame[5];
};

constexpr int kEmapDeviceSheets = 33;   // sheet 0 for DVR maps, sheet s for group member s
constexpr int kEmapDeviceNumbers = 32;  // devices of one kind per sheet
constexpr int kEmapDeviceKinds = 3;     // camera, sensor, relay lines
constexpr int kEmapDeviceEntries = kEmapDeviceKinds * kEmapDeviceNumbers;

// Reads device.cfg into the 33 device tables. 0; -1 stat, -2 open, -3 read, -6 the
// "[EMAP_DEVICE]" section is missing or a line does not parse.
int load_device_cfg(const char* path);
// Table of sheet `sheet` (0..32): kEmapDeviceEntries entries, get_num_device_entries filled;
// entry 32 * kind_line + n - 1 is device n of that kind. Null outside 0..32.
imgmap_info* get_device_table(int sheet);
int get_num_device_entries();

// Reads remote-emap-buttons.cfg. 0; -1 stat, -2 open, -3 read, -5 no "[BUTTONS]" section,
// -6 a line does not parse.
int load_emap_button_cfg(const char* path);
int get_num_emap_buttons();
imgmap_info* get_emap_button_info();

// Frame of `entry` whose state code is `state` (the last such frame), -1 when none.
int find_state_frame(const imgmap_info& entry, int state);
// 1 when frame `frame` of `entry` lies whole inside a sheet of sheet_w x sheet_h pixels,
// so a picture can be cut from it; 0 otherwise (a region the file got wrong).
int sprite_frame_fits(const imgmap_info& entry, int frame, int sheet_w, int sheet_h);

// Path of an image stored in Windows form (".\emap\floor1.jpg"): '\' read as '/'.
std::string emap_file_path(const char* stored);
