// What the E-Map windows decide without GTK: marker hit tests, the markers a DVR event
// makes blink, the spot window's command line, the device numbers offered for placement,
// and the map and marker changes that the editing dialogs write through rewrite_emap_cfg.
// No GTK; GTK main thread (or the watcher under the GDK lock), like the tables it reads.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "tool/emap/emap_config.h"

struct EVENT_NOTICE;
struct SetupSnapshot;

// Marker kinds in the order of device.cfg's lines and of a marker list.
enum EmapKind : int { EMAP_CAMERA = 0, EMAP_SENSOR = 1, EMAP_RELAY = 2 };
constexpr char kEmapKindLetter[3] = {'C', 'S', 'R'};

// The device entry of a marker: entry kind * 32 + ch - 1 of sheet dvr. -1 when the number
// or the member lies outside the 32 devices and 33 sheets (such a marker has no picture).
int marker_entry(int kind, const marker_item& m);

// A marker under a point.
struct MarkerHit {
  int kind = -1;   // EmapKind
  int dvr = 0;     // member number on a group map, 0 on a DVR map
  int ch = 0;      // device number, 1-based
  int sheet = 0;   // marker sheet (= dvr)
  int entry = -1;  // device entry index in that sheet
};

// 1 when (x, y) lies on the device-table entry `e` drawn with its centre at (mx, my):
// mx - w/2 <= x <= mx + w/2, likewise for y (integer halves).
int marker_covers(const imgmap_info& e, int mx, int my, int x, int y);
// The hover rule, one pixel further right and down: e.x - w/2 + 1 <= x <= e.x + 1 + w/2.
int device_covers(const imgmap_info& e, int x, int y);

// The first marker, over the DVR sections and then the groups named `target`, on their
// maps named `map_name` (cameras, sensors, relays in stored order), whose device entry
// covers (x, y). Sizes come from the loaded device tables. 1 with *hit filled, else 0.
int find_marker_in(const EmapTables& t, const std::string& target, const std::string& map_name,
                   int x, int y, MarkerHit* hit);

// A marker that a DVR event turns to its alarm picture: device entry `entry` of `sheet`.
struct AlarmSpot {
  int sheet;
  int entry;
};
// The markers an event notice makes blink. `start_target` is the command-line target,
// `shown_target` and `shown_map` what the window shows; `num_video` and `num_sensor` the
// notice's DVR's camera and sensor counts. *found is false when the notice's DVR is neither
// the start target nor a member of it. Only channels below both the count and 32 count, and
// nothing blinks unless the shown map is one of the start target's.
std::vector<AlarmSpot> notice_alarms(const EmapTables& t, const std::string& start_target,
                                     const std::string& shown_target, const std::string& shown_map,
                                     const EVENT_NOTICE& n, int num_video, int num_sensor,
                                     bool* found);

// The member DVR whose camera a click on a group map starts: the name of member `dvr`
// (1-based) of the first group named `target`; "" when it has no such member.
std::string group_member_name(const EmapTables& t, const std::string& target, int dvr);

// The argument vector of a spot window of channel c (0-based) of `dvr`:
// <vigilo> -A<dvr> -k -e -v<1<<c> -w0,0 -u<user>,<password> -m2. Empty for c outside 0..31.
std::vector<std::string> spot_window_argv(const std::string& vigilo, const std::string& dvr, int c,
                                          const char* user, const char* password);

// The rows of the number combo of the placement dialog: "<label> n" for n = 1..channels of
// DVR `target`, or for a group "DVR<m>_<label><c>" for every member m and channel c in its
// mask below its channel count.
std::vector<std::string> device_number_items(const SetupSnapshot& s, const std::string& target,
                                             const char* number_label);
// The member and channel of an item: for a DVR item member 0 and channel row + 1; for a
// group item the text split at '_' and '.', the member after "DVR" in the first piece and
// the channel in the third. 0, or -1 when the text does not read.
int parse_device_number_item(const std::string& item, int row, bool group, int* member, int* ch);

// ---------------------------------------------------------------- map and marker changes
// Each check returns "" when the change may go ahead, else the text the Error dialog shows.

// A map name or picture already used by another map of the target (`old_name`, when not
// null, is the edited map, which is skipped).
std::string check_map_free(const EmapTables& t, const std::string& target, const std::string& name,
                           const std::string& path, const char* old_name, const char* exist_text);
void add_map(EmapTables& t, const std::string& target, const std::string& name,
             const std::string& path);
void edit_map(EmapTables& t, const std::string& target, const std::string& old_name,
              const std::string& name, const std::string& path);
void delete_map(EmapTables& t, const std::string& target, const std::string& name);

// The device (kind, member, number) already stands on a map of the target.
std::string check_device_free(const EmapTables& t, const std::string& target, int kind, int dvr,
                              int ch, const char* kind_label, const char* exist_text);
// Places the device at (x, y) on the target's map `map_name`: in place of the marker `hit`
// when given, else as a new marker at the end of its kind.
void place_marker(EmapTables& t, const std::string& target, const std::string& map_name,
                  const MarkerHit* hit, int kind, int dvr, int ch, int x, int y);
// Removes the marker `hit` from the target's map `map_name`.
void remove_marker(EmapTables& t, const std::string& target, const std::string& map_name,
                   const MarkerHit& hit);
