// DVR form decisions without widgets.
#include "tool/module/gui_setup/dvr_form_model.h"

#include <cstdio>
#include <cstring>

#include "client/foundation/config/utils.h"
#include "tool/module/gui_setup/setup_checks.h"

const DvrModelRow kDvrModelRows[kNumDvrModels] = {
    {"MW-1306KB", "TALVE8", "1", 1, "2200"},
    {"MW-2606QTR14", "MW-2606QTR14", "4", 4, "2200"},
    {"MW-2608QTR28", "MW-2608QTR28", "8", 8, nullptr},
    {"MW-2606QA14", "MW-2606QA14", "4", 16, "9010"},
};

char camera_name_table[kNumDvrModels][DVR_MAX_CAMERAS][131];

int dvr_model_row(const char* stored_model) {
  if (!stored_model) return kDefaultDvrModelRow;
  for (int r = 0; r < kNumDvrModels; ++r)
    if (strcmp(stored_model, kDvrModelRows[r].written) == 0) return r;
  return kDefaultDvrModelRow;
}

const char* dvr_host_type(int mode_row) {
  return mode_row == kModeIp ? "IP" : mode_row == kModeName ? "NAME" : "DDNS";
}

int dvr_mode_row(const char* host_type) {
  if (!host_type) return -1;
  if (strcmp(host_type, "IP") == 0) return kModeIp;
  if (strcmp(host_type, "NAME") == 0) return kModeName;
  if (strcmp(host_type, "DDNS") == 0) return kModeDdns;
  return -1;
}

void init_camera_name_table() {
  for (int r = 0; r < kNumDvrModels; ++r)
    for (int c = 0; c < DVR_MAX_CAMERAS; ++c) {
      char* cell = camera_name_table[r][c];
      if (r == 0)
        snprintf(cell, sizeof camera_name_table[r][c], "%s", c == 0 ? "CHANNEL ALL" : "NULL");
      else if (c < kDvrModelRows[r].cameras)
        snprintf(cell, sizeof camera_name_table[r][c], "CHANNEL %2d", c + 1);
      else
        snprintf(cell, sizeof camera_name_table[r][c], "NULL");
    }
}

void load_dvr_camera_names(const RC_DVR_INFO& dvr, int row) {
  if (row < 0 || row >= kNumDvrModels) return;
  for (int c = 0; c < DVR_MAX_CAMERAS; ++c) {
    // An empty slot (a line that ended early) keeps the row's default name.
    if (!dvr.camera_name[c][0]) continue;
    char* cell = camera_name_table[row][c];
    memset(cell, 0, sizeof camera_name_table[row][c]);
    copy_field(cell, sizeof camera_name_table[row][c], dvr.camera_name[c]);
  }
}

int dvr_form_too_long(const DvrFormData& f) {
  return any_too_long({{f.name, 130},
                       {f.user, 130},
                       {f.address, 128},
                       {f.password, 16},
                       {f.location, 130},
                       {f.manager, 130},
                       {f.tel, 32},
                       {f.police, 32},
                       {f.fire, 32},
                       {f.video_port, 5}});
}

namespace {

// Every text of the form loads back unchanged; the camera names are those the save writes.
bool form_texts_storable(const DvrFormData& f) {
  const unsigned q = kNoQuote | kNotEmpty;
  if (!is_storable_text(f.name, kNoEquals | kNoBracket | kNoTrailingBlank) ||
      !is_storable_text(f.address, kNoComma) || !is_storable_text(f.user, kNoComma) ||
      !is_storable_text(f.password) || !is_storable_text(f.location, q) ||
      !is_storable_text(f.manager, q) || !is_storable_text(f.tel, q) ||
      !is_storable_text(f.police, q) || !is_storable_text(f.fire, q))
    return false;
  for (const auto& cam : camera_name_table[f.model_row])
    if (!is_storable_text(cam, kNoComma | kNotEmpty)) return false;
  return true;
}

}  // namespace

