// setup.cfg text in the reader's format, and its all-or-nothing save.
#include "tool/module/gui_setup/setup_writer.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "client/foundation/config/utils.h"
#include "platform/system/file_replace.h"

const char* const kDvrCommentLine =
    "#dvr_name=model,ip address,connection,video,listening,"
    "control,playback,http,audio,host type,channels,location,manager name,tel No.,police "
    "station No.,firedept No.,username,password\n";
const char* const kNoBlankLine = "#no blank spaces between items please!\n";

namespace {

// A line the reader must not take for a section header: a text that opens a line (an
// account id, a language or resolution name) could make one of it, and its '[' is then
// written as '('. Texts inside a line are written as they stand, since a header counts only
// as a line of its own (setup_line_header).
std::string not_header(std::string line) {
  if (setup_line_header(line.c_str(), nullptr)) line[line.find('[')] = '(';
  return line;
}

// A DVR name also names group members, whose lines end at any '['.
std::string storable_dvr_name(const char* name) {
  std::string t = name ? name : "";
  for (char& c : t)
    if (c == '[') c = '(';
  return t;
}

}  // namespace

void append_dvr_head(std::string& out, const char* comment, int count) {
  out += comment ? comment : "";
  out += kNoBlankLine;
  out += "[DVR]\n";
  appendf(out, "num_dvr=%d\n", count);
}

void append_dvr_line(std::string& out, const RC_DVR_INFO& d) {
  // The reader takes the fields in order and stops at the first it cannot read; a record
  // read from a short line keeps only that prefix. Its line ends before the first empty
  // text, since an empty text between separators would shift every later field.
  struct Field {
    const char* text;  // null: the number below
    int number;
    bool quoted;
  };
  const Field fields[] = {
      {d.model, 0, false},         {d.ipaddress, 0, false},       {nullptr, d.port[0], false},
      {nullptr, d.port[1], false}, {nullptr, d.port[2], false},   {nullptr, d.port[3], false},
      {nullptr, d.port[4], false}, {nullptr, d.port[5], false},   {nullptr, d.port[6], false},
      {d.host_type, 0, false},     {nullptr, d.num_video, false}, {d.location, 0, true},
      {d.manager, 0, true},        {d.tel_no, 0, true},           {d.police_no, 0, true},
      {d.fire_dept_no, 0, true},
  };
  appendf(out, "%s=", storable_dvr_name(d.name).c_str());
  bool first = true;
  auto text_field = [&](const char* text, bool quoted) {
    if (!text[0]) return false;
    appendf(out, quoted ? "%s\"%s\"" : "%s%s", first ? "" : ",", text);
    first = false;
    return true;
  };
  bool whole = true;
  for (const Field& f : fields) {
    if (f.text) {
      if (!(whole = text_field(f.text, f.quoted))) break;
    } else {
      appendf(out, ",%d", f.number);
    }
  }
  for (int c = 0; whole && c < DVR_MAX_CAMERAS; ++c) whole = text_field(d.camera_name[c], false);
  if (whole && text_field(d.username, false)) {
    // The separator before the password swallows commas, and a 12-byte password's length
    // character is ','. 'l' stands for the same length ((c - 32) & 63) and survives.
    std::string password = uuencode_line(d.password);
    if (!password.empty() && password[0] == ',') password[0] = 'l';
    appendf(out, ",%s", password.c_str());
  }
  out += '\n';
}

void append_snapshot_dvr_line(std::string& out, const SetupSnapshot& s, size_t i) {
  if (i >= s.dvr.size()) return;
  const std::string* kept = i < s.dvr_damaged_line.size() ? &s.dvr_damaged_line[i] : nullptr;
  if (!kept || kept->empty()) {
    append_dvr_line(out, s.dvr[i]);
    return;
  }
  // The rest of the line reads as it did; the name is written as group members name it.
  const size_t name_end = std::min(kept->find_first_of("\t="), kept->size());
  std::string line = storable_dvr_name(kept->substr(0, name_end).c_str());
  line.append(*kept, name_end);
  // Blanks and tabs alone before a '[' would make a section header of the line.
  const size_t first = line.find_first_not_of(" \t");
  if (first != std::string::npos && line[first] == '[') line[first] = '(';
  out += line;
  out += '\n';
}

