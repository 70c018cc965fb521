// Group form decisions without widgets.
#include "tool/module/gui_setup/group_form_model.h"

#include <algorithm>

#include "tool/language.h"
#include "tool/module/gui_setup/setup_checks.h"

std::string camera_tree_label(uint8_t protocol, int camera) {
  if (protocol == PROTOCOL_S) return get_label_text("txt_CAMERAALL");
  return std::string(get_label_text("txt_CAMERANO")) + " " + std::to_string(camera);
}

std::string camera_list_label(const std::string& dvr_name, uint8_t protocol, int camera) {
  return dvr_name + ":" + camera_tree_label(protocol, camera);
}

GroupMembers group_members_from_rows(const std::vector<std::string>& rows, const SetupSnapshot& s) {
  GroupMembers out;
  for (const RC_DVR_INFO& d : s.dvr) {
    uint32_t mask = 0;
    for (int i = 0; i < d.num_video && i < 32; ++i) {
      std::string label = camera_list_label(d.name, d.protocol, i + 1);
      if (std::find(rows.begin(), rows.end(), label) != rows.end()) mask |= 1u << i;
    }
    if (mask) {
      out.member.emplace_back(d.name);
      out.mask.push_back(mask);
    }
  }
  return out;
}

std::vector<std::string> group_rows_from_masks(const SetupGroup& g) {
  std::vector<std::string> rows;
  for (size_t m = 0; m < g.member.size() && m < g.mask.size(); ++m) {
    uint8_t protocol = m < g.member_protocol.size() ? g.member_protocol[m] : uint8_t{PROTOCOL_NONE};
    for (int k = 31; k >= 0; --k)
      if (g.mask[m] & (1u << k)) rows.push_back(camera_list_label(g.member[m], protocol, k + 1));
  }
  return rows;
}

namespace {

// Index of the stored group an edit replaces: the last one named like the old name.
int edited_index(const GroupFormData& f, const SetupSnapshot& s) {
  int at = -1;
  for (size_t i = 0; i < s.group.size(); ++i)
    if (s.group[i].name == f.old_name) at = static_cast<int>(i);
  return at;
}

}  // namespace

std::optional<LabelKey> check_group_form(const GroupFormData& f, const SetupSnapshot& s) {
  if (f.name.size() > 130) return LabelKey("txt_STR_ERROR");
  if (f.name.empty()) return LabelKey("txt_NO_GNAME");
  if (f.rows.empty()) return LabelKey("txt_NO_CAMS");
  int self = f.edit ? edited_index(f, s) : -1;
  for (size_t i = 0; i < s.group.size(); ++i)
    if (static_cast<int>(i) != self && s.group[i].name == f.name)
      return LabelKey("txt_GROUP_EXIST");
  for (const RC_DVR_INFO& d : s.dvr)
    if (f.name == d.name) return LabelKey("txt_GROUP_UNIQUE");
  if (group_members_from_rows(f.rows, s).member.empty()) return LabelKey("txt_NO_CAMS");
  // The name line is key=value: a leading '=' would be read as part of the separator; a
  // '[' would end the member lines of emap.cfg's group section.
  if (!is_storable_text(f.name, kNoLeadingEquals | kNoBracket)) return LabelKey("txt_STR_ERROR");
  return std::nullopt;
}

std::string compose_group_add(const GroupFormData& f, const SetupSnapshot& s) {
  std::string group;
  append_group_head(group, static_cast<int>(s.group.size()) + 1);
  int k = 0;
  for (const SetupGroup& g : s.group) append_group(group, ++k, g.name, g.member, g.mask);
  GroupMembers m = group_members_from_rows(f.rows, s);
  append_group(group, ++k, f.name, m.member, m.mask);
  return compose_setup_cfg(s, {.group = group});
}

std::string compose_group_edit(const GroupFormData& f, const SetupSnapshot& s) {
  std::string group;
  append_group_head(group, static_cast<int>(s.group.size()));
  GroupMembers m = group_members_from_rows(f.rows, s);
  int k = 0;
  for (const SetupGroup& g : s.group) {
    if (g.name == f.old_name)
      append_group(group, ++k, f.name, m.member, m.mask);
    else
      append_group(group, ++k, g.name, g.member, g.mask);
  }
  return compose_setup_cfg(s, {.group = group});
}

std::string compose_group_delete(const std::vector<int>& keep, const SetupSnapshot& s) {
  std::string body;
  int k = 0;
  for (int i : keep) {
    if (i < 0 || static_cast<size_t>(i) >= s.group.size()) continue;
    const SetupGroup& g = s.group[static_cast<size_t>(i)];
    append_group(body, ++k, g.name, g.member, g.mask);
  }
  std::string group;
  append_group_head(group, k);
  group += body;
  return compose_setup_cfg(s, {.group = group});
}