std::optional<LabelKey> check_dvr_form(const DvrFormData& f, const SetupSnapshot& s) {
  if (dvr_form_too_long(f)) return LabelKey("txt_STR_ERROR");
  if (f.video_port.empty()) return LabelKey("txt_NO_VIDEO_STREAM");
  if (f.name.empty()) return LabelKey("txt_NO_DVR_NAME");
  if (f.address.empty()) return LabelKey("txt_NO_IP");
  if (!f.edit && f.user.empty()) return LabelKey("txt_NO_USERNAME");
  if (f.location.empty()) return LabelKey("txt_INSERT_LOCATION");
  if (f.manager.empty())
    return f.edit ? LabelKey("txt_NO_MANAGERNAME") : LabelKey("txt_NO_MGR_NAME");
  if (f.tel.empty()) return f.edit ? LabelKey("txt_NO_TELNO") : LabelKey("txt_NO_TEL_NO");
  if (f.police.empty()) return f.edit ? LabelKey("txt_NO_POLICENO") : LabelKey("txt_NO_POLICE_NO");
  if (f.fire.empty())
    return f.edit ? LabelKey("txt_NO_FIREDEPTNO") : LabelKey("txt_NO_FIREDEPT_NO");
  if (f.edit && f.user.empty()) return LabelKey("txt_NO_USERNAME");
  for (const RC_DVR_INFO& d : s.dvr) {
    if (f.edit && f.old_name == d.name) continue;
    if (f.name == d.name) return LabelKey("txt_DVR_EXIST");
  }
  for (const SetupGroup& g : s.group)
    if (f.name == g.name) return LabelKey("txt_DVR_UNIQUE");
  if (!is_valid_port_text(f.video_port.c_str())) return LabelKey("txt_ERROR_VIDEO");
  if (f.mode_row == kModeIp && !is_valid_ipv4(f.address.c_str())) return LabelKey("txt_ERROR_IP");
  if (!is_digit_string(f.tel.c_str())) return LabelKey("txt_ERROR_TEL_NO");
  if (!is_digit_string(f.police.c_str())) return LabelKey("txt_ERROR_POLICE_NO");
  if (!is_digit_string(f.fire.c_str())) return LabelKey("txt_ERROR_FIREDEPT_NO");
  if (!form_texts_storable(f)) return LabelKey("txt_STR_ERROR");
  return std::nullopt;
}

std::string dvr_form_line(const DvrFormData& f) {
  const DvrModelRow& m = kDvrModelRows[f.model_row];
  std::string out;
  appendf(out, "%s=%s,%s,%d,%s,%d,%d,%d,%d,%d,%s,%s,\"%s\",\"%s\",\"%s\",\"%s\",\"%s\"",
          f.name.c_str(), m.written, f.address.c_str(), kFormPorts[DVR_PORT_CONNECTION],
          f.video_port.c_str(), kFormPorts[DVR_PORT_LISTENING], kFormPorts[DVR_PORT_CONTROL],
          kFormPorts[DVR_PORT_PLAYBACK], kFormPorts[DVR_PORT_HTTP], kFormPorts[DVR_PORT_AUDIO],
          dvr_host_type(f.mode_row), m.channels, f.location.c_str(), f.manager.c_str(),
          f.tel.c_str(), f.police.c_str(), f.fire.c_str());
  for (const auto& cam : camera_name_table[f.model_row]) appendf(out, ",%s", cam);
  std::string password = uuencode_line(f.password.c_str());
  appendf(out, ",%s,%s\n", f.user.c_str(), password.c_str());
  return out;
}

std::string compose_dvr_add(const DvrFormData& f, const SetupSnapshot& s, const char* comment) {
  std::string dvr;
  append_dvr_head(dvr, comment, static_cast<int>(s.dvr.size()) + 1);
  for (size_t i = 0; i < s.dvr.size(); ++i) append_snapshot_dvr_line(dvr, s, i);
  dvr += dvr_form_line(f);
  return compose_setup_cfg(s, {.dvr = dvr});
}

std::string compose_dvr_edit(const DvrFormData& f, const SetupSnapshot& s, const char* comment) {
  std::string dvr;
  append_dvr_head(dvr, comment, static_cast<int>(s.dvr.size()));
  for (size_t i = 0; i < s.dvr.size(); ++i) {
    if (f.old_name == s.dvr[i].name)
      dvr += dvr_form_line(f);
    else
      append_snapshot_dvr_line(dvr, s, i);
  }
  std::string group;
  append_group_head(group, static_cast<int>(s.group.size()));
  int k = 0;
  for (const SetupGroup& g : s.group) {
    std::vector<std::string> member = g.member;
    for (std::string& m : member)
      if (m == f.old_name) m = f.name;
    append_group(group, ++k, g.name, member, g.mask);
  }
  return compose_setup_cfg(s, {.dvr = dvr, .group = group});
}

std::string compose_dvr_delete(const std::vector<int>& keep, const SetupSnapshot& s,
                               const char* comment) {
  std::string body;
  int written = 0;
  for (int i : keep) {
    if (i < 0 || static_cast<size_t>(i) >= s.dvr.size()) continue;
    append_snapshot_dvr_line(body, s, static_cast<size_t>(i));
    ++written;
  }
  std::string dvr;
  append_dvr_head(dvr, comment, written);
  dvr += body;
  return compose_setup_cfg(s, {.dvr = dvr});
}
