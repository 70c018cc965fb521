// The setup.cfg writer: the whole file as text from copies of the loaded tables with one
// change, and the save that replaces setup.cfg with it and reloads the store. No GTK.
//
// Every save of the Client Setup window goes through compose_setup_cfg and save_setup_cfg:
// a page builds the text of the one section it changes; every other section is written
// from the snapshot in its canonical form. GTK main thread only (the store's loader and the
// uuencode buffer are not guarded).
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "tool/setup_snapshot.h"
#include "tool/text_format.h"

// The two comment lines that stand before [DVR] when the section writer writes it.
extern const char* const kDvrCommentLine;
extern const char* const kNoBlankLine;

// [DVR] head: the comment text as given (no line end added), the second comment line,
// "[DVR]" and "num_dvr=<count>".
void append_dvr_head(std::string& out, const char* comment, int count);
// One [DVR] line of a record.
void append_dvr_line(std::string& out, const RC_DVR_INFO& d);
// The [DVR] line of s.dvr[i]: the file's own line (its name written as the writer writes
// names) when the record could not take all of it, so no save loses what it held; else
// the record's line.
void append_snapshot_dvr_line(std::string& out, const SetupSnapshot& s, size_t i);
// The text the tool shows before a save that keeps such lines: the DVRs they name and that
// each is kept until it is edited. "" when every line was read whole.
std::string damaged_dvr_notice(const SetupSnapshot& s);
void append_group_head(std::string& out, int count);
// "[GROUP_<number>]", its name, member count and one "name=MASK" line per member.
void append_group(std::string& out, int number, const std::string& name,
                  const std::vector<std::string>& member, const std::vector<uint32_t>& mask);
void append_user_head(std::string& out, int count);
// One [USER] line: id, full name, password, level (low byte, signed), rights mask 1 (low
// 16 bits) and 2 as uuencoded "%X" texts, e-mail.
void append_user_line(std::string& out, const RC_USER_INFO& u);

// The section writers, each appending its section in canonical form.
void write_dvr_section(std::string& out, const SetupSnapshot& s);
void write_group_section(std::string& out, const SetupSnapshot& s);
void write_user_section(std::string& out, const SetupSnapshot& s);
void write_system_section(std::string& out, const RC_SYSTEM_INFO& sys);
// `delay_text` (when given) is written as typed in place of the delay number.
void write_email_section(std::string& out, const RC_EMAIL_INFO& mail,
                         const char* delay_text = nullptr);
void write_language_section(std::string& out, const SetupSnapshot& s);
void write_resolution_section(std::string& out, const SetupSnapshot& s);

// The section texts a save puts in place of the writers' own.
struct SetupSections {
  std::optional<std::string> dvr{}, group{}, user{}, system{}, email{};
};

// The whole setup.cfg: [DVR], [GROUP], [USER], [SYSTEM], [EMAIL], [LANGUAGE], [RESOLUTION].
std::string compose_setup_cfg(const SetupSnapshot& s, const SetupSections& change = {});

// A row of a list page: the key of the record it shows (DVR or group name, account id) and
// which record of that key (0 the first; more only in a file edited by hand).
struct RowKey {
  std::string key;
  int nth = 0;
};
// The records a delete writes, as indexes into `keys` (the keys of the records of a load
// made after the operator's answer, in file order): the record of each row in `left`, in
// that order, then the records that no row shows (another program added them after the
// list was filled) in file order. The records of the rows in `deleted` are left out.
std::vector<int> records_after_delete(const std::vector<std::string>& keys,
                                      const std::vector<RowKey>& left,
                                      const std::vector<RowKey>& deleted);

// Replaces setup.cfg with `text` (all or nothing), then reloads the store and releases the
// table generations the reload replaced. 0, or the negative step of replace_file with the
// file unchanged, or -5 (nothing written) when the last reload of setup.cfg failed; `why`
// gets the reason. A reload that fails after a good write prints
// "load_setup_info() failed.\n" and still returns 0 (the file holds what was saved).
int save_setup_cfg(const std::string& text, std::string* why = nullptr);
