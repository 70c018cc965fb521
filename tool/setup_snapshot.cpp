// Copies of the configuration store's tables.
#include "tool/setup_snapshot.h"

#include <cstdio>

uint8_t tool_protocol_code(const char* model) {
  const uint8_t code = get_protocol_code(model);
  return code == PROTOCOL_NONE ? uint8_t{PROTOCOL_S} : code;
}

SetupSnapshot take_setup_snapshot() {
  SetupSnapshot s;
  auto lock = setup_read_lock();
  const RC_DVR_INFO* dvr = get_dvr_table();
  s.dvr.assign(dvr, dvr + get_num_dvr());
  for (RC_DVR_INFO& d : s.dvr) d.protocol = tool_protocol_code(d.model);
  for (int i = 0; i < get_num_dvr(); ++i) {
    const char* line = get_damaged_dvr_line(i);
    s.dvr_damaged_line.emplace_back(line ? line : "");
  }
  const RC_GROUP_INFO* group = get_group_table();
  for (int i = 0; i < get_num_group(); ++i) {
    SetupGroup g;
    g.name = group[i].name;
    for (int m = 0; m < group[i].num_dvr && group[i].dvr_info && group[i].channel_filter; ++m) {
      g.member.emplace_back(group[i].dvr_info[m].name);
      g.member_protocol.push_back(tool_protocol_code(group[i].dvr_info[m].model));
      g.mask.push_back(group[i].channel_filter[m]);
    }
    s.group.push_back(std::move(g));
  }
  const RC_USER_INFO* user = get_user_table();
  s.user.assign(user, user + get_num_user());
  copy_system_info(&s.sys);
  copy_email_info(&s.mail);
  const RC_FILE_INFO* lang = get_language_table();
  s.language.assign(lang, lang + get_num_language());
  const RC_FILE_INFO* reso = get_resolution_table();
  s.resolution.assign(reso, reso + get_num_resolution());
  return s;
}

namespace {
int last_load_rc = 0;
}

int last_setup_load() { return last_load_rc; }

int reload_setup_cfg() {
  int rc = load_setup_info(kSetupPath);
  last_load_rc = rc;
  if (rc < 0) printf("load_setup_info() failed.\n");
  free_replaced_setup_info();
  return rc;
}
