// What the group page and form decide without widgets: camera labels, the translation
// between the selected-camera list and channel masks, the checks of a save and the
// [GROUP] texts of add, edit and delete. No GTK; GTK main thread only (labels come from
// the language lookup).
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "tool/language_keys.h"
#include "tool/module/gui_setup/setup_writer.h"

// Most rows of the selected-camera list that ADD and ADDALL fill.
constexpr int kMaxGroupCameras = 36;

// Label of camera `camera` (1-based) in the camera tree: the text of txt_CAMERAALL for a
// DVR of protocol 'S', else "<txt_CAMERANO> <camera>".
std::string camera_tree_label(uint8_t protocol, int camera);
// Label in the selected-camera list: "<DVR name>:<tree label>".
std::string camera_list_label(const std::string& dvr_name, uint8_t protocol, int camera);

// Members and masks that the rows of the selected-camera list give against the DVR table,
// members in [DVR] order; rows that name no current camera add nothing.
struct GroupMembers {
  std::vector<std::string> member;
  std::vector<uint32_t> mask;
};
GroupMembers group_members_from_rows(const std::vector<std::string>& rows, const SetupSnapshot& s);
// Rows of the edit form for a stored group: per member, its cameras from the highest mask
// bit down.
std::vector<std::string> group_rows_from_masks(const SetupGroup& g);

struct GroupFormData {
  bool edit = false;
  std::string old_name;  // edit: the name the group had when the form opened
  std::string name;
  std::vector<std::string> rows;  // the selected-camera list
};
// The first check of a save that fails, in the form's order, or nothing. A list whose rows
// match no current camera fails with txt_NO_CAMS: such a group could not be loaded.
std::optional<LabelKey> check_group_form(const GroupFormData& f, const SetupSnapshot& s);

// setup.cfg after adding or editing the group, or after a delete that keeps the groups
// `keep` (indexes into s.group) in that order.
std::string compose_group_add(const GroupFormData& f, const SetupSnapshot& s);
std::string compose_group_edit(const GroupFormData& f, const SetupSnapshot& s);
std::string compose_group_delete(const std::vector<int>& keep, const SetupSnapshot& s);