std::string damaged_dvr_notice(const SetupSnapshot& s) {
  std::string names;
  for (size_t i = 0; i < s.dvr.size() && i < s.dvr_damaged_line.size(); ++i)
    if (!s.dvr_damaged_line[i].empty())
      appendf(names, "%s\"%s\"", names.empty() ? "" : ", ", s.dvr[i].name);
  if (names.empty()) return "";
  return "setup.cfg holds DVR lines that could not be read whole (" + names +
         "). Each is saved as it stands in the file until its DVR is edited.";
}

void append_group_head(std::string& out, int count) {
  out += "\n[GROUP]\n";
  appendf(out, "num_group=%d\n", count);
}

void append_group(std::string& out, int number, const std::string& name,
                  const std::vector<std::string>& member, const std::vector<uint32_t>& mask) {
  appendf(out, "\n[GROUP_%d]\n", number);
  appendf(out, "group_name=%s\n", name.c_str());
  appendf(out, "num_dvr=%d\n", static_cast<int>(static_cast<int8_t>(member.size())));
  for (size_t m = 0; m < member.size() && m < mask.size(); ++m)
    appendf(out, "%s=%X\n", storable_dvr_name(member[m].c_str()).c_str(), mask[m]);
}

void append_user_head(std::string& out, int count) {
  out += "\n[USER]\n";
  appendf(out, "num_user=%d\n", count);
}

void append_user_line(std::string& out, const RC_USER_INFO& u) {
  char hex[16];
  // An empty password (a field that did not decode) is written as the encoded empty line,
  // which reads back empty; nothing at all would shift every later field.
  std::string password = u.password[0] ? uuencode_line(u.password) : "`";
  snprintf(hex, sizeof hex, "%X", u.rights_mask1 & 0xFFFFu);
  std::string mask1 = uuencode_line(hex);
  snprintf(hex, sizeof hex, "%X", u.rights_mask2);
  std::string mask2 = uuencode_line(hex);
  std::string line;
  appendf(line, "%s=%s, %s ,%d, %s , %s ,%s\n", u.user, u.fullname, password.c_str(),
          static_cast<int>(static_cast<int8_t>(u.level & 0xFF)), mask1.c_str(), mask2.c_str(),
          u.note);
  out += not_header(std::move(line));
}

void write_dvr_section(std::string& out, const SetupSnapshot& s) {
  append_dvr_head(out, kDvrCommentLine, static_cast<int>(s.dvr.size()));
  for (size_t i = 0; i < s.dvr.size(); ++i) append_snapshot_dvr_line(out, s, i);
}

void write_group_section(std::string& out, const SetupSnapshot& s) {
  append_group_head(out, static_cast<int>(s.group.size()));
  int k = 0;
  for (const SetupGroup& g : s.group) append_group(out, ++k, g.name, g.member, g.mask);
}

void write_user_section(std::string& out, const SetupSnapshot& s) {
  append_user_head(out, static_cast<int>(s.user.size()));
  for (const RC_USER_INFO& u : s.user) append_user_line(out, u);
}

void write_system_section(std::string& out, const RC_SYSTEM_INFO& y) {
  auto s8 = [](uint8_t v) { return static_cast<int>(static_cast<int8_t>(v)); };
  out += "\n[SYSTEM]\n";
  appendf(out, "num_decoder=%d\n", y.num_decoder);
  appendf(out, "cycle_time=%d\n", y.cycle_time);
  appendf(out, "rec_path=%s\n", y.rec_path);
  appendf(out, "buf_level=%5.2f\n", static_cast<double>(y.buf_level));
  appendf(out, "enable_debug=%d\n", s8(y.enable_debug));
  appendf(out, "enable_log=%d\n", s8(y.enable_log));
  appendf(out, "enable_mail=%d\n", s8(y.enable_mail));
  appendf(out, "log_path=%s\n", y.log_path);
  appendf(out, "enable_alarm=%d\n", s8(y.enable_alarm));
  appendf(out, "max_select=%d\n", y.max_select);
  appendf(out, "motion_wav=%s\n", y.motion_wav);
  appendf(out, "sensor_wav=%s\n", y.sensor_wav);
  appendf(out, "language=%s\n", y.language);
  appendf(out, "resolution=%s\n", y.resolution);
  appendf(out, "watchdog=%d\n", s8(y.watchdog));
  appendf(out, "event_popup_type=%d\n", y.event_popup_type);
  appendf(out, "event_popup_time=%d\n", static_cast<int>(y.event_popup_time));
  appendf(out, "check_update=%d\n", y.check_update);
  appendf(out, "relay_duration=%d\n", static_cast<int>(y.relay_duration));
}

