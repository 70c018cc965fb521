// Lookups over the published setup tables: files, login, rights and targets.
#include "client/foundation/config/setup_lookup.h"

#include <cstring>

#include "client/foundation/config/app_options.h"
#include "client/foundation/config/utils.h"

namespace {

bool same(const char* a, const char* b) { return a && b && strcmp(a, b) == 0; }

// Each lookup reads the table and its count under the shared lock, so both come from the
// same load even while the window loop publishes a new one.
template <typename Fn>
auto with_tables(Fn fn) {
  auto lock = setup_read_lock();
  return fn();
}

const char* find_file(const RC_FILE_INFO* table, int count, const char* name) {
  for (int i = 0; i < count; ++i)
    if (same(table[i].name, name)) return table[i].path;
  return nullptr;
}

}  // namespace

const char* get_skin_file(const char* resolution) {
  return with_tables([&]() -> const char* {
    const char* name = resolution;
    RC_SYSTEM_INFO sys;
    if (!resolution) {
      copy_system_info(&sys);
      name = sys.resolution;
    }
    const char* path = find_file(get_resolution_table(), get_num_resolution(), name);
    return path ? path : "skin.cfg";
  });
}

const char* get_language_file(const char* language) {
  return with_tables([&]() -> const char* {
    const char* name = language;
    RC_SYSTEM_INFO sys;
    if (!language) {
      copy_system_info(&sys);
      name = sys.language;
    }
    return find_file(get_language_table(), get_num_language(), name);
  });
}

uint16_t check_login(const char* user, const char* password) {
  return with_tables([&]() -> uint16_t {
    const RC_USER_INFO* t = get_user_table();
    for (int i = 0, n = get_num_user(); i < n; ++i)
      if (same(t[i].user, user) && same(t[i].password, password))
        return static_cast<uint16_t>(t[i].rights_mask1 & 0xFFFF);
    return 0;
  });
}

int is_valid_user(const char* user, const char* password) {
  return with_tables([&]() -> int {
    const RC_USER_INFO* t = get_user_table();
    for (int i = 0, n = get_num_user(); i < n; ++i)
      if (same(t[i].user, user) && same(t[i].password, password)) return 1;
    return 0;
  });
}

uint8_t has_right_word(uint16_t rights, int id) {
  int bit = -1;
  switch (id) {
    case 3: bit = 0; break;   // setup
    case 4: bit = 1; break;   // search
    case 39: bit = 2; break;  // emap
    case 44: bit = 3; break;  // browse
    case 61: bit = 4; break;  // dvrsetup
    case 43: bit = 6; break;  // record
    case 27:
    case 28: bit = 7; break;   // spotout1, spotout2
    case 121: bit = 8; break;  // log_view
    case 26: bit = 9; break;   // snapshot
    default:
      if (id >= 70 && id <= 95) bit = 5;  // PTZ controls
      break;
  }
  if (bit < 0) return 1;
  return (rights >> bit) & 1u;
}

uint8_t has_right(const APP_OPTIONS* opts, int id) {
  return has_right_word(opts ? opts->rights : 0, id);
}

int get_target_size(const char* name) {
  if (!name) return 0;
  return with_tables([&]() -> int {
    const RC_DVR_INFO* d = get_dvr_table();
    for (int i = 0, n = get_num_dvr(); i < n; ++i)
      if (same(d[i].name, name)) return 1;
    const RC_GROUP_INFO* g = get_group_table();
    for (int i = 0, n = get_num_group(); i < n; ++i)
      if (same(g[i].name, name)) return g[i].num_dvr;
    return 0;
  });
}

namespace {
int dvr_count_field(const char* name, bool third) {
  if (!name) return -1;
  return with_tables([&]() -> int {
    const RC_DVR_INFO* d = get_dvr_table();
    for (int i = 0, n = get_num_dvr(); i < n; ++i)
      if (same(d[i].name, name)) return third ? d[i].num_video2 : d[i].num_video;
    return -2;
  });
}
}  // namespace

int get_dvr_num_video(const char* name) { return dvr_count_field(name, false); }
int get_dvr_num_video2(const char* name) { return dvr_count_field(name, true); }

void find_target(const char* name, int* is_group, int* index) {
  if (!name) return;
  with_tables([&]() {
    const RC_DVR_INFO* d = get_dvr_table();
    for (int i = 0, n = get_num_dvr(); i < n; ++i)
      if (same(d[i].name, name)) {
        if (is_group) *is_group = 0;
        if (index) *index = i;
        return 0;
      }
    const RC_GROUP_INFO* g = get_group_table();
    for (int i = 0, n = get_num_group(); i < n; ++i)
      if (same(g[i].name, name)) {
        if (is_group) *is_group = 1;
        if (index) *index = i;
        return 0;
      }
    return 0;
  });
}

RC_DVR_INFO* find_dvr_info(const char* name) {
  if (!name) return nullptr;
  return with_tables([&]() -> RC_DVR_INFO* {
    RC_DVR_INFO* d = get_dvr_table();
    for (int i = 0, n = get_num_dvr(); i < n; ++i)
      if (same(d[i].name, name)) return &d[i];
    return nullptr;
  });
}

RC_GROUP_INFO* find_group_info(const char* name) {
  if (!name) return nullptr;
  return with_tables([&]() -> RC_GROUP_INFO* {
    RC_GROUP_INFO* g = get_group_table();
    for (int i = 0, n = get_num_group(); i < n; ++i)
      if (same(g[i].name, name)) return &g[i];
    return nullptr;
  });
}

void get_target_name(char* out, size_t cap, int is_group, int index) {
  if (!out || index < 0) return;
  with_tables([&]() {
    if (!is_group) {
      if (index < get_num_dvr()) copy_field(out, cap, get_dvr_table()[index].name);
    } else {
      if (index < get_num_group()) copy_field(out, cap, get_group_table()[index].name);
    }
    return 0;
  });
}
