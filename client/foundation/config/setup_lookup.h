// Queries over the loaded setup tables: skin and language files, login and rights, and
// targets (a DVR or a group, DVRs searched first). No state of its own; names compare
// exactly (case-sensitive, whole text). Called from the window loop and the connection code;
// each call reads one published generation of the tables (see setup_config.h).
#pragma once

#include <cstddef>
#include <cstdint>

#include "client/foundation/config/setup_config.h"

struct APP_OPTIONS;

// Path of the [RESOLUTION] entry named `resolution` (null: the [SYSTEM] resolution);
// "skin.cfg" when nothing matches.
const char* get_skin_file(const char* resolution);
// Path of the [LANGUAGE] entry named `language` (null: the [SYSTEM] language); nullptr when
// nothing matches.
const char* get_language_file(const char* language);

// Rights word (low 16 bits of rights_mask1) of the first account matching both exactly;
// 0 when none does.
uint16_t check_login(const char* user, const char* password);
// 1 when some account matches user and password exactly, else 0.
int is_valid_user(const char* user, const char* password);
// 1 when the operator's rights word allows action `id` (a main-window widget id), else 0.
uint8_t has_right(const APP_OPTIONS* opts, int id);
uint8_t has_right_word(uint16_t rights, int id);

// 1 for a DVR, the member count for a group, 0 for neither.
int get_target_size(const char* name);
// num_video of the DVR; -1 for a null name, -2 when no DVR has that name.
int get_dvr_num_video(const char* name);
// The third channel-count byte (num_video2) of the DVR; same failures.
int get_dvr_num_video2(const char* name);
// DVRs first, then groups; on a match stores 0/1 and the index, else leaves both alone.
void find_target(const char* name, int* is_group, int* index);
RC_DVR_INFO* find_dvr_info(const char* name);
RC_GROUP_INFO* find_group_info(const char* name);
// Copies the DVR's (is_group 0) or group's name at `index` into out; nothing when the
// index is outside the table.
void get_target_name(char* out, size_t cap, int is_group, int index);