void write_email_section(std::string& out, const RC_EMAIL_INFO& m, const char* delay_text) {
  out += "\n[EMAIL]\n";
  appendf(out, "from=%s\n", m.from);
  appendf(out, "receipient=%s\n", m.receipient);
  appendf(out, "cc=%s\n", m.cc);
  appendf(out, "bcc=%s\n", m.bcc);
  appendf(out, "subject=%s\n", m.subject);
  appendf(out, "attachment=%d\n", static_cast<int>(static_cast<int8_t>(m.attachment)));
  appendf(out, "inline_msg=%s\n", m.inline_msg);
  appendf(out, "replyto=%s\n", m.replyto);
  appendf(out, "username=%s\n", m.username);
  appendf(out, "password=%s\n", m.password);
  appendf(out, "smtpserver=%s\n", m.smtpserver);
  appendf(out, "domain=%s\n", m.domain);
  if (delay_text)
    appendf(out, "delay=%s\n", delay_text);
  else
    appendf(out, "delay=%d\n", static_cast<int>(m.delay));
}

namespace {
void write_file_table(std::string& out, const char* header, const char* count_key,
                      const std::vector<RC_FILE_INFO>& table) {
  appendf(out, "\n%s\n", header);
  appendf(out, "%s=%d\n", count_key, static_cast<int>(table.size()));
  for (const RC_FILE_INFO& f : table) out += not_header(std::string(f.name) + "=" + f.path + "\n");
}
}  // namespace

void write_language_section(std::string& out, const SetupSnapshot& s) {
  write_file_table(out, "[LANGUAGE]", "num_language", s.language);
}

void write_resolution_section(std::string& out, const SetupSnapshot& s) {
  write_file_table(out, "[RESOLUTION]", "num_resolution", s.resolution);
}

std::string compose_setup_cfg(const SetupSnapshot& s, const SetupSections& c) {
  std::string out;
  // clang-format off
  if (c.dvr) out += *c.dvr; else write_dvr_section(out, s);
  if (c.group) out += *c.group; else write_group_section(out, s);
  if (c.user) out += *c.user; else write_user_section(out, s);
  if (c.system) out += *c.system; else write_system_section(out, s.sys);
  if (c.email) out += *c.email; else write_email_section(out, s.mail);
  // clang-format on
  write_language_section(out, s);
  write_resolution_section(out, s);
  return out;
}

std::vector<int> records_after_delete(const std::vector<std::string>& keys,
                                      const std::vector<RowKey>& left,
                                      const std::vector<RowKey>& deleted) {
  auto index_of = [&keys](const RowKey& row) {
    int seen = 0;
    for (size_t i = 0; i < keys.size(); ++i)
      if (keys[i] == row.key && seen++ == row.nth) return static_cast<int>(i);
    return -1;
  };
  std::vector<bool> taken(keys.size(), false);
  for (const RowKey& row : deleted)
    if (int i = index_of(row); i >= 0) taken[static_cast<size_t>(i)] = true;
  std::vector<int> out;
  for (const RowKey& row : left) {
    const int i = index_of(row);
    if (i < 0 || taken[static_cast<size_t>(i)]) continue;
    taken[static_cast<size_t>(i)] = true;
    out.push_back(i);
  }
  for (size_t i = 0; i < keys.size(); ++i)
    if (!taken[i]) out.push_back(static_cast<int>(i));
  return out;
}

int save_setup_cfg(const std::string& text, std::string* why) {
  if (last_setup_load() < 0) {
    if (why) *why = "it could not be read, so it is not rewritten from what was left of it";
    return -5;
  }
  int rc = replace_file(kSetupPath, text, why);
  if (rc != 0) return rc;
  reload_setup_cfg();
  return 0;
}
